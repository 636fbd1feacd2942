#include "app/fluid_app.h"

// GLEW's header declares the whole GL API; it must come before any other GL header.
#include <GL/glew.h>

#include <algorithm>
#include <cstdio>
#include <cstring>
#include <exception>
#include <limits>

#include "app/scene.h"
#include "graphics/gl/gl_graphics.h"
#include "graphics/gl/gl_utils.h"
#include "graphics/gl_platform.h"
#include "graphics/graphics.h"
#include "image/png.h"
#include "render/fluid_renderer.h"
#include "runtime/errors.h"
#include "runtime/startup.h"
#include "runtime/tool.h"
#include "stream/cstream.h"
#include "system/polled_input.h"
#include "system/system_driver.h"

namespace {

// The display request: windowed, 60 Hz asked, back buffer (2) and depth buffer (8).
constexpr int32_t kWindowDepth = 0;
constexpr int32_t kWindowHertz = 60;
constexpr int32_t kWindowFlags = GFX_BACKBUFFER | GFX_DEPTHBUFFER;

// Controls: Windows virtual-key codes and the runtime's button numbers.
constexpr int32_t kKeyEscape = 27;
constexpr int32_t kKeySpace = 32;
constexpr int32_t kButtonLeft = 1;
constexpr int32_t kButtonRight = 2;

// A pour clears a square of 82 pixels and fills one of 80; a wall block
// clears 18 and fills 20, so it overlaps what it builds on.
constexpr int32_t kPourClearHalf = 41;
constexpr int32_t kPourFillHalf = 40;
constexpr int32_t kWallClearHalf = 9;
constexpr int32_t kWallFillHalf = 10;

// The frame rate is refreshed about twice a second: frames counted over more
// than half a second, doubled.
constexpr int32_t kRateWindowMillis = 500;

// Widths of the three measurements in the status line.
constexpr std::size_t kUpdateWidth = 3;
constexpr std::size_t kRenderWidth = 4;
constexpr std::size_t kRateWidth = 4;

// The PNG compression of screenshots: a middle level, quick to write.
constexpr int32_t kScreenshotCompression = 6;

const char* const kParticleImageName = "Metaball.png";

// The decimal text of value cut or right-padded with spaces to width characters.
std::string Fixed(int32_t value, std::size_t width) {
    std::string text = std::to_string(value);
    text.resize(width, ' ');
    return text;
}

// Clears the square of half-width clearHalf around (mx, my), then adds a
// particle with add at every lattice point of the square of half-width
// fillHalf, that square clamped to the window. The lattice runs in single
// precision from the clamped integer bounds, both ends included.
void ClearAndFill(TSPH& world, int32_t mx, int32_t my, int32_t clearHalf, int32_t fillHalf,
                  float step, void (TSPH::*add)(float, float)) {
    world.FreeRect(static_cast<float>(mx - clearHalf), static_cast<float>(my - clearHalf),
                   static_cast<float>(mx + clearHalf), static_cast<float>(my + clearHalf));
    const float left = static_cast<float>(std::max(mx - fillHalf, 0));
    const float right = static_cast<float>(std::min(mx + fillHalf, kFluidWindowWidth));
    const float top = static_cast<float>(std::max(my - fillHalf, 0));
    const float bottom = static_cast<float>(std::min(my + fillHalf, kFluidWindowHeight));
    for (float x = left; x <= right; x += step)
        for (float y = top; y <= bottom; y += step) (world.*add)(x, y);
}

// The back buffer as it is just before a flip, kept in one buffer reused
// from frame to frame; made into a pixmap only once, at the end.
class TBackBufferGrab {
public:
    // Reads the back buffer's rows, bottom row first.
    void Read() {
        GLint packAlignment = 4, readBuffer = GL_BACK;
        glGetIntegerv(GL_PACK_ALIGNMENT, &packAlignment);
        glGetIntegerv(GL_READ_BUFFER, &readBuffer);
        glPixelStorei(GL_PACK_ALIGNMENT, 1);
        glReadBuffer(GL_BACK);
        rows_.resize(kRowBytes * kFluidWindowHeight);
        glReadPixels(0, 0, kFluidWindowWidth, kFluidWindowHeight, GL_RGB, GL_UNSIGNED_BYTE, rows_.data());
        glReadBuffer(static_cast<GLenum>(readBuffer));
        glPixelStorei(GL_PACK_ALIGNMENT, packAlignment);
    }
    // The last rows read as an RGB24 pixmap, top row first; null before any Read.
    std::shared_ptr<TPixmap> Pixmap() const {
        if (rows_.empty()) return nullptr;
        auto frame = TPixmap::Create(kFluidWindowWidth, kFluidWindowHeight, PIXFMT_RGB24, 1);
        for (int32_t y = 0; y < kFluidWindowHeight; ++y)
            std::memcpy(frame->PixelPtr(0, y), rows_.data() + (kFluidWindowHeight - 1 - y) * kRowBytes,
                        kRowBytes);
        return frame;
    }

private:
    static constexpr std::size_t kRowBytes = std::size_t{kFluidWindowWidth} * 3;
    std::vector<unsigned char> rows_;
};

// A path the user gave, relative to where the program was started (the
// start-up moves the working directory to the program's own).
std::string FromLaunchDirectory(const std::string& path) {
    if (path.empty() || IsAbsolutePath(path)) return path;
    return LaunchDirectory() + "/" + path;
}

// One frame's status-line measurements and the frame-rate window.
struct TFrameTimes {
    int32_t updateMillis = 0;
    int32_t renderMillis = 0;
    int32_t framesPerSecond = 0;
    int32_t frameCount = 0;
    int32_t windowStart = 0;
};

// Counts the frame; after more than half a second the rate is refreshed.
void CountFrame(TFrameTimes& times) {
    ++times.frameCount;
    if (MillisBetween(times.windowStart, CurrentMillis()) > kRateWindowMillis) {
        times.framesPerSecond = times.frameCount * (1000 / kRateWindowMillis);
        times.frameCount = 0;
        times.windowStart = CurrentMillis();
    }
}

// The world's Render and the page flip, timed together. A screenshot is read
// from the back buffer just before the flip; its read-back is not counted.
void RenderAndFlip(TSPH& world, TFrameTimes& times, TBackBufferGrab* grab) {
    int32_t start = CurrentMillis();
    world.Render();
    if (grab) {
        const int32_t readStart = CurrentMillis();
        grab->Read();
        start += MillisBetween(readStart, CurrentMillis());
    }
    FlipPage(0);
    times.renderMillis = MillisBetween(start, CurrentMillis());
}

}  // namespace

