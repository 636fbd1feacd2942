#include "app/fluid_app.h"

// GLEW's header declares the whole GL API; it must come before any other GL header.
#include <GL/glew.h>

#include <algorithm>
#include <cstdio>
#include <cstring>
#include <exception>
#include <limits>

#include "app/play_files.h"
#include "app/scene.h"
#include "app/state_dump.h"
#include "graphics/gl/gl_graphics.h"
#include "graphics/gl/gl_utils.h"
#include "graphics/graphics.h"
#include "image/png.h"
#include "render/fluid_renderer.h"
#include "stream/replacing_file.h"
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
constexpr int32_t kKeyPause = 'P';
constexpr int32_t kKeyStep = 'N';
constexpr int32_t kKeyReset = 'R';
constexpr int32_t kButtonLeft = 1;
constexpr int32_t kButtonRight = 2;

// A paused frame says so at the top right, in the status line's font.
const char* const kPauseText = "Pause";
constexpr int32_t kFontCellWidth = 8;

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
            std::memcpy(frame->PixelPtr(0, y), rows_.data() + (kFluidWindowHeight - 1 - y) * kRowBytes, kRowBytes);
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

// The world's Update, timed for the status line; a frame that holds still
// (paused) shows 0 in the next one.
void UpdateTimed(TSPH& world, TFrameTimes& times, bool step) {
    if (!step) {
        times.updateMillis = 0;
        return;
    }
    const int32_t start = CurrentMillis();
    world.Update();
    times.updateMillis = MillisBetween(start, CurrentMillis());
}

// Draws the status line, in white, and on a paused frame the word at the top
// right; returns the status line.
std::string DrawStatus(const TFrameTimes& times, bool paused) {
    glColor4f(1, 1, 1, 1);
    const std::string hud = HudText(times.updateMillis, times.renderMillis, times.framesPerSecond, ParticleCount);
    DrawGLText(hud, 0, 0);
    if (paused)
        DrawGLText(kPauseText, kFluidWindowWidth - kFontCellWidth * static_cast<int32_t>(std::strlen(kPauseText)), 0);
    return hud;
}

// The frames' input: the recording while it lasts, then the polled input.
// The polled input is read during a replay all the same: it pumps the
// window's messages, Escape and the close box end a replay too, and what a
// person does meanwhile is dropped rather than acted on later.
class TFrameSource {
public:
    explicit TFrameSource(const TFrameFeed& feed) : feed_(feed) {}

    // The loop test, which starts the frame's input: true when Escape (live
    // or replayed) or a close request ends the run.
    bool LoopEnds(TFrameInput& input) {
        input = TFrameInput{};
        input.escapeHits = KeyHitCount(kKeyEscape);
        if (input.escapeHits == 0 && Replaying()) input.escapeHits = (*feed_.replay)[next_].escapeHits;
        if (input.escapeHits != 0) return true;
        return TerminateRequested() != 0;
    }
    // The rest of the frame's input, after the loop test.
    void ReadControls(TFrameInput& input) {
        ReadFrameControls(input);
        if (!Replaying()) return;
        const int32_t escapeHits = input.escapeHits;
        input = (*feed_.replay)[next_++];
        input.escapeHits = escapeHits;
    }

private:
    bool Replaying() const { return feed_.replay && next_ < feed_.replay->size(); }

    const TFrameFeed& feed_;
    std::size_t next_ = 0;
};

// Hands what the frame read to the recorder; false, with why in result, when
// it could not be written.
bool Record(const TFrameFeed& feed, const TFrameInput& input, TFrameLoopResult& result) {
    if (!feed.recorder || !feed.recorder->Recording()) return true;
    return feed.recorder->Add(input, result.recordFailure);
}

// The options that name a file, and where each goes; null for any other.
std::string* FileOption(const std::string& arg, TFluidOptions& options) {
    if (arg == "--screenshot") return &options.screenshot;
    if (arg == "--record") return &options.record;
    if (arg == "--replay") return &options.replay;
    if (arg == "--dump") return &options.dump;
    return nullptr;
}

}  // namespace

const char* const kFluidUsage =
    "usage: fluid [--frames N] [--screenshot FILE] [--smooth] [--record FILE] [--replay FILE]\n"
    "             [--dump FILE] [--help] [--version]\n"
    "  --frames N         end after N frames and print the last status line\n"
    "  --screenshot FILE  save the last frame drawn as an 800 by 600 PNG\n"
    "  --smooth           start with the smooth density field instead of blobs\n"
    "  --record FILE      record every frame's input (written as FILE.part until the end)\n"
    "  --replay FILE      play the input recorded in FILE, then go on with the live input\n"
    "  --dump FILE        write the final simulation state, as fluid-bench --dump does\n"
    "  --help             print this text\n"
    "  --version          print the version\n"
    "Controls: left click pours liquid, right click builds wall, Space switches\n"
    "the drawing, P pauses and resumes, N steps once while paused, R starts the\n"
    "scene over, Escape or the close box ends the program.\n";

