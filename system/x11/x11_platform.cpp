#include "system/x11/x11_platform.h"

#include "system/x11/x11_internal.h"
#include "system/x11/x11_system.h"

#include <X11/XKBlib.h>

#include <unordered_map>

namespace {

struct Connection {
    Display* display = nullptr;
    bool tried = false;
    // The server reports held keys as presses only, no release between repeats.
    bool detectableAutoRepeat = false;
};

Connection& TheConnection() {
    static Connection connection;
    return connection;
}

struct Handler {
    X11WindowProc proc;
    void* user;
};

std::unordered_map<Window, Handler>& Handlers() {
    static std::unordered_map<Window, Handler> handlers;
    return handlers;
}

// Error trap: X errors are recorded, never fatal. Outside a trap they are
// dropped (a window that vanished under a request is not worth dying for).
int trapDepth = 0;
int trapFirstError = 0;

int RecordXError(Display*, XErrorEvent* error) {
    if (trapDepth > 0 && trapFirstError == 0) trapFirstError = error->error_code;
    return 0;
}

}  // namespace

Display* X11Display() {
    Connection& c = TheConnection();
    if (!c.tried) {
        c.tried = true;
        XSetErrorHandler(RecordXError);
        c.display = XOpenDisplay(nullptr);  // prints nothing when it fails
        if (c.display) X11SetDetectableAutoRepeat(true);
    }
    return c.display;
}

bool X11SetDetectableAutoRepeat(bool on) {
    Connection& c = TheConnection();
    Bool supported = False;
    c.detectableAutoRepeat =
        c.display && XkbSetDetectableAutoRepeat(c.display, on ? True : False, &supported) && supported;
    return c.detectableAutoRepeat;
}

bool X11DetectableAutoRepeat() { return TheConnection().detectableAutoRepeat; }

void X11RegisterWindow(Window window, X11WindowProc proc, void* user) {
    Handlers()[window] = Handler{proc, user};
    StartX11System();
}

void X11UnregisterWindow(Window window) {
    Handlers().erase(window);
    X11ForgetWindow(window);
}

bool X11DispatchEvent(XEvent& event) {
    auto& handlers = Handlers();
    const auto it = handlers.find(event.xany.window);
    if (it == handlers.end() || !it->second.proc) return false;
    const Handler handler = it->second;  // copied: the proc may unregister itself
    handler.proc(event, handler.user);
    return true;
}

bool X11IsRegisteredWindow(Window window) { return Handlers().count(window) != 0; }

void X11BeginErrorTrap() {
    if (Display* d = X11Display()) XSync(d, False);  // earlier errors are not ours
    if (trapDepth++ == 0) trapFirstError = 0;
}

int X11EndErrorTrap() {
    if (Display* d = X11Display()) XSync(d, False);
    const int error = trapFirstError;
    if (trapDepth > 0 && --trapDepth == 0) trapFirstError = 0;
    return error;
}
