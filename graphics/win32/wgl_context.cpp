// OpenGL windows and contexts on Win32 and WGL: the window class, our own
// windows (on the desktop or fullscreen) and contexts on windows the caller
// made, the pixel format chosen from the graphics flags, buffer swaps with
// swap-interval control, display modes, and the window procedure that feeds
// the system's event translation.
#include "graphics/gl_platform.h"
#include "graphics/win32/wgl_internal.h"
#include "runtime/errors.h"
#include "runtime/startup.h"
#include "runtime/win32/win32_text.h"
#include "system/win32/win32_system.h"

#include <cstdlib>
#include <string>

const char* const kWGLWindowClassName = "Ferrumkit GLGraphics";

namespace {

const char* const kDisplayModeError = "GLGraphicsDriver failed to set display mode";
// Styles: a fixed-size window with a close box, or a bare fullscreen popup.
const DWORD kWindowedStyle = WS_CAPTION | WS_SYSMENU;
const DWORD kFullscreenStyle = WS_POPUP;
const UINT kClassStyle = CS_VREDRAW | CS_HREDRAW | CS_OWNDC;
// Display modes below this colour depth are not offered.
const DWORD kMinModeBits = 16;
const DWORD kModeFields = DM_BITSPERPEL | DM_PELSWIDTH | DM_PELSHEIGHT;

// The layer's state: the record list and swap-interval bookkeeping every
// layer keeps, the fullscreen window and the window class.
struct WGLState : GLContextListState {
    HWND fullscreenWindow = nullptr;  // the window whose display mode is in force
    bool classRegistered = false;
};

WGLState state;

GLContextRecord* Fail(const std::string& why) {
    state.lastCreateError = why;
    return nullptr;
}

std::string WithLastError(const std::string& what) { return what + " (error " + std::to_string(GetLastError()) + ")"; }

GLContextRecord* FindByWindow(HWND window) {
    for (GLContextRecord* r = state.head; r; r = r->next)
        if (r->window == window) return r;
    return nullptr;
}

LRESULT DefaultProcessing(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
    return UseWideApi() ? DefWindowProcW(window, message, wParam, lParam)
                        : DefWindowProcA(window, message, wParam, lParam);
}

void LeaveFullscreen(HWND window) {
    ChangeDisplaySettingsA(nullptr, CDS_FULLSCREEN);
    ShowWindow(window, SW_MINIMIZE);
    SetSwapInterval(0);
    state.fullscreenWindow = nullptr;
}

// The record's size and depth at its rate, else at any rate (then without
// vertical sync).
void ApplyDisplayMode(GLContextRecord* record) {
    DEVMODEA mode{};
    mode.dmSize = sizeof mode;
    mode.dmPelsWidth = static_cast<DWORD>(record->width);
    mode.dmPelsHeight = static_cast<DWORD>(record->height);
    mode.dmBitsPerPel = static_cast<DWORD>(record->depth);
    mode.dmFields = kModeFields;
    int32_t vsync = 0;
    if (record->hertz != 0) {
        mode.dmDisplayFrequency = static_cast<DWORD>(record->hertz);
        mode.dmFields |= DM_DISPLAYFREQUENCY;
        vsync = 1;
    }
    if (ChangeDisplaySettingsA(&mode, CDS_FULLSCREEN) == DISP_CHANGE_SUCCESSFUL) {
        state.fullscreenWindow = record->window;
    } else if (record->hertz != 0) {
        mode.dmDisplayFrequency = 0;
        mode.dmFields &= ~static_cast<DWORD>(DM_DISPLAYFREQUENCY);
        if (ChangeDisplaySettingsA(&mode, CDS_FULLSCREEN) == DISP_CHANGE_SUCCESSFUL) {
            state.fullscreenWindow = record->window;
            vsync = 0;
        }
    }
    if (state.fullscreenWindow != record->window) throw TRuntimeError(kDisplayModeError);
    // Directly: the interval SwapContextBuffers remembers is left as it is.
    SetSwapInterval(vsync);
}

// The message table of our windows, after the event translation.
LRESULT HandleMessage(GLContextRecord* record, HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
    switch (message) {
    case WM_PAINT: ValidateRect(window, nullptr); return 0;
    case WM_SYSKEYDOWN:
        // Only Alt+F4 goes on (to become a close request); other Alt keys
        // would open the system menu and stall the program.
        if (wParam == VK_F4) return DefaultProcessing(window, message, wParam, lParam);
        return 0;
    case WM_SYSCHAR:
        // The character of an Alt chord would ask default processing for the
        // keyboard menu (SC_KEYMENU) just the same: it stops here too.
        return 0;
    case WM_SYSCOMMAND:
        if ((wParam & 0xFFF0) == SC_SCREENSAVE || (wParam & 0xFFF0) == SC_MONITORPOWER) return 1;
        return DefaultProcessing(window, message, wParam, lParam);
    case WM_CLOSE: return 0;  // the program hears "AppTerminate"; the window stays
    case WM_SETFOCUS:
        if (record->kind == GL_RECORD_FULLSCREEN && window != state.fullscreenWindow) ApplyDisplayMode(record);
        return 0;
    case WM_KILLFOCUS:
    case WM_DESTROY:
        if (window == state.fullscreenWindow) LeaveFullscreen(window);
        return 0;
    default: return DefaultProcessing(window, message, wParam, lParam);
    }
}

LRESULT CALLBACK WindowProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
    if (!FindByWindow(window)) return DefaultProcessing(window, message, wParam, lParam);
    LRESULT result = 0;
    Win32GuardCallback([&] {
        TranslateWindowMessage(window, message, wParam, lParam, nullptr);
        // Looked up again: a hook reacting to the event may have destroyed the record.
        GLContextRecord* record = FindByWindow(window);
        result = record ? HandleMessage(record, window, message, wParam, lParam)
                        : DefaultProcessing(window, message, wParam, lParam);
    });
    return result;
}

