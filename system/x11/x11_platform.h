#pragma once
// The X connection and window registry shared by the X11 platform folders
// (system/x11/ and graphics/x11/). Only x11/ folders include this header.

#include <X11/Xlib.h>

// The program's X connection, opened on first use; null when there is no display.
Display* X11Display();

// A window procedure: receives every X event of its window from the pump.
using X11WindowProc = void (*)(XEvent& event, void* user);

// Routes every later event of window to proc (replaces an earlier registration).
void X11RegisterWindow(Window window, X11WindowProc proc, void* user);
// Stops routing events of window.
void X11UnregisterWindow(Window window);

// Collects X errors instead of ending the process, until X11EndErrorTrap.
void X11BeginErrorTrap();
// Syncs with the server, ends the trap and returns the first error code seen (0: none).
int X11EndErrorTrap();