const char* const kFluidUsage =
    "usage: fluid [--frames N] [--screenshot FILE] [--smooth] [--help]\n"
    "  --frames N         end after N frames and print the last status line\n"
    "  --screenshot FILE  save the last frame drawn as an 800 by 600 PNG\n"
    "  --smooth           start with the smooth density field instead of blobs\n"
    "  --help             print this text\n"
    "Controls: left click pours liquid, right click builds wall, Space switches\n"
    "the drawing, Escape or the close box ends the program.\n";

bool ParseFluidOptions(const std::vector<std::string>& args, TFluidOptions& options,
                       std::string& error) {
    for (std::size_t i = 0; i < args.size(); ++i) {
        const std::string& arg = args[i];
        const bool hasValue = i + 1 < args.size();
        if (arg == "--help" || arg == "-h") {
            options.help = true;
        } else if (arg == "--smooth") {
            options.smooth = true;
        } else if (arg == "--frames") {
            if (!hasValue) return error = "--frames needs a number of frames", false;
            const std::string& text = args[++i];
            long long n = 0;
            if (!WholeNumberIn(text, 0, std::numeric_limits<int64_t>::max(), n))
                return error = "--frames takes a whole number of frames, 0 or more, not \"" + text +
                               "\"",
                       false;
            options.frames = n;
        } else if (arg == "--screenshot") {
            if (!hasValue || args[i + 1].empty())
                return error = "--screenshot needs a file name", false;
            options.screenshot = args[++i];
        } else {
            return error = "unknown option \"" + arg + "\"", false;
        }
    }
    return true;
}

std::string HudText(int32_t updateMillis, int32_t renderMillis, int32_t framesPerSecond,
                    int32_t particles) {
    return "Updatezeit: " + Fixed(updateMillis, kUpdateWidth) + "ms  Renderzeit: " +
           Fixed(renderMillis, kRenderWidth) + "ms  FPS: " + Fixed(framesPerSecond, kRateWidth) +
           " Partikel: " + std::to_string(particles);
}

void HandleInput(TSPH& world) {
    // An even number of presses since the last frame leaves the mode as it was.
    const int32_t presses = KeyHitCount(kKeySpace);
    if (presses % 2 != 0) world.NiceRender = world.NiceRender == 0 ? 1 : 0;
    const int32_t mx = PointerX(), my = PointerY();
    // Any number of clicks within one frame gives one block.
    if (MouseHitCount(kButtonLeft) != 0)
        ClearAndFill(world, mx, my, kPourClearHalf, kPourFillHalf, TSPH::PARTICLE_SPACING,
                     &TSPH::AddParticle);
    if (MouseHitCount(kButtonRight) != 0)
        ClearAndFill(world, mx, my, kWallClearHalf, kWallFillHalf, TSPH::BOUNDARY_SPACING,
                     &TSPH::AddBoundaryParticle);
}

