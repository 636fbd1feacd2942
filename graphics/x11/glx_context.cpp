// OpenGL windows and contexts on X11 and GLX: our own windows (on the desktop
// or fullscreen) and contexts on windows the caller made, the framebuffer
// config chosen from the graphics flags, buffer swaps with swap-interval
// control, and the window procedure that feeds the system's event translation.
//
// Every X request that can fail runs inside an error trap, so an X error turns
// into a failed create (nothing left behind) instead of ending the process.

#include "graphics/gl_platform.h"
#include "graphics/x11/glx_display.h"
#include "graphics/x11/glx_internal.h"
#include "runtime/errors.h"
#include "runtime/startup.h"
#include "system/x11/x11_system.h"
#include "system/x11/x11_platform.h"

#include <X11/Xatom.h>
#include <X11/Xutil.h>

#include <chrono>
#include <cstdlib>
#include <cstring>
#include <poll.h>
#include <string>
#include <vector>

namespace {

const char* const kWindowClassName = "Ferrumkit GLGraphics";
const char* const kDisplayModeError = "GLGraphicsDriver failed to set display mode";
// X sizes travel as 16-bit numbers; larger requests would be cut silently.
const int32_t kMaxWindowSize = 32767;
// How long a create waits for its window to be shown.
const int kMapWaitMs = 2000;

// The layer's state, one instance (main thread only): the record list and
// swap-interval bookkeeping every layer keeps, and the fullscreen window.
// Its initial values are the ones written here.
struct GLXState : GLContextListState {
    Window fullscreenWindow = 0;  // the window whose display mode is in force
};

GLXState glx;

// Records why a create or attach gives null; returns null for the caller to pass on.
GLContextRecord* Fail(const std::string& why) {
    glx.lastCreateError = why;
    return nullptr;
}

const long kEventMask = KeyPressMask | KeyReleaseMask | ButtonPressMask | ButtonReleaseMask | PointerMotionMask |
                        EnterWindowMask | LeaveWindowMask | FocusChangeMask | StructureNotifyMask | ExposureMask;

GLContextRecord* FindByWindow(Window window) {
    for (GLContextRecord* r = glx.head; r; r = r->next)
        if (r->window == window && r->kind != GL_RECORD_ATTACHED) return r;
    return nullptr;
}

int ConfigAttrib(Display* display, GLXFBConfig config, int attribute) {
    int value = 0;
    if (glXGetFBConfigAttrib(display, config, attribute, &value) != Success) return 0;
    return value;
}

// The framebuffer request: RGBA, double-buffered exactly when flag 2 is set,
// at least one bit of each buffer the flags ask for. Of the configs the server
// offers, the closest one wins: no buffers nobody asked for, no multisampling,
// no slow config, the screen's own depth for our windows. visual != 0 keeps
// only configs of that visual (a window's visual cannot change after creation).
GLXFBConfig ChooseConfig(Display* display, int32_t flags, VisualID visual) {
    const bool wantAlpha = flags & GFX_ALPHABUFFER, wantDepth = flags & GFX_DEPTHBUFFER;
    const bool wantStencil = flags & GFX_STENCILBUFFER, wantAccum = flags & GFX_ACCUMBUFFER;
    std::vector<int> request = {GLX_X_RENDERABLE,  True,
                                GLX_DRAWABLE_TYPE, GLX_WINDOW_BIT,
                                GLX_RENDER_TYPE,   GLX_RGBA_BIT,
                                GLX_DOUBLEBUFFER,  (flags & GFX_BACKBUFFER) ? True : False,
                                GLX_RED_SIZE,      1,
                                GLX_GREEN_SIZE,    1,
                                GLX_BLUE_SIZE,     1};
    if (wantAlpha) request.insert(request.end(), {GLX_ALPHA_SIZE, 1});
    if (wantDepth) request.insert(request.end(), {GLX_DEPTH_SIZE, 1});
    if (wantStencil) request.insert(request.end(), {GLX_STENCIL_SIZE, 1});
    if (wantAccum)
        request.insert(request.end(), {GLX_ACCUM_RED_SIZE, 1, GLX_ACCUM_GREEN_SIZE, 1, GLX_ACCUM_BLUE_SIZE, 1});
    request.push_back(None);

    int screen = DefaultScreen(display);
    int count = 0;
    GLXFBConfig* configs = glXChooseFBConfig(display, screen, request.data(), &count);
    if (!configs) return nullptr;
    GLXFBConfig best = nullptr;
    long bestPenalty = 0;
    for (int i = 0; i < count; ++i) {
        VisualID id = static_cast<VisualID>(ConfigAttrib(display, configs[i], GLX_VISUAL_ID));
        if (id == 0 || (visual != 0 && id != visual)) continue;
        long penalty = 0;
        if (!wantAlpha && ConfigAttrib(display, configs[i], GLX_ALPHA_SIZE) > 0) penalty += 1000;
        if (!wantDepth && ConfigAttrib(display, configs[i], GLX_DEPTH_SIZE) > 0) penalty += 1000;
        if (!wantStencil && ConfigAttrib(display, configs[i], GLX_STENCIL_SIZE) > 0) penalty += 1000;
        if (!wantAccum && ConfigAttrib(display, configs[i], GLX_ACCUM_RED_SIZE) > 0) penalty += 1000;
        if (ConfigAttrib(display, configs[i], GLX_SAMPLE_BUFFERS) > 0) penalty += 100;
        if (ConfigAttrib(display, configs[i], GLX_CONFIG_CAVEAT) == GLX_SLOW_CONFIG) penalty += 50;
        if (visual == 0) {
            if (XVisualInfo* info = glXGetVisualFromFBConfig(display, configs[i])) {
                if (info->depth != DefaultDepth(display, screen)) penalty += 10;
                XFree(info);
            } else {
                continue;
            }
        }
        // glXChooseFBConfig already sorts by its own closeness rules: keep the first of a tie.
        if (!best || penalty < bestPenalty) {
            best = configs[i];
            bestPenalty = penalty;
        }
    }
    XFree(configs);
    return best;
}

// Frees whatever a record holds on the server; the record itself stays.
void ReleaseRecordResources(Display* display, GLContextRecord* record) {
    if (record->holdsScreenSaver) GLXHoldScreenSaver(display, false);
    X11BeginErrorTrap();
    if (record->glContext) glXDestroyContext(display, record->glContext);
    if (record->drawable) glXDestroyWindow(display, record->drawable);
    if (record->kind != GL_RECORD_ATTACHED) {
        if (record->window) {
            X11UnregisterWindow(record->window);
            XDestroyWindow(display, record->window);
        }
        if (record->colormap) XFreeColormap(display, record->colormap);
    }
    X11EndErrorTrap();
    record->holdsScreenSaver = false;
    record->glContext = nullptr;
    record->drawable = 0;
    record->window = 0;
    record->colormap = 0;
}

// Restores the desktop mode after a fullscreen window lost the display.
void LeaveFullscreen(Display* display, GLContextRecord* record, bool iconify) {
    GLXRestoreDesktopMode(display);
    if (iconify) {
        X11BeginErrorTrap();
        XIconifyWindow(display, record->window, DefaultScreen(display));
        X11EndErrorTrap();
    }
    SetSwapInterval(0);
    glx.fullscreenWindow = 0;
}

// Switches to the record's mode: its size at its rate, else its size at any
// rate (then without vertical sync). The colour depth stays the screen's: X
// cannot change it on a running server.
void ApplyDisplayMode(Display* display, GLContextRecord* record) {
    int vsync = 0;
    bool done = false;
    if (record->hertz != 0) {
        done = GLXSetScreenMode(display, record->width, record->height, record->hertz);
        vsync = done ? 1 : 0;
    }
    if (!done) done = GLXSetScreenMode(display, record->width, record->height, 0);
    if (!done) throw TRuntimeError(kDisplayModeError);
    glx.fullscreenWindow = record->window;
    // Directly: the interval SwapContextBuffers remembers is left as it is.
    SetSwapInterval(vsync);
}

// Focus changes that mean the window gained or lost the keyboard, not the
// pointer wandering over it or a grab coming and going.
bool IsRealFocusChange(const XFocusChangeEvent& focus) {
    return (focus.mode == NotifyNormal || focus.mode == NotifyWhileGrabbed) && focus.detail != NotifyInferior &&
           focus.detail != NotifyPointer;
}

// The window procedure of our own windows: the system translates the event,
// then the window's own effects follow. A close request (WM_DELETE_WINDOW)
// only becomes the "AppTerminate" event: the window stays.
void WindowProc(XEvent& event, void* /*user*/) {
    if (!FindByWindow(event.xany.window)) return;
    TranslateWindowMessage(event, nullptr);
    // Looked up again: a hook reacting to the event may have destroyed the record.
    GLContextRecord* record = FindByWindow(event.xany.window);
    Display* display = X11Display();
    if (!record || !display) return;
    switch (event.type) {
    case FocusIn:
        if (!IsRealFocusChange(event.xfocus)) break;
        // While one of our windows has the keyboard the screen saver and
        // monitor power saving stay off.
        if (!record->holdsScreenSaver) {
            GLXHoldScreenSaver(display, true);
            record->holdsScreenSaver = true;
        }
        if (record->kind == GL_RECORD_FULLSCREEN && record->window != glx.fullscreenWindow)
            ApplyDisplayMode(display, record);
        break;
    case FocusOut:
    case DestroyNotify:
        if (event.type == FocusOut && !IsRealFocusChange(event.xfocus)) break;
        if (event.type == DestroyNotify && event.xdestroywindow.window != record->window) break;
        if (record->holdsScreenSaver) {
            GLXHoldScreenSaver(display, false);
            record->holdsScreenSaver = false;
        }
        if (record->window == glx.fullscreenWindow) LeaveFullscreen(display, record, event.type == FocusOut);
        break;
    default: break;
    }
}

// Latin-1 for WM_NAME (type STRING); characters beyond it become '?'.
std::string ToLatin1(const std::string& utf8) {
    std::string out;
    for (size_t i = 0; i < utf8.size();) {
        unsigned char c = static_cast<unsigned char>(utf8[i]);
        unsigned code = c;
        size_t length = 1;
        if (c >= 0xC0 && c < 0xE0 && i + 1 < utf8.size()) {
            code = ((c & 0x1Fu) << 6) | (static_cast<unsigned char>(utf8[i + 1]) & 0x3Fu);
            length = 2;
        } else if (c >= 0xE0) {
            code = 0x100;
            length = c >= 0xF0 ? 4 : 3;
        } else if (c >= 0x80) {
            code = 0x100;
        }
        out.push_back(code <= 0xFF ? static_cast<char>(code) : '?');
        i += length;
    }
    return out;
}

// Title, class, close protocol and size hints of one of our windows.
void SetWindowProperties(Display* display, Window window, int32_t kind, int x, int y, int32_t width, int32_t height) {
    std::string title = ApplicationTitle();
    std::string latin = ToLatin1(title);
    XChangeProperty(display, window, XA_WM_NAME, XA_STRING, 8, PropModeReplace,
                    reinterpret_cast<const unsigned char*>(latin.data()), static_cast<int>(latin.size()));
    XChangeProperty(display, window, XInternAtom(display, "_NET_WM_NAME", False),
                    XInternAtom(display, "UTF8_STRING", False), 8, PropModeReplace,
                    reinterpret_cast<const unsigned char*>(title.data()), static_cast<int>(title.size()));

    std::string className = kWindowClassName;
    XClassHint classHint;
    classHint.res_name = className.data();
    classHint.res_class = className.data();
    XSetClassHint(display, window, &classHint);

    Atom deleteWindow = XInternAtom(display, "WM_DELETE_WINDOW", False);
    XSetWMProtocols(display, window, &deleteWindow, 1);

    XWMHints wmHints{};
    wmHints.flags = InputHint | StateHint;
    wmHints.input = True;
    wmHints.initial_state = NormalState;
    XSetWMHints(display, window, &wmHints);

    XSizeHints sizeHints{};
    sizeHints.flags = USPosition | PPosition | PSize;
    sizeHints.x = x;
    sizeHints.y = y;
    sizeHints.width = width;
    sizeHints.height = height;
    if (kind == GL_RECORD_WINDOWED) {
        // A fixed-size window: minimum and maximum are the size itself.
        sizeHints.flags |= PMinSize | PMaxSize;
        sizeHints.min_width = sizeHints.max_width = width;
        sizeHints.min_height = sizeHints.max_height = height;
    } else {
        Atom state = XInternAtom(display, "_NET_WM_STATE", False);
        Atom fullscreen = XInternAtom(display, "_NET_WM_STATE_FULLSCREEN", False);
        XChangeProperty(display, window, state, XA_ATOM, 32, PropModeReplace,
                        reinterpret_cast<const unsigned char*>(&fullscreen), 1);
    }
    XSetWMNormalHints(display, window, &sizeHints);
}

// Maps the window and waits (bounded) until the server has shown it, so the
// first frame drawn is seen. Events taken off the queue meanwhile still go
// through the window procedure.
void MapAndWait(Display* display, Window window) {
    XMapRaised(display, window);
    XFlush(display);
    auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(kMapWaitMs);
    bool exposed = false;
    while (!exposed) {
        XEvent event;
        if (XCheckWindowEvent(display, window, StructureNotifyMask | ExposureMask, &event)) {
            if (event.type == Expose) exposed = true;
            WindowProc(event, nullptr);
            continue;
        }
        auto left =
            std::chrono::duration_cast<std::chrono::milliseconds>(deadline - std::chrono::steady_clock::now()).count();
        if (left <= 0) break;
        pollfd p{ConnectionNumber(display), POLLIN, 0};
        poll(&p, 1, static_cast<int>(left < 10 ? left : 10));
    }
}

// Context and drawable for a record whose window and config are set; false on failure.
bool CreateGLObjects(Display* display, GLContextRecord* record) {
    X11BeginErrorTrap();
    record->drawable = glXCreateWindow(display, record->config, record->window, nullptr);
    record->glContext = glXCreateNewContext(display, record->config, GLX_RGBA_TYPE, nullptr, True);
    int error = X11EndErrorTrap();
    return error == 0 && record->drawable && record->glContext;
}

// The display named by DISPLAY could not be reached.
std::string NoDisplayError() {
    const char* name = std::getenv("DISPLAY");
    if (!name || !*name) return "X11: Failed to open the display: DISPLAY is not set";
    return std::string("X11: Failed to open display \"") + name + "\"";
}

// No framebuffer config offers what flags ask for.
std::string NoConfigError(int32_t flags) {
    std::string wanted = "RGBA";
    if (flags & GFX_BACKBUFFER) wanted += ", double buffer";
    if (flags & GFX_ALPHABUFFER) wanted += ", alpha";
    if (flags & GFX_DEPTHBUFFER) wanted += ", depth";
    if (flags & GFX_STENCILBUFFER) wanted += ", stencil";
    if (flags & GFX_ACCUMBUFFER) wanted += ", accumulation";
    return "GLX: Failed to find a framebuffer configuration with " + wanted;
}

}  // namespace

