#pragma once
// What graphics/web/ files share: the record behind the opaque
// GLContextRecord handle, and the GL emulation's gaps filled per context.
// Only web/ folders and their tests include this header.

#include "graphics/gl_context_record.h"

#include <cstdint>

// One canvas with its WebGL context: the shared fields (width and height
// are the canvas's), then Emscripten's handle and the window's number.
struct GLContextRecord : GLContextRecordBase {
    int glContext = 0;  // Emscripten's GL handle
    int32_t index = 0;  // the window's number for the system's input records
};

// Forgets the fixed-function state the filled-in calls keep (a new context).
void ResetWebGLFill();
