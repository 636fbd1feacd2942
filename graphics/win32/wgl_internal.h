#pragma once
// Internals of the Win32/WGL windows and contexts: the record behind the
// opaque GLContextRecord handle and a small inspection interface for the
// tests of this layer. Only win32/ folders and their tests include this header.

#include "graphics/gl_context_record.h"

#include <windows.h>

#include <cstdint>

// One window with its WGL context: the shared fields, then the Win32 and WGL handles.
struct GLContextRecord : GLContextRecordBase {
    HDC dc = nullptr;           // GetDC of the window
    HWND window = nullptr;      // the window
    HGLRC glContext = nullptr;  // from wglCreateContext
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