// One registration for both widths of the class record.
template <typename Class, typename Char>
bool RegisterClassOf(const Char* name, ATOM(WINAPI* registerClass)(const Class*)) {
    Class wc{};
    wc.cbSize = sizeof wc;
    wc.style = kClassStyle;
    wc.lpfnWndProc = WindowProc;
    wc.hInstance = GetModuleHandleA(nullptr);
    wc.hCursor = LoadCursorA(nullptr, reinterpret_cast<LPCSTR>(IDC_ARROW));
    wc.lpszClassName = name;
    return registerClass(&wc) != 0;
}

void RegisterWindowClass() {
    if (state.classRegistered) return;
    StartWin32System();
    const bool ok = UseWideApi() ? RegisterClassOf(Win32Wide(kWGLWindowClassName).c_str(), RegisterClassExW)
                                 : RegisterClassOf(kWGLWindowClassName, RegisterClassExA);
    if (!ok) {
        std::fprintf(stderr, "Win32: Failed to register the window class \"%s\" (error %lu)\n", kWGLWindowClassName,
                     GetLastError());
        std::exit(-1);
    }
    state.classRegistered = true;
}

// Chooses and sets the pixel format and creates the context; false on failure
// (the record then holds no context).
bool CreateGLObjects(GLContextRecord* record) {
    const PIXELFORMATDESCRIPTOR request = WGLPixelFormatRequest(record->flags);
    const int format = ChoosePixelFormat(record->dc, &request);
    if (format == 0) {
        state.lastCreateError =
            "WGL: Failed to find a pixel format for graphics flags " + std::to_string(record->flags);
        return false;
    }
    if (!SetPixelFormat(record->dc, format, &request)) {
        state.lastCreateError = WithLastError("WGL: Failed to set the pixel format");
        return false;
    }
    record->glContext = wglCreateContext(record->dc);
    if (!record->glContext) {
        state.lastCreateError = WithLastError("WGL: Failed to create the OpenGL context");
        return false;
    }
    return true;
}

