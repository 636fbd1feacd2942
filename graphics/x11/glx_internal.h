#pragma once
// Internals of the X11/GLX windows and contexts: the record behind the opaque
// GLContextRecord handle, and a small inspection interface for the tests of
// this layer. Only x11/ folders and their tests include this header.

#include "graphics/gl_context_record.h"

#include <X11/Xlib.h>
#include <GL/glx.h>

#include <cstdint>

// One window with its GL context: the shared fields, then the X and GLX handles.
struct GLContextRecord : GLContextRecordBase {
    Window window = 0;               // the X window
    GLXWindow drawable = 0;          // GLX drawable on the window
    GLXContext glContext = nullptr;  // the rendering context
    GLXFBConfig config = nullptr;    // the chosen framebuffer config
    Colormap colormap = 0;           // ours for kinds 2 and 3, else 0
    bool holdsScreenSaver = false;   // this window has the screen saver suspended
};

// What the tests read back about a record and its framebuffer config.
struct GLXRecordInfo {
    bool listed = false;  // the record is in the list
    int32_t kind = 0;
    Window window = 0;
    int doubleBuffer = 0, redSize = 0, alphaSize = 0, depthSize = 0, stencilSize = 0, accumRedSize = 0;
    VisualID visualId = 0;
};

// The record's window and its config's buffer sizes (listed = false for unknown records).
GLXRecordInfo GLXInspectRecord(GLContextRecord* record);
// Number of records in the list.
int GLXRecordCount();
// Number of SetSwapInterval calls since the process started.
int GLXSwapIntervalCallCount();
// The interval passed to the latest SetSwapInterval call (-1: none yet).
int GLXLastRequestedSwapInterval();
// The window whose display mode is in force (0: the desktop mode).
Window GLXFullscreenWindow();
// True while one of our windows keeps the screen saver suspended.
bool GLXScreenSaverSuspended();