GLContextRecord* CreateWindowContext(int32_t width, int32_t height, int32_t depth, int32_t hertz, int32_t flags) {
    glx.lastCreateError.clear();
    if (width <= 0 || height <= 0 || width > kMaxWindowSize || height > kMaxWindowSize)
        return Fail("X11: Failed to create a window of " + std::to_string(width) + " by " + std::to_string(height) +
                    " pixels (sizes run from 1 to 32767)");
    Display* display = X11Display();
    if (!display) return Fail(NoDisplayError());
    int screen = DefaultScreen(display);
    Window root = RootWindow(display, screen);

    auto record = new GLContextRecord;
    record->kind = depth != 0 ? GL_RECORD_FULLSCREEN : GL_RECORD_WINDOWED;
    record->width = width;
    record->height = height;
    record->depth = depth;
    record->hertz = hertz;
    record->flags = flags;

    int x = 0, y = 0;
    if (record->kind == GL_RECORD_WINDOWED) {
        // Centred on the primary monitor; the client area is the whole window.
        GLXMonitorArea area = GLXPrimaryMonitorArea(display);
        x = area.x + area.width / 2 - width / 2;
        y = area.y + area.height / 2 - height / 2;
    }
    X11BeginErrorTrap();
    record->config = ChooseConfig(display, flags, 0);
    XVisualInfo* visual = record->config ? glXGetVisualFromFBConfig(display, record->config) : nullptr;
    if (visual) {
        XSetWindowAttributes attributes{};
        record->colormap = XCreateColormap(display, root, visual->visual, AllocNone);
        attributes.colormap = record->colormap;
        attributes.border_pixel = 0;
        attributes.background_pixmap = None;
        attributes.event_mask = kEventMask;
        record->window = XCreateWindow(display, root, x, y, static_cast<unsigned>(width), static_cast<unsigned>(height),
                                       0, visual->depth, InputOutput, visual->visual,
                                       CWColormap | CWBorderPixel | CWBackPixmap | CWEventMask, &attributes);
        XFree(visual);
    }
    int error = X11EndErrorTrap();
    if (error != 0 || !record->window) {
        const bool noConfig = !record->config;
        ReleaseRecordResources(display, record);
        delete record;
        return Fail(noConfig ? NoConfigError(flags) : "X11: Failed to create the window");
    }
    X11BeginErrorTrap();
    SetWindowProperties(display, record->window, record->kind, x, y, width, height);
    error = X11EndErrorTrap();
    if (error != 0 || !CreateGLObjects(display, record)) {
        ReleaseRecordResources(display, record);
        delete record;
        return Fail("GLX: Failed to create the OpenGL context");
    }

    glx.Push(record);
    X11RegisterWindow(record->window, WindowProc, nullptr);

    if (record->kind == GL_RECORD_FULLSCREEN) {
        try {
            ApplyDisplayMode(display, record);
        } catch (...) {
            DestroyWindowContext(record);
            throw;
        }
    }
    MapAndWait(display, record->window);
    if (record->kind == GL_RECORD_FULLSCREEN) {
        // Without a window manager nobody else gives the fullscreen window the keyboard.
        X11BeginErrorTrap();
        XSetInputFocus(display, record->window, RevertToParent, CurrentTime);
        X11EndErrorTrap();
    }
    return record;
}