bool ParseFluidOptions(const std::vector<std::string>& args, TFluidOptions& options, std::string& error) {
    for (std::size_t i = 0; i < args.size(); ++i) {
        const std::string& arg = args[i];
        const bool hasValue = i + 1 < args.size();
        if (arg == "--help" || arg == "-h") {
            options.help = true;
        } else if (arg == "--version") {
            options.version = true;
        } else if (arg == "--smooth") {
            options.smooth = true;
        } else if (arg == "--frames") {
            if (!hasValue) return error = "--frames needs a number of frames", false;
            const std::string& text = args[++i];
            long long n = 0;
            if (!WholeNumberIn(text, 0, std::numeric_limits<int64_t>::max(), n))
                return error = "--frames takes a whole number of frames, 0 or more, not \"" + text + "\"", false;
            options.frames = n;
        } else if (std::string* file = FileOption(arg, options)) {
            if (!hasValue || args[i + 1].empty()) return error = arg + " needs a file name", false;
            *file = args[++i];
        } else {
            return error = "unknown option \"" + arg + "\"", false;
        }
    }
    return true;
}

std::string HudText(int32_t updateMillis, int32_t renderMillis, int32_t framesPerSecond, int32_t particles) {
    return "Updatezeit: " + Fixed(updateMillis, kUpdateWidth) + "ms  Renderzeit: " + Fixed(renderMillis, kRenderWidth) +
           "ms  FPS: " + Fixed(framesPerSecond, kRateWidth) + " Partikel: " + std::to_string(particles);
}

void ReadFrameControls(TFrameInput& input) {
    input.spaceHits = KeyHitCount(kKeySpace);
    input.pointerX = PointerX();
    input.pointerY = PointerY();
    input.leftHits = MouseHitCount(kButtonLeft);
    input.rightHits = MouseHitCount(kButtonRight);
    input.pauseHits = KeyHitCount(kKeyPause);
    input.stepHits = KeyHitCount(kKeyStep);
    input.resetHits = KeyHitCount(kKeyReset);
    input.leftDown = IsMouseButtonDown(kButtonLeft);
    input.rightDown = IsMouseButtonDown(kButtonRight);
}

void HandleInput(TSPH& world) {
    TFrameInput input;
    ReadFrameControls(input);
    TPlayState running;
    ApplyFrameInput(world, running, input);
}

