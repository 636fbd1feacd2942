#include "graphics/gl/gl_graphics.h"

#include "graphics/gl/gl_font.h"
#include "graphics/gl_platform.h"

std::shared_ptr<TGraphicsDriver> TGLGraphics::Driver() { return GLGraphicsDriverInstance(); }

int32_t TGLGraphics::GetSettings(int32_t* width, int32_t* height, int32_t* depth, int32_t* hertz, int32_t* flags) {
    GLContextSettings settings;
    // A closed graphics has no surface left; it reports zeros.
    if (_context) settings = ReadContextSettings(_context);
    if (width) *width = settings.width;
    if (height) *height = settings.height;
    if (depth) *depth = settings.depth;
    if (hertz) *hertz = settings.hertz;
    if (flags) *flags = settings.flags;
    return 0;
}

int32_t TGLGraphics::Close() {
    if (_context) {
        GLContextRecord* record = _context;
        _context = nullptr;
        DestroyWindowContext(record);
    }
    return 0;
}

TGraphicsModeArray TGLGraphicsDriver::GraphicsModes() {
    TGraphicsModeArray modes;
    for (const GLDisplayMode& m : EnumerateDisplayModes(1024))
        modes.push_back(std::make_shared<TGraphicsMode>(m.width, m.height, m.depth, m.hertz));
    return modes;
}

std::shared_ptr<TGraphics> TGLGraphicsDriver::AttachGraphics(uintptr_t widget, int32_t flags) {
    GLContextRecord* record = AttachWindowContext(widget, flags);
    if (!record) return nullptr;
    return std::make_shared<TGLGraphics>(record);
}

std::shared_ptr<TGraphics> TGLGraphicsDriver::CreateGraphics(int32_t width, int32_t height, int32_t depth,
                                                             int32_t hertz, int32_t flags) {
    GLContextRecord* record = CreateWindowContext(width, height, depth, hertz, flags);
    if (!record) return nullptr;
    return std::make_shared<TGLGraphics>(record);
}

int32_t TGLGraphicsDriver::SetGraphics(const std::shared_ptr<TGraphics>& g) {
    auto* gl = dynamic_cast<TGLGraphics*>(g.get());
    MakeContextCurrent(gl ? gl->Record() : nullptr);
    return 0;
}

int32_t TGLGraphicsDriver::Flip(int32_t sync) {
    SwapContextBuffers(sync);
    return 0;
}

std::shared_ptr<TGLGraphicsDriver> GLGraphicsDriverInstance() {
    // Never destroyed: graphics may still name their driver during exit.
    static auto* const instance = new std::shared_ptr<TGLGraphicsDriver>(std::make_shared<TGLGraphicsDriver>());
    return *instance;
}

void StartGLGraphicsModule() {
    static const bool started = [] {
        RegisterGLDrawTextFont();
        SelectGraphicsDriver(GLGraphicsDriverInstance(), GFX_BACKBUFFER);
        return true;
    }();
    (void)started;
}

std::shared_ptr<TGraphics> OpenGLGraphics(int32_t width, int32_t height, int32_t depth, int32_t hertz, int32_t flags) {
    StartGLGraphicsModule();
    SelectGraphicsDriver(GLGraphicsDriverInstance(), GFX_BACKBUFFER);
    return OpenGraphics(width, height, depth, hertz, flags);
}

std::string OpenGLGraphicsError() {
    std::string why = LastWindowContextError();
    if (why.empty()) why = LastGraphicsContextError();
    if (why.empty()) why = "the graphics driver made no window";
    return why;
}