GLContextRecord* AttachWindowContext(NativeWindow window, int32_t flags) {
    glx.lastCreateError.clear();
    Display* display = X11Display();
    if (!display) return Fail(NoDisplayError());
    XWindowAttributes attributes{};
    X11BeginErrorTrap();
    Status ok = window != 0 && XGetWindowAttributes(display, static_cast<Window>(window), &attributes);
    if (X11EndErrorTrap() != 0 || !ok || !attributes.visual)
        return Fail("X11: Failed to read the attributes of window " + std::to_string(window));

    auto record = new GLContextRecord;
    record->kind = GL_RECORD_ATTACHED;
    record->flags = flags;
    record->window = static_cast<Window>(window);
    record->width = attributes.width;
    record->height = attributes.height;
    // The config must match the visual the caller gave the window.
    X11BeginErrorTrap();
    record->config = ChooseConfig(display, flags, XVisualIDFromVisual(attributes.visual));
    int error = X11EndErrorTrap();
    if (error != 0 || !record->config || !CreateGLObjects(display, record)) {
        const bool noConfig = error == 0 && !record->config;
        ReleaseRecordResources(display, record);
        delete record;
        return Fail(noConfig ? NoConfigError(flags) + " for the window's visual"
                             : "GLX: Failed to create the OpenGL context");
    }
    // The caller's window keeps its own event handling: no window procedure here.
    glx.Push(record);
    return record;
}

