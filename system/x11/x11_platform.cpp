#include "system/x11/x11_platform.h"

#include "system/x11/x11_internal.h"
#include "system/x11/x11_system.h"

#include <X11/XKBlib.h>

X11State x11;

namespace {

// Error trap: X errors are recorded, never fatal. Outside a trap they are
// dropped (a window that vanished under a request is not worth dying for).
int RecordXError(Display*, XErrorEvent* error) {
    if (x11.trapDepth > 0 && x11.trapFirstError == 0) x11.trapFirstError = error->error_code;
    return 0;
}

}  // namespace

Display* X11Display() {
    if (!x11.triedDisplay) {
        x11.triedDisplay = true;
        XSetErrorHandler(RecordXError);
        x11.display = XOpenDisplay(nullptr);  // prints nothing when it fails
        if (x11.display) X11SetDetectableAutoRepeat(true);
    }
    return x11.display;
}

bool X11SetDetectableAutoRepeat(bool on) {
    Bool supported = False;
    x11.detectableAutoRepeat =
        x11.display && XkbSetDetectableAutoRepeat(x11.display, on ? True : False, &supported) && supported;
    return x11.detectableAutoRepeat;
}

bool X11DetectableAutoRepeat() { return x11.detectableAutoRepeat; }

void X11RegisterWindow(Window window, X11WindowProc proc, void* user) {
    x11.handlers[window] = X11Handler{proc, user};
    StartX11System();
}

void X11UnregisterWindow(Window window) {
    x11.handlers.erase(window);
    X11ForgetWindow(window);
}

bool X11DispatchEvent(XEvent& event) {
    const auto it = x11.handlers.find(event.xany.window);
    if (it == x11.handlers.end() || !it->second.proc) return false;
    const X11Handler handler = it->second;  // copied: the proc may unregister itself
    handler.proc(event, handler.user);
    return true;
}

bool X11IsRegisteredWindow(Window window) { return x11.handlers.count(window) != 0; }

void X11BeginErrorTrap() {
    if (Display* d = X11Display()) XSync(d, False);  // earlier errors are not ours
    if (x11.trapDepth++ == 0) x11.trapFirstError = 0;
}

int X11EndErrorTrap() {
    if (Display* d = X11Display()) XSync(d, False);
    const int error = x11.trapFirstError;
    if (x11.trapDepth > 0 && --x11.trapDepth == 0) x11.trapFirstError = 0;
    return error;
}
