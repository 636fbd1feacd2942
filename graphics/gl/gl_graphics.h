#pragma once
// The OpenGL driver: graphics that are windows with GL contexts, made by the
// platform's windows-and-contexts layer (graphics/gl_platform.h).
//
// Start-up: StartGLGraphicsModule registers the built-in font of DrawGLText
// ("gldrawtextfont.bin") as an embedded file, then makes the OpenGL driver
// current with default flags 2 (back buffer). It runs once, on the first call
// of OpenGLGraphics or of itself; a program that queries modes before opening
// anything calls it first. No static initialiser is involved, so link order never matters.

#include "graphics/graphics.h"

#include <cstdint>
#include <memory>
#include <string>

// One window with its GL context, owned by the platform layer (gl_platform.h).
struct GLContextRecord;

// Graphics backed by one window-and-context record of the platform layer.
class TGLGraphics : public TGraphics {
public:
    // Takes ownership of record (closed by Close).
    explicit TGLGraphics(GLContextRecord* record) : _context(record) {}
    // The GLGraphicsDriverInstance.
    std::shared_ptr<TGraphicsDriver> Driver() override;
    // The record's settings; an attached window reports its current size.
    int32_t GetSettings(int32_t* width, int32_t* height, int32_t* depth, int32_t* hertz, int32_t* flags) override;
    // Destroys the record (once; later calls do nothing).
    int32_t Close() override;
    // The platform record, null once closed.
    GLContextRecord* Record() const { return _context; }

private:
    GLContextRecord* _context;
};

// The driver that makes TGLGraphics.
class TGLGraphicsDriver : public TGraphicsDriver {
public:
    // Up to 1024 display modes, in the platform's order, duplicates kept.
    TGraphicsModeArray GraphicsModes() override;
    // A context on a caller's window; null when the platform makes none.
    std::shared_ptr<TGraphics> AttachGraphics(uintptr_t widget, int32_t flags) override;
    // A window of its own with a context; null when the platform makes none.
    // The platform's display-mode error propagates (CreateGraphicsContext turns it into null).
    std::shared_ptr<TGraphics> CreateGraphics(int32_t width, int32_t height, int32_t depth, int32_t hertz,
                                              int32_t flags) override;
    // Makes g's context current; anything but an open TGLGraphics makes none current.
    int32_t SetGraphics(const std::shared_ptr<TGraphics>& g) override;
    // Swaps the current context's buffers; sync != 0 waits for the vertical blank.
    int32_t Flip(int32_t sync) override;
};

// The one OpenGL driver, made on first use and kept for the life of the process.
std::shared_ptr<TGLGraphicsDriver> GLGraphicsDriverInstance();

// The OpenGL module's start-up (once): registers the built-in font, then the OpenGL driver
// becomes current with flags 2.
void StartGLGraphicsModule();

// Selects the OpenGL driver with default flags 2, then OpenGraphics with these arguments.
std::shared_ptr<TGraphics> OpenGLGraphics(int32_t width, int32_t height, int32_t depth, int32_t hertz, int32_t flags);
// Why the last OpenGLGraphics (or CreateGraphics of the OpenGL driver) gave
// null, in one line: the platform layer's reason ("X11: Failed to open display
// ..."), else the runtime error raised while the window was made, else "the
// graphics driver made no window".
std::string OpenGLGraphicsError();
