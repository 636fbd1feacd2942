#pragma once
// The graphics flags, shared by the driver model (graphics.h), the platform
// seam (gl_platform.h) and the programs that open graphics.

#include <cstdint>

// Graphics flags: 2 back buffer, 4 alpha, 8 depth, 16 stencil, 32 accumulation.
enum : int32_t {
    GFX_BACKBUFFER = 2,
    GFX_ALPHABUFFER = 4,
    GFX_DEPTHBUFFER = 8,
    GFX_STENCILBUFFER = 16,
    GFX_ACCUMBUFFER = 32,
};