bool InitDisplay(std::string& error) {
    if (!OpenGLGraphics(kFluidWindowWidth, kFluidWindowHeight, kWindowDepth, kWindowHertz, kWindowFlags)) {
        error = OpenGLGraphicsError();
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

TFrameLoopResult RunFrameLoop(TSPH& world, const TFluidOptions& options, const TFrameFeed& feed) {
    TFrameLoopResult result;
    TFrameTimes times;
    times.windowStart = CurrentMillis();
    TBackBufferGrab grab;
    const bool capture = !options.screenshot.empty();
    TFrameSource source(feed);
    TPlayState play;
    for (;;) {
        TFrameInput input;
        // Window messages are pumped inside the polled-input queries of LoopEnds and ReadControls: each runs PumpMessages first.
        if (source.LoopEnds(input)) {
            // The Escape that ends a run is recorded, so that its replay ends there too.
            if (input.escapeHits != 0) Record(feed, input, result);
            break;
        }
        if (options.frames >= 0 && result.frames >= options.frames) break;
        glClear(GL_COLOR_BUFFER_BIT);
        source.ReadControls(input);
        if (!Record(feed, input, result)) break;
        const bool step = ApplyFrameInput(world, play, input);
        const std::string hud = DrawStatus(times, play.paused);
        UpdateTimed(world, times, step);
        RenderAndFlip(world, times, capture ? &grab : nullptr);
        CountFrame(times);
        ++result.frames;
        result.lastHud = hud;
    }
    result.lastFrame = grab.Pixmap();
    return result;
}

namespace {

// Says on stderr that what could not be done with the file at path, and why.
void SayCannot(const char* what, const std::string& path, const std::string& why) {
    std::fprintf(stderr, "fluid: cannot %s %s: %s\n", what, path.c_str(), why.c_str());
}

// The files a run writes as it goes or at its end.
struct TRunOutputs {
    TRecorder recorder;
    std::shared_ptr<TReplacingFile> dump;
};

// Opens the recording and the dump before the first frame; false after saying why.
bool OpenOutputs(const TFluidOptions& options, TRunOutputs& outputs) {
    std::string why;
    const std::string record = FromLaunchDirectory(options.record);
    if (!record.empty() && !outputs.recorder.Start(record, why))
        return SayCannot("write the recording", record, why), false;
    const std::string dump = FromLaunchDirectory(options.dump);
    if (!dump.empty() && !(outputs.dump = TReplacingFile::Create(dump, &why)))
        return SayCannot("write the state dump", dump, why), false;
    return true;
}

// The frame loop fed with the replay and the recorder. An error that ends
// the run still puts the recording so far in place, for it may show how it came.
TFrameLoopResult RunFeedLoop(TSPH& world, const TFluidOptions& options, const TRecording& replay, TRecorder& recorder) {
    TFrameFeed feed;
    if (!options.replay.empty()) feed.replay = &replay.frames;
    if (!options.record.empty()) feed.recorder = &recorder;
    try {
        return RunFrameLoop(world, options, feed);
    } catch (...) {
        std::string why;
        if (recorder.Recording() && !recorder.Finish(why))
            SayCannot("write the recording", FromLaunchDirectory(options.record), why);
        throw;
    }
}

// Writes the screenshot; false after saying why.
bool SaveScreenshot(const TFluidOptions& options, const TFrameLoopResult& result) {
    const std::string path = FromLaunchDirectory(options.screenshot);
    const std::string problem =
        result.lastFrame ? SavePNGFile(result.lastFrame, path, kScreenshotCompression) : "no frame was drawn";
    if (!problem.empty()) SayCannot("write the screenshot", path, problem);
    return problem.empty();
}

// Puts the recording and the dump in place and writes the screenshot, each
// that was asked for; the exit status.
int FinishOutputs(const TFluidOptions& options, const TFrameLoopResult& result, const TSPH& world,
                  TRunOutputs& outputs) {
    int status = 0;
    std::string why = result.recordFailure;
    const std::string record = FromLaunchDirectory(options.record);
    if (!record.empty() && (!why.empty() || !outputs.recorder.Finish(why)))
        SayCannot("write the recording", record, why), status = 1;
    if (!options.dump.empty() && !WriteStateDump(*outputs.dump, world, why))
        SayCannot("write the state dump", FromLaunchDirectory(options.dump), why), status = 1;
    if (!options.screenshot.empty() && !SaveScreenshot(options, result)) status = 1;
    return status;
}

// The window, the particle texture and the scene; null after saying why.
std::shared_ptr<TRenderedSPH> OpenWorld(const TFluidOptions& options) {
    std::string why;
    if (!InitDisplay(why)) {
        std::fprintf(stderr, "fluid: cannot open the %d by %d OpenGL window: %s\n", kFluidWindowWidth,
                     kFluidWindowHeight, why.c_str());
        return nullptr;
    }
    auto world = std::make_shared<TRenderedSPH>();
    try {
        world->ParticleTex = LoadParticleTexture(ParticleImagePath());
    } catch (const TRuntimeError& e) {
        std::fprintf(stderr, "fluid: cannot load the particle image %s\n", e.what());
        return nullptr;
    }
    BuildScene(world);
    if (options.smooth) world->NiceRender = 1;
    return world;
}

// Options read: the replay checked, the outputs opened, the window, texture
// and scene made; the frames, then the outputs and the last status line.
// Returns the exit status.
int RunFluid(const TFluidOptions& options) {
    // A recording that is none fails before anything is opened or written.
    TRecording replay;
    if (!options.replay.empty() && !LoadReplay("fluid", FromLaunchDirectory(options.replay), replay)) return 1;
    // Opened first, so that a path that cannot be written fails at once; a
    // start-up that fails later removes the part files again.
    TRunOutputs outputs;
    if (!OpenOutputs(options, outputs)) return 1;
    const std::shared_ptr<TRenderedSPH> world = OpenWorld(options);
    if (!world) return 1;

    const TFrameLoopResult result = RunFeedLoop(*world, options, replay, outputs.recorder);

    const int status = FinishOutputs(options, result, *world, outputs);
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
    if (options.version) {
        std::printf("fluid %s\n", FerrumkitVersion());
        return 0;
    }
    StartGLGraphicsModule();
    return RunFluid(options);
}