bool InitDisplay(std::string& error) {
    if (!OpenGLGraphics(kFluidWindowWidth, kFluidWindowHeight, kWindowDepth, kWindowHertz,
                        kWindowFlags)) {
        error = LastWindowContextError();
        if (error.empty()) error = "the graphics driver made no window";
        return false;
    }
    // Only the extension entry points are wanted; the program runs on plain GL 1.1 anyway.
    (void)glewInit();
    glMatrixMode(GL_PROJECTION);
    glLoadIdentity();
    glOrtho(0, kFluidWindowWidth, kFluidWindowHeight, 0, -1, 1);
    glMatrixMode(GL_MODELVIEW);
    glLoadIdentity();
    // Sprite texels and strip vertices of alpha exactly 0 are never drawn.
    glEnable(GL_ALPHA_TEST);
    glAlphaFunc(GL_GREATER, 0);
    return true;
}

std::string ParticleImagePath() {
    const std::string& directory = ProgramDirectory();
    if (directory.empty()) return kParticleImageName;
    if (directory.back() == '/') return directory + kParticleImageName;
    return directory + "/" + kParticleImageName;
}

int32_t LoadParticleTexture(const std::string& path) {
    // The path is a plain file name, never a protocol URL.
    std::string why;
    std::shared_ptr<TCStream> file = TCStream::OpenFile(path, 1, 0, &why);
    if (!file) throw TRuntimeError(path + ": " + why);
    std::shared_ptr<TPixmap> image;
    try {
        image = LoadPNGPixmap(TUrl(file));
    } catch (const TRuntimeError&) {
        image = nullptr;  // the data ended early
    }
    if (!image) throw TRuntimeError(path + ": not a PNG image, or a damaged or truncated one");
    try {
        return UploadPixmapTexture(image, 1);
    } catch (const TRuntimeError& e) {
        throw TRuntimeError(path + ": " + e.what());
    }
}

TFrameLoopResult RunFrameLoop(TSPH& world, const TFluidOptions& options) {
    TFrameLoopResult result;
    TFrameTimes times;
    times.windowStart = CurrentMillis();
    TBackBufferGrab grab;
    const bool capture = !options.screenshot.empty();
    for (;;) {
        if (KeyHitCount(kKeyEscape) != 0) break;
        if (TerminateRequested() != 0) break;
        if (options.frames >= 0 && result.frames >= options.frames) break;
        glClear(GL_COLOR_BUFFER_BIT);
        HandleInput(world);
        glColor4f(1, 1, 1, 1);
        const std::string hud = HudText(times.updateMillis, times.renderMillis,
                                        times.framesPerSecond, ParticleCount);
        DrawGLText(hud, 0, 0);
        const int32_t start = CurrentMillis();
        world.Update();
        times.updateMillis = MillisBetween(start, CurrentMillis());
        RenderAndFlip(world, times, capture ? &grab : nullptr);
        CountFrame(times);
        ++result.frames;
        result.lastHud = hud;
    }
    result.lastFrame = grab.Pixmap();
    return result;
}

namespace {

// Options read, window open, texture made, scene built: the frames, then the
// screenshot and the last status line. Returns the exit status.
int RunFluid(const TFluidOptions& options) {
    std::string why;
    if (!InitDisplay(why)) {
        std::fprintf(stderr, "fluid: cannot open the %d by %d OpenGL window: %s\n",
                     kFluidWindowWidth, kFluidWindowHeight, why.c_str());
        return 1;
    }
    auto world = std::make_shared<TRenderedSPH>();
    try {
        world->ParticleTex = LoadParticleTexture(ParticleImagePath());
    } catch (const TRuntimeError& e) {
        std::fprintf(stderr, "fluid: cannot load the particle image %s\n", e.what());
        return 1;
    }
    BuildScene(world);
    if (options.smooth) world->NiceRender = 1;

    const TFrameLoopResult result = RunFrameLoop(*world, options);

    int status = 0;
    if (!options.screenshot.empty()) {
        const std::string path = FromLaunchDirectory(options.screenshot);
        const std::string problem =
            result.lastFrame ? SavePNGFile(result.lastFrame, path, kScreenshotCompression) : "no frame was drawn";
        if (!problem.empty()) {
            std::fprintf(stderr, "fluid: cannot write the screenshot %s: %s\n", path.c_str(),
                         problem.c_str());
            status = 1;
        }
    }
    // Whether this reached stdout is checked as the program ends.
    if (options.frames >= 0 && result.frames > 0) {
        std::printf("%s\n", result.lastHud.c_str());
        FlushStandardOutput();
    }
    return status;
}

}  // namespace

int FluidMain(int argc, char** argv) {
    RuntimeStartup(argc, argv);
    const std::vector<std::string>& all = ProgramArguments();
    const std::vector<std::string> args(all.empty() ? all.begin() : all.begin() + 1, all.end());
    TFluidOptions options;
    std::string error;
    if (!ParseFluidOptions(args, options, error)) {
        std::fprintf(stderr, "fluid: %s\n%s", error.c_str(), kFluidUsage);
        return 2;
    }
    if (options.help) {
        std::fputs(kFluidUsage, stdout);
        return 0;
    }
    StartGLGraphicsModule();
    return RunFluid(options);
}
