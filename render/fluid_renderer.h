#pragma once
// The world drawn with OpenGL 1.1: sprite mode (additive metaball sprites
// sharpened by squaring the frame twice) or smooth mode (the sampled density
// field as Gouraud-shaded strips), then the walls as light-red squares.
//
// Drawing goes through client vertex arrays, one draw call per primitive
// batch of immediate-mode drawing, with the same vertices, colours and
// texture coordinates, so that the frame is the same pixels.

#include <cstdint>
#include <vector>

#include "render/smooth_fields.h"
#include "sph/sph.h"

// Vertex data of one frame's drawing, ready for the GL.
struct TFluidFrame {
    std::vector<float> spriteVertices;     // 4 corners (x, y) per fluid particle
    std::vector<float> spriteTexCoords;    // the matching (s, t), the same for every sprite
    std::vector<float> stripVertices;      // (x, y) of every strip, strip after strip
    std::vector<float> stripColours;       // (r, g, b, a) of each strip vertex
    std::vector<std::int32_t> stripFirst;  // first vertex of each strip
    std::vector<std::int32_t> stripCount;  // vertex count of each strip
    std::vector<float> squareVertices;     // 4 corners (x, y) per boundary particle
};

// Sprite quads of the world's fluid particles (empty elements skipped).
void BuildSpriteQuads(const TSPH& world, TFluidFrame& frame);
// The smooth-mode strips of the fields, one per pair of sample rows.
void BuildSmoothStrips(const TSmoothFields& fields, TFluidFrame& frame);
// The squares of the world's boundary particles (empty elements skipped).
void BuildBoundarySquares(const TSPH& world, TFluidFrame& frame);

// Draws the sprites with texture particleTex and squares the frame twice.
void DrawSpriteQuads(const TFluidFrame& frame, std::int32_t particleTex);
// Blends the strips over the frame.
void DrawSmoothStrips(const TFluidFrame& frame);
// Draws the boundary squares in opaque light red, the colour left current.
void DrawBoundarySquares(const TFluidFrame& frame);

// The fluid world with its renderer.
class TRenderedSPH : public TSPH {
public:
    // Draws the world into the back buffer: sprite mode when NiceRender is 0,
    // else smooth mode, then the boundary squares. Needs the 800 x 600
    // projection, the alpha test (greater than 0) and ParticleTex; leaves
    // blending and texturing off and the colour (1, 0.5, 0.5, 1).
    void Render() override;
    // The lane set of the smooth field's sums (see TSmoothFieldMaker::SetLanes).
    bool SetFieldLanes(TLaneSet lanes) { return state_.fields.SetLanes(lanes); }

private:
    // Working memory of the last frame, reused by the next.
    struct RenderState {
        TSmoothFieldMaker fields;
        TFluidFrame frame;
    } state_;
};
