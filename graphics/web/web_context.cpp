// OpenGL windows and contexts in a browser: the program's own window is the
// page's canvas (sized by the request, titled by the page), an attached
// window a canvas the caller names by CSS selector; the context is WebGL 1
// under Emscripten's legacy GL emulation. A buffer swap hands control back
// to the browser until its next animation frame, which presents the frame
// and runs the page's input listeners; the frame loop above stays as it is.
#include "graphics/gl_platform.h"
#include "graphics/web/web_internal.h"
#include "runtime/startup.h"
#include "system/web/web_system.h"

#include <emscripten.h>
#include <emscripten/em_js.h>

#include <string>

extern "C" {
int fk_web_context_create(const char* selector, int width, int height, int flags, int resize);
void fk_web_context_make_current(int handle);
void fk_web_context_delete(int handle);
int fk_web_context_size(int handle, int32_t* width, int32_t* height);
void fk_web_context_selector(char* out, int size);
void fk_web_context_error(char* out, int size);
void fk_web_set_title(const char* title);
void fk_web_request_fullscreen();
int fk_web_screen_mode(int32_t* out);
}

namespace {

// The JavaScript inside EM_JS is stringified as written: the formatter keeps off it.
// clang-format off
EM_ASYNC_JS(void, fk_web_next_frame, (), {
    if (Module.fkWake) Module.fkWake.watchMain();
    await new Promise(function(resume) {
        if (typeof requestAnimationFrame === 'function') requestAnimationFrame(function() { resume(); });
        else setTimeout(resume, 0);
    });
});
// clang-format on

}  // namespace

namespace {

// The layer's state: the record list and swap-interval bookkeeping every
// layer keeps (the browser presents at its own rate whatever the interval),
// and the number the next window gets.
struct WebGLState : GLContextListState {
    int32_t nextIndex = 0;
};

WebGLState state;

GLContextRecord* Fail(const std::string& why) {
    state.lastCreateError = why;
    return nullptr;
}

std::string ContextError() {
    char text[256] = {};
    fk_web_context_error(text, sizeof text);
    return text;
}

// One context at a time: Emscripten's GL emulation keeps its state for one.
GLContextRecord* MakeRecord(const std::string& selector, int32_t width, int32_t height, int32_t kind, int32_t flags) {
    if (state.head)
        return Fail("Web: Failed to create a second context: the GL emulation serves one context at a time");
    const int handle = fk_web_context_create(selector.c_str(), width, height, flags, kind != GL_RECORD_ATTACHED);
    if (!handle) return Fail(ContextError());
    char used[128] = {};
    fk_web_context_selector(used, sizeof used);
    auto record = new GLContextRecord;
    record->kind = kind;
    record->flags = flags;
    record->glContext = handle;
    record->index = state.nextIndex++;
    fk_web_context_size(handle, &record->width, &record->height);
    // The new context is current in the browser now; the manager selects it itself.
    fk_web_context_make_current(state.current ? state.current->glContext : 0);
    ResetWebGLFill();
    if (!WebListenToCanvas(used, record->index)) {
        fk_web_context_delete(handle);
        delete record;
        return Fail(std::string("Web: Failed to listen to the canvas \"") + used + "\"");
    }
    state.Push(record);
    return record;
}

}  // namespace

GLContextRecord* CreateWindowContext(int32_t width, int32_t height, int32_t depth, int32_t hertz, int32_t flags) {
    state.lastCreateError.clear();
    if (width <= 0 || height <= 0)
        return Fail("Web: Failed to size a canvas of " + std::to_string(width) + " by " + std::to_string(height) +
                    " pixels");
    const int32_t kind = depth != 0 ? GL_RECORD_FULLSCREEN : GL_RECORD_WINDOWED;
    GLContextRecord* record = MakeRecord("", width, height, kind, flags);
    if (!record) return nullptr;
    record->depth = depth;
    record->hertz = hertz;
    fk_web_set_title(ApplicationTitle().c_str());
    if (kind == GL_RECORD_FULLSCREEN) fk_web_request_fullscreen();
    return record;
}

GLContextRecord* AttachWindowContext(NativeWindow window, int32_t flags) {
    state.lastCreateError.clear();
    const char* selector = reinterpret_cast<const char*>(window);
    if (!selector || !*selector) return Fail("Web: Failed to attach: no canvas selector given");
    return MakeRecord(selector, 0, 0, GL_RECORD_ATTACHED, flags);
}

void DestroyWindowContext(GLContextRecord* record) {
    if (!record || !state.Listed(record)) return;
    if (record == state.current) {
        fk_web_context_make_current(0);
        state.current = nullptr;
    }
    WebStopListening(record->index);
    fk_web_context_delete(record->glContext);
    state.Unlink(record);
    delete record;
}

void MakeContextCurrent(GLContextRecord* record) {
    if (record == state.current) return;
    if (record && !state.Listed(record)) return;
    fk_web_context_make_current(record ? record->glContext : 0);
    state.current = record;
}

GLContextSettings ReadContextSettings(GLContextRecord* record) {
    if (!record || !state.Listed(record)) return GLContextSettings{};
    // A caller's canvas may have been resized meanwhile.
    if (record->kind == GL_RECORD_ATTACHED) fk_web_context_size(record->glContext, &record->width, &record->height);
    return record->Settings();
}

void SwapContextBuffers(int32_t sync) {
    if (!state.current) return;
    if (state.SwapIntervalChanges(sync)) SetSwapInterval(state.lastSwapInterval);
    // The browser presents what was drawn once control returns to it.
    fk_web_next_frame();
}

void SetSwapInterval(int32_t interval) {
    ++state.swapIntervalCalls;
    state.lastRequestedInterval = interval;
}

std::vector<GLDisplayMode> EnumerateDisplayModes(int32_t capacity) {
    std::vector<GLDisplayMode> modes;
    int32_t mode[4] = {};
    if (capacity > 0 && fk_web_screen_mode(mode)) modes.push_back(GLDisplayMode{mode[0], mode[1], mode[2], mode[3]});
    return modes;
}

const char* LastWindowContextError() { return state.lastCreateError.c_str(); }