void DestroyWindowContext(GLContextRecord* record) {
    if (!record || !glx.Listed(record)) return;
    Display* display = X11Display();
    if (display) {
        if (record == glx.current) {
            X11BeginErrorTrap();
            glXMakeContextCurrent(display, None, None, nullptr);
            X11EndErrorTrap();
            glx.current = nullptr;
        }
        // The destroy notification arrives after the record is gone, so a
        // fullscreen window gives the display back here.
        if (record->kind != GL_RECORD_ATTACHED && record->window == glx.fullscreenWindow)
            LeaveFullscreen(display, record, false);
        ReleaseRecordResources(display, record);
    }
    glx.Unlink(record);
    delete record;
}

void MakeContextCurrent(GLContextRecord* record) {
    if (record == glx.current) return;
    if (record && !glx.Listed(record)) return;
    Display* display = X11Display();
    if (!display) return;
    X11BeginErrorTrap();
    Bool ok = record ? glXMakeContextCurrent(display, record->drawable, record->drawable, record->glContext)
                     : glXMakeContextCurrent(display, None, None, nullptr);
    int error = X11EndErrorTrap();
    if (record && (!ok || error != 0)) {
        // The drawable is gone (an attached window destroyed by its owner): nothing is current.
        X11BeginErrorTrap();
        glXMakeContextCurrent(display, None, None, nullptr);
        X11EndErrorTrap();
        glx.current = nullptr;
        return;
    }
    glx.current = record;
}

