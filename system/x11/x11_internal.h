#pragma once
// Glue between the files of the X11 system driver; not for other folders.

#include "system/event.h"
#include "system/x11/x11_platform.h"

#include <X11/Xlib.h>
#include <sys/types.h>

#include <atomic>
#include <unordered_map>

// A registered window's procedure and its argument.
struct X11Handler {
    X11WindowProc proc = nullptr;
    void* user = nullptr;
};

// The X11 system driver's state, one instance shared by its files (the
// connection and window registry, the error trap, pointer tracking, the
// translation's held keys, the running helper program), the way GLFW keeps
// _glfw.x11. Main thread only, except runningHelper. Its initial values are
// the ones written here.
struct X11State {
    // The connection, opened on first use.
    Display* display = nullptr;
    bool triedDisplay = false;
    // The server reports held keys as presses only, no release between repeats.
    bool detectableAutoRepeat = false;
    // Window procedures by window.
    std::unordered_map<Window, X11Handler> handlers;
    // Error trap: nesting depth and the first error code seen inside it.
    int trapDepth = 0;
    int trapFirstError = 0;
    // Pointer tracking and hiding, as last seen by the pump.
    Window trackedWindow = None;
    EventSource trackedSource = nullptr;
    int32_t cursorVisible = 1;
    Window blankedWindow = None;  // the window that carries the invisible cursor now
    Cursor blankCursor = None;
    // The code each X key code was given when it went down (0: not held).
    int32_t heldCode[256] = {};
    // WM_PROTOCOLS and WM_DELETE_WINDOW, interned on the connection they belong to.
    Display* atomsDisplay = nullptr;
    Atom wmProtocols = None;
    Atom wmDeleteWindow = None;
    // The dialog or URL helper program running now (0: none); read by other threads.
    std::atomic<pid_t> runningHelper{0};
};

// The one X11State (x11_platform.cpp).
extern X11State x11;

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
