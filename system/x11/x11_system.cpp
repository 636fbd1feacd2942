#include "system/x11/x11_system.h"

#include "system/x11/x11_internal.h"
#include "system/x11/x11_platform.h"

#include <cerrno>
#include <poll.h>

namespace {

Cursor BlankCursor(Display* d) {
    if (x11.blankCursor == None) {
        static const char kNoBits[8] = {0};
        const Window root = DefaultRootWindow(d);
        const Pixmap bits = XCreateBitmapFromData(d, root, kNoBits, 8, 8);
        XColor black{};
        x11.blankCursor = XCreatePixmapCursor(d, bits, bits, &black, &black, 0, 0);
        XFreePixmap(d, bits);
    }
    return x11.blankCursor;
}

// The pointer is invisible only while it is over a client area and hiding
// was asked for. X cursors belong to windows, so hiding means giving the
// tracked window an empty cursor, and showing means taking it away again.
void ApplyCursorRule() {
    Display* d = X11Display();
    if (!d) return;
    const bool show = x11.cursorVisible == 1 || x11.trackedWindow == None;
    const Window want = show ? None : x11.trackedWindow;
    if (want == x11.blankedWindow) return;
    X11BeginErrorTrap();  // the window may be gone already
    if (x11.blankedWindow != None) XUndefineCursor(d, x11.blankedWindow);
    if (want != None) XDefineCursor(d, want, BlankCursor(d));
    XFlush(d);
    X11EndErrorTrap();
    x11.blankedWindow = want;
}

void EmitTracking(int32_t id, EventSource source, int x, int y) {
    // Entering and leaving carry no modifier bits.
    SendEvent(MakeEvent(id, source, 0, 0, x, y));
}

}  // namespace

void StartX11System() { StartSystemDriver<TX11SystemDriver>(); }

Window TrackedWindow() { return x11.trackedWindow; }

Window X11BlankedWindow() { return x11.blankedWindow; }

void X11TrackPointer(Window window, int x, int y, EventSource source, const int* leaveX, const int* leaveY) {
    if (window == x11.trackedWindow) return;
    if (x11.trackedWindow != None) {
        int lx = 0, ly = 0;
        if (leaveX && leaveY) {
            lx = *leaveX;
            ly = *leaveY;
        } else if (Display* d = X11Display()) {
            Window root, child;
            int rx, ry;
            unsigned int mask;
            X11BeginErrorTrap();
            if (XQueryPointer(d, x11.trackedWindow, &root, &child, &rx, &ry, &lx, &ly, &mask) == False) lx = ly = 0;
            X11EndErrorTrap();
        }
        const EventSource leftSource = x11.trackedSource;
        x11.trackedSource = nullptr;
        x11.trackedWindow = None;  // before emitting: a hook may pump again
        EmitTracking(EVENT_MOUSE_LEAVE, leftSource, lx, ly);
    }
    x11.trackedWindow = window;
    ApplyCursorRule();
    if (window != None) {
        x11.trackedSource = source;
        EmitTracking(EVENT_MOUSE_ENTER, source, x, y);
    }
}

void X11ForgetWindow(Window window) {
    if (window == x11.trackedWindow) {
        x11.trackedWindow = None;
        x11.trackedSource = nullptr;
    }
    if (window == x11.blankedWindow) x11.blankedWindow = None;  // its cursor goes with it
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
    x11.cursorVisible = visible;
    ApplyCursorRule();
    return 0;
}