GLContextSettings ReadContextSettings(GLContextRecord* record) {
    if (!record || !glx.Listed(record)) return GLContextSettings{};
    if (record->kind == GL_RECORD_ATTACHED) {
        // Attached windows report their current size.
        if (Display* display = X11Display()) {
            XWindowAttributes attributes{};
            X11BeginErrorTrap();
            Status ok = XGetWindowAttributes(display, record->window, &attributes);
            if (X11EndErrorTrap() == 0 && ok) {
                record->width = attributes.width;
                record->height = attributes.height;
            }
        }
    }
    return record->Settings();
}

void SwapContextBuffers(int32_t sync) {
    if (!glx.current) return;
    Display* display = X11Display();
    if (!display) return;
    if (glx.SwapIntervalChanges(sync)) SetSwapInterval(glx.lastSwapInterval);
    // No error trap here: it would cost two round trips a frame, and an error
    // outside a trap (the caller destroyed its window) is dropped, not fatal.
    glXSwapBuffers(display, glx.current->drawable);
}

void SetSwapInterval(int32_t interval) {
    ++glx.swapIntervalCalls;
    glx.lastRequestedInterval = interval;
    if (!glx.current || interval < 0) return;
    Display* display = X11Display();
    if (!display) return;
    // An entry point counts only when the connection lists its extension.
    const char* listed = glXQueryExtensionsString(display, DefaultScreen(display));
    auto has = [listed](const char* name) {
        if (!listed) return false;
        size_t length = std::strlen(name);
        for (const char* p = std::strstr(listed, name); p; p = std::strstr(p + 1, name))
            if ((p == listed || p[-1] == ' ') && (p[length] == ' ' || p[length] == '\0')) return true;
        return false;
    };
    auto lookup = [](const char* name) { return glXGetProcAddressARB(reinterpret_cast<const GLubyte*>(name)); };
    X11BeginErrorTrap();
    if (has("GLX_EXT_swap_control")) {
        using Fn = void (*)(Display*, GLXDrawable, int);
        if (auto fn = reinterpret_cast<Fn>(lookup("glXSwapIntervalEXT"))) fn(display, glx.current->drawable, interval);
    } else if (has("GLX_MESA_swap_control")) {
        using Fn = int (*)(unsigned);
        if (auto fn = reinterpret_cast<Fn>(lookup("glXSwapIntervalMESA"))) fn(static_cast<unsigned>(interval));
    } else if (has("GLX_SGI_swap_control") && interval > 0) {
        // The SGI entry cannot switch synchronisation off.
        using Fn = int (*)(int);
        if (auto fn = reinterpret_cast<Fn>(lookup("glXSwapIntervalSGI"))) fn(interval);
    }
    X11EndErrorTrap();
}

