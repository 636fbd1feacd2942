#pragma once
// What every platform layer keeps alike in its window-and-context record: the
// list link, the kind, and the settings ReadContextSettings reports. Each
// layer's GLContextRecord derives from it and adds its own handles
// (graphics/x11/glx_internal.h, graphics/win32/wgl_internal.h,
// graphics/web/web_internal.h). Only platform
// folders and their tests include this header.

#include "graphics/gl_platform.h"

#include <cstdint>
#include <string>

// Record kinds.
enum : int32_t {
    GL_RECORD_ATTACHED = 1,    // a context on a window the caller made
    GL_RECORD_WINDOWED = 2,    // our own window on the desktop
    GL_RECORD_FULLSCREEN = 3,  // our own window, display mode changed
};

// The platform-neutral fields of a record. Records form a list, newest first.
struct GLContextRecordBase {
    GLContextRecord* next = nullptr;  // list link
    int32_t kind = 0;                 // GL_RECORD_*
    int32_t width = 0;                // client width in pixels
    int32_t height = 0;               // client height in pixels
    int32_t depth = 0;                // requested colour depth; 0 unless fullscreen
    int32_t hertz = 0;                // requested refresh rate (0 = any)
    int32_t flags = 0;                // graphics flags

    // The five settings as ReadContextSettings reports them.
    GLContextSettings Settings() const { return GLContextSettings{width, height, depth, hertz, flags}; }
};

// What every platform layer keeps about its records: the list, the record
// made current, the swap interval and why the last create failed. A layer's
// state struct derives from it and adds its own (GLXState, WGLState, WebGLState). The
// list operations are templates so that they see the layer's complete record.
struct GLContextListState {
    GLContextRecord* head = nullptr;     // the list, newest first
    GLContextRecord* current = nullptr;  // the record last made current
    int32_t lastSwapInterval = -1;       // last interval set by SwapContextBuffers
    int swapIntervalCalls = 0;           // SetSwapInterval calls, for inspection
    int lastRequestedInterval = -1;      // latest SetSwapInterval argument
    std::string lastCreateError;         // why the last create or attach failed

    // Remembers the interval a swap with sync wants (1 with vertical sync, 0
    // without); true when it differs from the last swap's, so the layer sets it.
    bool SwapIntervalChanges(int32_t sync) {
        const int32_t interval = sync != 0 ? 1 : 0;
        if (interval == lastSwapInterval) return false;
        lastSwapInterval = interval;
        return true;
    }
    // True when record is in the list.
    template <typename R>
    bool Listed(const R* record) const {
        for (const R* r = head; r; r = r->next)
            if (r == record) return true;
        return false;
    }
    // Puts record at the head of the list.
    template <typename R>
    void Push(R* record) {
        record->next = head;
        head = record;
    }
    // Takes record out of the list (nothing when it is not listed).
    template <typename R>
    void Unlink(R* record) {
        for (R** link = &head; *link; link = &(*link)->next) {
            if (*link == record) {
                *link = record->next;
                record->next = nullptr;
                return;
            }
        }
    }
    // The number of records listed.
    template <typename R = GLContextRecord>
    int Count() const {
        int count = 0;
        for (const R* r = head; r; r = r->next) ++count;
        return count;
    }
};
