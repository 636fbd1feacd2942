#pragma once
// Display modes (XRandR), the primary monitor and the screen saver, for the
// GLX windows of this folder. Internal to graphics/x11/.

#include <X11/Xlib.h>

// Geometry of the primary monitor (RandR), else of the whole screen.
struct GLXMonitorArea {
    int x = 0, y = 0, width = 0, height = 0;
};

// The area new windows are centred on.
GLXMonitorArea GLXPrimaryMonitorArea(Display* display);

// Switches the screen to width x height at hertz (0: any rate). The desktop mode
// in force before the first switch is kept for GLXRestoreDesktopMode. Never
// raises X errors; false when the server has no such mode or refuses it.
bool GLXSetScreenMode(Display* display, int width, int height, int hertz);

// Puts back the desktop mode saved by the first GLXSetScreenMode, if any.
void GLXRestoreDesktopMode(Display* display);

// Suspends (hold = true) or resumes the screen saver and monitor power saving
// on behalf of one window; calls are counted, the last release resumes.
void GLXHoldScreenSaver(Display* display, bool hold);