GLXRecordInfo GLXInspectRecord(GLContextRecord* record) {
    GLXRecordInfo info;
    Display* display = X11Display();
    if (!record || !glx.Listed(record) || !display) return info;
    info.listed = true;
    info.kind = record->kind;
    info.window = record->window;
    info.doubleBuffer = ConfigAttrib(display, record->config, GLX_DOUBLEBUFFER);
    info.redSize = ConfigAttrib(display, record->config, GLX_RED_SIZE);
    info.alphaSize = ConfigAttrib(display, record->config, GLX_ALPHA_SIZE);
    info.depthSize = ConfigAttrib(display, record->config, GLX_DEPTH_SIZE);
    info.stencilSize = ConfigAttrib(display, record->config, GLX_STENCIL_SIZE);
    info.accumRedSize = ConfigAttrib(display, record->config, GLX_ACCUM_RED_SIZE);
    info.visualId = static_cast<VisualID>(ConfigAttrib(display, record->config, GLX_VISUAL_ID));
    return info;
}

int GLXRecordCount() { return glx.Count(); }

int GLXSwapIntervalCallCount() { return glx.swapIntervalCalls; }

int GLXLastRequestedSwapInterval() { return glx.lastRequestedInterval; }

Window GLXFullscreenWindow() { return glx.fullscreenWindow; }

const char* LastWindowContextError() { return glx.lastCreateError.c_str(); }
