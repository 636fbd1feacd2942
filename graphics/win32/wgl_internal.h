#pragma once
// Internals of the Win32/WGL windows and contexts: the record behind the
// opaque GLContextRecord handle and a small inspection interface for the
// tests of this layer. Only win32/ folders and their tests include this header.

#include "graphics/gl_platform.h"

#include <windows.h>

#include <cstdint>

// Record kinds.
enum : int32_t {
    WGL_RECORD_ATTACHED = 1,    // a context on a window the caller made
    WGL_RECORD_WINDOWED = 2,    // our own window on the desktop
    WGL_RECORD_FULLSCREEN = 3,  // our own window, display mode changed
};

// One window with its WGL context. Records form a list, newest first.
struct GLContextRecord {
    GLContextRecord* next = nullptr;  // list link
    int32_t kind = 0;                 // WGL_RECORD_*
    int32_t width = 0;                // client width in pixels
    int32_t height = 0;               // client height in pixels
    int32_t depth = 0;                // requested colour depth; 0 unless fullscreen
    int32_t hertz = 0;                // requested refresh rate (0 = any)
    int32_t flags = 0;                // graphics flags
    HDC dc = nullptr;                 // GetDC of the window
    HWND window = nullptr;            // the window
    HGLRC glContext = nullptr;        // from wglCreateContext
};

// The window class of our own windows.
extern const char* const kWGLWindowClassName;

// The record's window (null for unknown records).
HWND WGLRecordWindow(GLContextRecord* record);
// Number of records in the list.
int WGLRecordCount();
// Number of SetSwapInterval calls since the process started.
int WGLSwapIntervalCallCount();
// The interval passed to the latest SetSwapInterval call (-1: none yet).
int WGLLastRequestedSwapInterval();
// The window whose display mode is in force (null: the desktop mode).
HWND WGLFullscreenWindow();
// The pixel format request the flags make.
PIXELFORMATDESCRIPTOR WGLPixelFormatRequest(int32_t flags);
