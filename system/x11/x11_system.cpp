#include "system/x11/x11_system.h"

#include "system/x11/x11_internal.h"
#include "system/x11/x11_platform.h"

#include <cerrno>
#include <poll.h>

namespace {

// Pointer tracking and hiding, as last seen by the pump.
Window trackedWindow = None;
EventSource trackedSource = nullptr;
int32_t cursorVisible = 1;
// The window that carries the invisible cursor now (None: none does).
Window blankedWindow = None;
Cursor blankCursor = None;

Cursor BlankCursor(Display* d) {
    if (blankCursor == None) {
        static const char kNoBits[8] = {0};
        const Window root = DefaultRootWindow(d);
        const Pixmap bits = XCreateBitmapFromData(d, root, kNoBits, 8, 8);
        XColor black{};
        blankCursor = XCreatePixmapCursor(d, bits, bits, &black, &black, 0, 0);
        XFreePixmap(d, bits);
    }
    return blankCursor;
}

// The pointer is invisible only while it is over a client area and hiding
// was asked for. X cursors belong to windows, so hiding means giving the
// tracked window an empty cursor, and showing means taking it away again.
void ApplyCursorRule() {
    Display* d = X11Display();
    if (!d) return;
    const bool show = cursorVisible == 1 || trackedWindow == None;
    const Window want = show ? None : trackedWindow;
    if (want == blankedWindow) return;
    X11BeginErrorTrap();  // the window may be gone already
    if (blankedWindow != None) XUndefineCursor(d, blankedWindow);
    if (want != None) XDefineCursor(d, want, BlankCursor(d));
    XFlush(d);
    X11EndErrorTrap();
    blankedWindow = want;
}

void EmitTracking(int32_t id, EventSource source, int x, int y) {
    // Entering and leaving carry no modifier bits.
    SendEvent(MakeEvent(id, source, 0, 0, x, y));
}

}  // namespace

Window TrackedWindow() { return trackedWindow; }

Window X11BlankedWindow() { return blankedWindow; }

void X11TrackPointer(Window window, int x, int y, EventSource source, const int* leaveX, const int* leaveY) {
    if (window == trackedWindow) return;
    if (trackedWindow != None) {
        int lx = 0, ly = 0;
        if (leaveX && leaveY) {
            lx = *leaveX;
            ly = *leaveY;
        } else if (Display* d = X11Display()) {
            Window root, child;
            int rx, ry;
            unsigned int mask;
            X11BeginErrorTrap();
            if (XQueryPointer(d, trackedWindow, &root, &child, &rx, &ry, &lx, &ly, &mask) == False) lx = ly = 0;
            X11EndErrorTrap();
        }
        const EventSource leftSource = trackedSource;
        trackedSource = nullptr;
        trackedWindow = None;  // before emitting: a hook may pump again
        EmitTracking(EVENT_MOUSE_LEAVE, leftSource, lx, ly);
    }
    trackedWindow = window;
    ApplyCursorRule();
    if (window != None) {
        trackedSource = source;
        EmitTracking(EVENT_MOUSE_ENTER, source, x, y);
    }
}

void X11ForgetWindow(Window window) {
    if (window == trackedWindow) {
        trackedWindow = None;
        trackedSource = nullptr;
    }
    if (window == blankedWindow) blankedWindow = None;  // its cursor goes with it
}

int32_t TX11SystemDriver::Poll() {
    RunPendingMainThreadCalls();
    Display* d = X11Display();
    if (!d) return 0;
    // Never blocks: only what has arrived (QueuedAfterReading reads the socket
    // without waiting).
    while (XEventsQueued(d, QueuedAfterReading) > 0) {
        XEvent event;
        XNextEvent(d, &event);
        if (XFilterEvent(&event, None)) continue;
        if (event.type == MappingNotify) {
            XRefreshKeyboardMapping(&event.xmapping);  // key codes mean other keys now
            continue;
        }
        X11DispatchEvent(event);
    }
    return 0;
}

int32_t TX11SystemDriver::Wait() {
    Display* d = X11Display();
    // Xlib may hold events read earlier: those must not wait for the socket.
    const bool ready = MainThreadCallsPending() || (d && XEventsQueued(d, QueuedAfterFlush) > 0);
    if (!ready) {
        pollfd fds[2];
        nfds_t count = 0;
        if (MainThreadWakeFd() >= 0) fds[count++] = pollfd{MainThreadWakeFd(), POLLIN, 0};
        if (d) fds[count++] = pollfd{ConnectionNumber(d), POLLIN, 0};
        if (count == 0) {
            SleepMillis(1);
        } else {
            while (poll(fds, count, -1) < 0 && errno == EINTR) {
            }
        }
    }
    return Poll();
}

int32_t TX11SystemDriver::MoveMouse(int32_t x, int32_t y) {
    Display* d = X11Display();
    if (!d) return 0;
    // Client coordinates of the program window that has the focus; screen
    // coordinates when none of ours has it.
    Window focus = None;
    int revert = 0;
    XGetInputFocus(d, &focus, &revert);
    const Window target = X11IsRegisteredWindow(focus) ? focus : DefaultRootWindow(d);
    X11BeginErrorTrap();
    XWarpPointer(d, None, target, 0, 0, 0, 0, x, y);
    X11EndErrorTrap();
    return 0;
}

int32_t TX11SystemDriver::SetMouseVisible(int32_t visible) {
    cursorVisible = visible;
    ApplyCursorRule();
    return 0;
}

void StartX11System() {
    if (!dynamic_cast<TX11SystemDriver*>(SystemDriver().get())) SetSystemDriver(std::make_shared<TX11SystemDriver>());
}