HWND CreateTheWindow(DWORD style, RECT rect) {
    const int x = rect.left, y = rect.top, w = rect.right - rect.left, h = rect.bottom - rect.top;
    HINSTANCE instance = GetModuleHandleA(nullptr);
    if (UseWideApi())
        return CreateWindowExW(0, Win32Wide(kWGLWindowClassName).c_str(), Win32Wide(ApplicationTitle()).c_str(), style,
                               x, y, w, h, nullptr, nullptr, instance, nullptr);
    return CreateWindowExA(0, kWGLWindowClassName, Win32Narrow(ApplicationTitle()).c_str(), style, x, y, w, h, nullptr,
                           nullptr, instance, nullptr);
}

}  // namespace

PIXELFORMATDESCRIPTOR WGLPixelFormatRequest(int32_t flags) {
    PIXELFORMATDESCRIPTOR pfd{};
    pfd.nSize = sizeof pfd;
    pfd.nVersion = 1;
    pfd.dwFlags = PFD_DRAW_TO_WINDOW | PFD_SUPPORT_OPENGL | ((flags & GFX_BACKBUFFER) ? PFD_DOUBLEBUFFER : 0);
    pfd.iPixelType = PFD_TYPE_RGBA;
    // 1 asks for at least some of each buffer; the closest format wins.
    pfd.cColorBits = 1;
    pfd.cAlphaBits = (flags & GFX_ALPHABUFFER) ? 1 : 0;
    pfd.cDepthBits = (flags & GFX_DEPTHBUFFER) ? 1 : 0;
    pfd.cStencilBits = (flags & GFX_STENCILBUFFER) ? 1 : 0;
    pfd.cAccumBits = (flags & GFX_ACCUMBUFFER) ? 1 : 0;
    pfd.iLayerType = PFD_MAIN_PLANE;
    return pfd;
}

GLContextRecord* CreateWindowContext(int32_t width, int32_t height, int32_t depth, int32_t hertz, int32_t flags) {
    state.lastCreateError.clear();
    if (width <= 0 || height <= 0)
        return Fail("Win32: Failed to create a window of " + std::to_string(width) + " by " + std::to_string(height) +
                    " pixels");
    RegisterWindowClass();
    const int32_t kind = depth != 0 ? GL_RECORD_FULLSCREEN : GL_RECORD_WINDOWED;
    const DWORD style = kind == GL_RECORD_FULLSCREEN ? kFullscreenStyle : kWindowedStyle;
    RECT rect{0, 0, width, height};
    if (kind == GL_RECORD_WINDOWED) {
        RECT desktop{};
        GetWindowRect(GetDesktopWindow(), &desktop);
        rect.left = desktop.right / 2 - width / 2;
        rect.top = desktop.bottom / 2 - height / 2;
        rect.right = rect.left + width;
        rect.bottom = rect.top + height;
    }
    AdjustWindowRectEx(&rect, style, FALSE, 0);

    auto record = new GLContextRecord;
    record->kind = kind;
    record->depth = depth;
    record->hertz = hertz;
    record->flags = flags;
    record->window = CreateTheWindow(style, rect);
    if (!record->window) {
        delete record;
        return Fail(WithLastError("Win32: Failed to create the window"));
    }
    RECT client{};
    GetClientRect(record->window, &client);
    record->width = client.right - client.left;
    record->height = client.bottom - client.top;
    record->dc = GetDC(record->window);
    // A context that cannot be made fails the create: no record without one.
    if (!record->dc || !CreateGLObjects(record)) {
        if (!record->dc) state.lastCreateError = WithLastError("Win32: Failed to get the window's device context");
        const std::string why = state.lastCreateError;
        DestroyWindow(record->window);
        delete record;
        return Fail(why);
    }
    state.Push(record);

    // Showing activates the window; a fullscreen window applies its mode then.
    ShowWindow(record->window, SW_SHOW);
    try {
        Win32RethrowPending();
    } catch (...) {
        DestroyWindowContext(record);  // a failed fullscreen create leaves nothing behind
        throw;
    }
    return record;
}

