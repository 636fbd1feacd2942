#pragma once
// The platform seam under the OpenGL driver: windows and GL contexts as the
// graphics layer sees them. Neutral on purpose: no Xlib, GLX or Win32 types.
// The X11/GLX layer (graphics/x11/) implements it; a Win32/WGL layer would
// implement the same functions. The graphics manager holds records only as
// opaque handles, so it is tested against a fake of this table.

#include "graphics/graphics_flags.h"

#include <cstdint>
#include <vector>

// One window with its GL context, owned by the platform layer.
struct GLContextRecord;

// A platform window handle passed through the seam (an X Window id, an HWND).
using NativeWindow = uintptr_t;

// What ReadContextSettings reports.
struct GLContextSettings {
    int32_t width = 0, height = 0, depth = 0, hertz = 0, flags = 0;
};

// A display mode as EnumerateDisplayModes reports it.
struct GLDisplayMode {
    int32_t width = 0, height = 0, depth = 0, hertz = 0;
};

// A window of its own (depth 0: on the desktop; else fullscreen) with a context; null on failure.
// Throws TRuntimeError("GLGraphicsDriver failed to set display mode") when no mode fits.
GLContextRecord* CreateWindowContext(int32_t width, int32_t height, int32_t depth, int32_t hertz, int32_t flags);
// A context on a window the caller made; null on failure.
GLContextRecord* AttachWindowContext(NativeWindow window, int32_t flags);
// Deletes the context (and the window, when the layer made it); unknown records are ignored.
void DestroyWindowContext(GLContextRecord* record);
// Makes record's context current (null: none); nothing happens when it already is.
void MakeContextCurrent(GLContextRecord* record);
// The record's settings; an attached window reports its current client size.
GLContextSettings ReadContextSettings(GLContextRecord* record);
// Swaps the current record's buffers; sync != 0 waits for the vertical blank.
void SwapContextBuffers(int32_t sync);
// Up to capacity display modes of the screen, in the order the platform lists them.
std::vector<GLDisplayMode> EnumerateDisplayModes(int32_t capacity);
// Sets the swap interval of the current context, where the platform can.
void SetSwapInterval(int32_t interval);
// Why the last CreateWindowContext or AttachWindowContext gave null, as
// "X11: Failed to ..." (empty after a success).
const char* LastWindowContextError();
