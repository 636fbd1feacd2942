#pragma once
// What every platform layer keeps alike in its window-and-context record: the
// list link, the kind, and the settings ReadContextSettings reports. Each
// layer's GLContextRecord derives from it and adds its own handles
// (graphics/x11/glx_internal.h, graphics/win32/wgl_internal.h). Only platform
// folders and their tests include this header.

#include "graphics/gl_platform.h"

#include <cstdint>

// Record kinds.
enum : int32_t {
    GL_RECORD_ATTACHED = 1,    // a context on a window the caller made
    GL_RECORD_WINDOWED = 2,    // our own window on the desktop
    GL_RECORD_FULLSCREEN = 3,  // our own window, display mode changed
};

// The platform-neutral fields of a record. Records form a list, newest first.
struct GLContextRecordBase {
    GLContextRecord* next = nullptr;  // list link
    int32_t kind = 0;                 // GL_RECORD_*
    int32_t width = 0;                // client width in pixels
    int32_t height = 0;               // client height in pixels
    int32_t depth = 0;                // requested colour depth; 0 unless fullscreen
    int32_t hertz = 0;                // requested refresh rate (0 = any)
    int32_t flags = 0;                // graphics flags

    // The five settings as ReadContextSettings reports them.
    GLContextSettings Settings() const { return GLContextSettings{width, height, depth, hertz, flags}; }
};