GLContextRecord* AttachWindowContext(NativeWindow window, int32_t flags) {
    state.lastCreateError.clear();
    RegisterWindowClass();
    HWND hwnd = reinterpret_cast<HWND>(window);
    HDC dc = hwnd && IsWindow(hwnd) ? GetDC(hwnd) : nullptr;
    if (!dc) return Fail("Win32: Failed to get the device context of window " + std::to_string(window));
    auto record = new GLContextRecord;
    record->kind = GL_RECORD_ATTACHED;
    record->flags = flags;
    record->window = hwnd;
    record->dc = dc;
    if (!CreateGLObjects(record)) {
        const std::string why = state.lastCreateError;
        ReleaseDC(hwnd, dc);
        delete record;
        return Fail(why);
    }
    RECT client{};
    GetClientRect(hwnd, &client);
    record->width = client.right;
    record->height = client.bottom;
    // The caller's window keeps its own window procedure.
    state.Push(record);
    return record;
}

void DestroyWindowContext(GLContextRecord* record) {
    if (!record || !state.Listed(record)) return;
    if (record == state.current) {
        wglMakeCurrent(nullptr, nullptr);
        state.current = nullptr;
    }
    wglDeleteContext(record->glContext);
    // Still listed: the destroy message restores a fullscreen window's mode.
    if (record->kind != GL_RECORD_ATTACHED) {
        DestroyWindow(record->window);
        try {
            Win32RethrowPending();
        } catch (...) {
        }  // nothing a destroy could report
    } else {
        ReleaseDC(record->window, record->dc);
    }
    state.Unlink(record);
    delete record;
}

void MakeContextCurrent(GLContextRecord* record) {
    if (record == state.current) return;
    if (record && !state.Listed(record)) return;
    if (record && !wglMakeCurrent(record->dc, record->glContext)) {
        // The window is gone (an attached window destroyed by its owner): nothing is current.
        wglMakeCurrent(nullptr, nullptr);
        state.current = nullptr;
        return;
    }
    if (!record) wglMakeCurrent(nullptr, nullptr);
    state.current = record;
}

GLContextSettings ReadContextSettings(GLContextRecord* record) {
    if (!record || !state.Listed(record)) return GLContextSettings{};
    if (record->kind == GL_RECORD_ATTACHED) {
        RECT client{};
        if (GetClientRect(record->window, &client)) {
            record->width = client.right - client.left;
            record->height = client.bottom - client.top;
        }
    }
    return record->Settings();
}

void SwapContextBuffers(int32_t sync) {
    if (!state.current) return;
    if (state.SwapIntervalChanges(sync)) SetSwapInterval(state.lastSwapInterval);
    SwapBuffers(state.current->dc);
}

void SetSwapInterval(int32_t interval) {
    ++state.swapIntervalCalls;
    state.lastRequestedInterval = interval;
    using SwapIntervalFn = BOOL(WINAPI*)(int);
    // Through void*: PROC is a placeholder type for every extension entry.
    void* entry = reinterpret_cast<void*>(wglGetProcAddress("wglSwapIntervalEXT"));
    if (auto fn = reinterpret_cast<SwapIntervalFn>(entry)) fn(interval);
}

std::vector<GLDisplayMode> EnumerateDisplayModes(int32_t capacity) {
    std::vector<GLDisplayMode> modes;
    for (DWORD i = 0; static_cast<int32_t>(modes.size()) < capacity; ++i) {
        DEVMODEA mode{};
        mode.dmSize = sizeof mode;
        mode.dmDriverExtra = 0;
        if (!EnumDisplaySettingsA(nullptr, i, &mode)) break;
        if (mode.dmBitsPerPel < kMinModeBits) continue;
        modes.push_back(GLDisplayMode{static_cast<int32_t>(mode.dmPelsWidth), static_cast<int32_t>(mode.dmPelsHeight),
                                      static_cast<int32_t>(mode.dmBitsPerPel),
                                      static_cast<int32_t>(mode.dmDisplayFrequency)});
    }
    return modes;
}

const char* LastWindowContextError() { return state.lastCreateError.c_str(); }

HWND WGLRecordWindow(GLContextRecord* record) { return record && state.Listed(record) ? record->window : nullptr; }

int WGLRecordCount() { return state.Count(); }

int WGLSwapIntervalCallCount() { return state.swapIntervalCalls; }
int WGLLastRequestedSwapInterval() { return state.lastRequestedInterval; }
HWND WGLFullscreenWindow() { return state.fullscreenWindow; }
