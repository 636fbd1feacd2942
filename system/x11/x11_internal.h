#pragma once
// Glue between the files of the X11 system driver; not for other folders.

#include "system/event.h"

#include <X11/Xlib.h>

// Hands event to the handler registered for its window; false when none.
bool X11DispatchEvent(XEvent& event);
// True when window has a registered handler.
bool X11IsRegisteredWindow(Window window);
// Forgets window in pointer tracking and key state (it is going away).
void X11ForgetWindow(Window window);
// Pointer tracking: the pointer is now over window's client area (None:
// over none) at (x, y) of that window; emits "MouseLeave" / "MouseEnter".
// leaveX, leaveY: the pointer in the old tracked window's coordinates, when known.
void X11TrackPointer(Window window, int x, int y, EventSource source, const int* leaveX = nullptr,
                     const int* leaveY = nullptr);
// The window that now shows the invisible cursor (None: the pointer shows everywhere).
Window X11BlankedWindow();
// Clears the translator's record of held keys (focus went elsewhere).
void X11ForgetHeldKeys();
// Asks the server to report a held key as presses only (on) or, as by default,
// with a release before every repeat; returns whether presses-only is now in
// effect. The display's first opening asks for presses only.
bool X11SetDetectableAutoRepeat(bool on);
// True while held keys repeat as presses only; otherwise a release followed by
// a press of the same key with the same time stamp is taken for a repeat.
bool X11DetectableAutoRepeat();
