#pragma once
// The fluid renderer written out plainly: the smooth-mode sampling as one loop
// per sample over its nine neighbour cells, and the drawing in immediate mode.
// Slow on purpose; the suites and render-bench hold the renderer against it.

#include <GL/gl.h>

#include "render/smooth_fields.h"
#include "sph/sph.h"

// The smooth-mode fields, sample by sample.
void LiteralSmoothFields(const TSPH& world, TSmoothFields& fields);

// The whole frame of Render (mode, then the boundary squares) with
// glBegin/glEnd, using the world's ParticleTex.
void LiteralRender(const TSPH& world);

// A 64 x 64 metaball sprite as an RGBA texture with its full mipmap chain,
// each level a 2 x 2 box average of the one above. The binding is restored.
GLuint MakeParticleTexture();
