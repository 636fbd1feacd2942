// fluid as a user meets it: started on a private X server, clicked and typed
// at with XTest, its status line read off the screen in the built-in font,
// ended with Escape or the close box; and started without a display, without
// its particle image or with a damaged one, and with bad options.

// GoogleTest comes before Xlib, whose None macro it would trip over.
#include <gtest/gtest.h>

#include "tests/support/full_disk.h"
#include "tests/support/temp_dir.h"
#include "tests/support/x11_helpers.h"
#include "tests/support/xvfb.h"

#include "graphics/gl/gl_graphics.h"
#include "image/png.h"
#include "stream/embedded.h"

#include <X11/Xutil.h>
#include <X11/keysym.h>
#include <fcntl.h>
#include <signal.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cstdint>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <functional>
#include <iterator>
#include <random>
#include <regex>
#include <string>
#include <vector>

namespace {

static auto* const kXvfb = RegisterXvfbEnvironment();

const char* const kFirstStatusLine = "Updatezeit: 0  ms  Renderzeit: 0   ms  FPS: 0    Partikel: 3749";
const int kCellWidth = 8, kCellHeight = 16, kGlyphs = 96, kFirstCode = 32;
// Long enough for any status line of this program.
const int kStatusCells = 72;

// fluid (or a copy of it at program) with args; DISPLAY unset when display is null.
std::function<int()> Fluid(std::vector<std::string> args, const char* display = "", std::string program = FLUID_PATH) {
    return [=] {
        if (!display) unsetenv("DISPLAY");
        std::vector<char*> argv{const_cast<char*>(program.c_str())};
        for (const std::string& a : args) argv.push_back(const_cast<char*>(a.c_str()));
        argv.push_back(nullptr);
        execv(program.c_str(), argv.data());
        return 127;
    };
}

// A pixel source: colour 0xRRGGBB at (x, y).
using PixelAt = std::function<uint32_t(int, int)>;

// The text of a row of 8 by 16 cells at the top-left corner, read glyph by
// glyph against the built-in font: ink is any bright pixel. A cell that
// matches no glyph reads as '?'.
std::string ReadText(const PixelAt& pixel, int cells) {
    StartGLGraphicsModule();  // registers the font
    const auto* font = static_cast<const unsigned char*>(EmbeddedFileData("gldrawtextfont.bin"));
    if (!font) return "<no font>";
    std::string text;
    for (int c = 0; c < cells; ++c) {
        unsigned char rows[kCellHeight];
        for (int y = 0; y < kCellHeight; ++y) {
            rows[y] = 0;
            for (int k = 0; k < kCellWidth; ++k) {
                const uint32_t rgb = pixel(c * kCellWidth + k, y);
                if (((rgb >> 16) & 0xFF) > 127 && ((rgb >> 8) & 0xFF) > 127 && (rgb & 0xFF) > 127) rows[y] |= 1u << k;
            }
        }
        char found = '?';
        for (int g = 0; g < kGlyphs && found == '?'; ++g) {
            bool same = true;
            for (int y = 0; y < kCellHeight && same; ++y) same = font[kGlyphs * y + g] == rows[y];
            if (same) found = static_cast<char>(kFirstCode + g);
        }
        text += found;
    }
    // Trailing cells hold nothing.
    return text.substr(0, text.find_last_not_of(' ') + 1);
}

// Pixels of an RGB24 pixmap.
PixelAt PixmapPixels(const std::shared_ptr<TPixmap>& image) {
    return [image](int x, int y) {
        const unsigned char* p = image->PixelPtr(x, y);
        return (uint32_t{p[0]} << 16) | (uint32_t{p[1]} << 8) | p[2];
    };
}

// What the server shows of a rectangle of window w, read at once: its
// pixels by window coordinates, or null when the server refused it.
PixelAt Grab(Display* d, Window w, int left, int top, int width, int height) {
    std::shared_ptr<XImage> image(XGetImage(d, w, left, top, width, height, AllPlanes, ZPixmap), [](XImage* i) {
        if (i) XDestroyImage(i);
    });
    if (!image) return nullptr;
    return [=](int x, int y) { return static_cast<uint32_t>(XGetPixel(image.get(), x - left, y - top)) & 0xFFFFFF; };
}

// The particle count of the status line w shows, or -1 while unreadable.
int ShownParticleCount(Display* d, Window w) {
    const PixelAt area = Grab(d, w, 0, 0, kStatusCells * kCellWidth, kCellHeight);
    std::smatch m;
    const std::string text = area ? ReadText(area, kStatusCells) : "";
    return std::regex_search(text, m, std::regex("Partikel: ([0-9]+)$")) ? std::stoi(m[1]) : -1;
}

// Which drawing w shows, judged by the pool along the bottom edge: sprite
// mode sums the tinted sprites into white, smooth mode blends a blue field
// (red equal to green, well below blue).
enum class Drawing { Sprites, Smooth, Unclear };
Drawing ShownDrawing(Display* d, Window w) {
    const int left = 700, top = 586, width = 40, height = 4;
    const PixelAt area = Grab(d, w, left, top, width, height);
    if (!area) return Drawing::Unclear;
    int white = 0, blue = 0;
    for (int y = top; y < top + height; ++y)
        for (int x = left; x < left + width; ++x) {
            const uint32_t c = area(x, y);
            const int r = (c >> 16) & 0xFF, g = (c >> 8) & 0xFF, b = c & 0xFF;
            white += r > 200 && g > 200 && b > 200;
            blue += r == g && b > r + 60;
        }
    const int most = width * height * 9 / 10;
    return white >= most ? Drawing::Sprites : blue >= most ? Drawing::Smooth : Drawing::Unclear;
}

class FluidProgram : public ::testing::Test {
protected:
    // Waits until fluid's window is viewable and focused and its first status line is shown.
    void Start(ChildProcess& fluid) {
        ASSERT_NE(d, nullptr);
        ASSERT_TRUE(fluid.Started());
        ASSERT_TRUE(WaitFor(fluid, [&] {
            for (Window found : FindWindowsByClass(d, "Ferrumkit GLGraphics"))
                if (BoxOf(d, found).viewable) return (window = found) != 0;
            return false;
        })) << fluid.err;
        FocusWindow(d, window);
        ASSERT_TRUE(WaitForCount(3749, fluid)) << fluid.err;
    }
    // Waits up to 30 s for shown while collecting fluid's output.
    static bool WaitFor(ChildProcess& fluid, const std::function<bool()>& shown) {
        return WaitUntil(
            shown, [&] { fluid.Collect(20); }, 30000);
    }
    bool WaitForCount(int count, ChildProcess& fluid) {
        return WaitFor(fluid, [&] { return ShownParticleCount(d, window) == count; });
    }
    bool WaitForDrawing(Drawing want, ChildProcess& fluid) {
        return WaitFor(fluid, [&] { return ShownDrawing(d, window) == want; });
    }

    void Click(unsigned button, int x, int y) {
        MovePointerIn(d, window, x, y);
        FakeButton(d, button, true);
        FakeButton(d, button, false);
    }

    // The exit status; with --frames the last line on stdout is a status line.
    void ExpectCleanExit(ChildProcess& fluid, int particles) {
        EXPECT_EQ(fluid.WaitForExit(), 0) << fluid.err;
        EXPECT_EQ(fluid.err, "");
        const auto lines = ChildProcess::Lines(fluid.out);
        ASSERT_EQ(lines.size(), 1u) << fluid.out;
        EXPECT_TRUE(
            std::regex_match(lines[0], std::regex("Updatezeit: .{3}ms  Renderzeit: .{4}ms  FPS: .{4} Partikel: " +
                                                  std::to_string(particles))))
            << lines[0];
    }

    XConnection connection;
    Display* d = connection.get();
    Window window = 0;
};

}  // namespace

// One frame, its screenshot named relative to where fluid was started (not where it lives).
TEST_F(FluidProgram, FirstFrameShowsTheStartingStatusLineAndTheWalls) {
    TempDir dir;
    const std::string cwd = std::filesystem::current_path().string();
    std::filesystem::current_path(dir.path);
    ChildProcess fluid(Fluid({"--frames", "1", "--screenshot", "first.png"}));
    const int status = fluid.WaitForExit(60000);
    std::filesystem::current_path(cwd);
    ASSERT_EQ(status, 0) << fluid.err;
    EXPECT_EQ(fluid.out, std::string(kFirstStatusLine) + "\n");
    EXPECT_EQ(fluid.err, "");
    std::shared_ptr<TPixmap> image = LoadPNGPixmap(dir.File("first.png"));
    ASSERT_NE(image, nullptr);
    EXPECT_EQ(std::make_pair(image->width, image->height), std::make_pair(800, 600));
    ASSERT_EQ(image->format, PIXFMT_RGB24);
    const PixelAt pixel = PixmapPixels(image);
    EXPECT_EQ(ReadText(pixel, kStatusCells), kFirstStatusLine);
    // The floor's first wall particle is a light-red square centred at (50, 500).
    for (int dy = -2; dy <= 2; ++dy)
        for (int dx = -2; dx <= 2; ++dx) EXPECT_EQ(pixel(50 + dx, 500 + dy), 0xFF8080u);
}

TEST_F(FluidProgram, ClicksPourAndBuildSpaceSwitchesTheDrawingAndEscapeEndsTheRun) {
    ChildProcess fluid(Fluid({"--frames", "100000000"}));
    ASSERT_NO_FATAL_FAILURE(Start(fluid));
    EXPECT_TRUE(WaitForDrawing(Drawing::Sprites, fluid));
    for (Drawing want : {Drawing::Smooth, Drawing::Sprites}) {
        TapKey(d, XK_space);
        EXPECT_TRUE(WaitForDrawing(want, fluid));
    }
    Click(Button1, 400, 100);  // open space: 16 x 16 particles
    ASSERT_TRUE(WaitForCount(3749 + 256, fluid));
    Click(Button3, 650, 150);  // 4 x 4 wall particles
    ASSERT_TRUE(WaitForCount(3749 + 256 + 16, fluid));
    Click(Button1, 5, 5);  // clamped at the corner: 9 x 9
    ASSERT_TRUE(WaitForCount(3749 + 256 + 16 + 81, fluid));
    TapKey(d, XK_Escape);
    ExpectCleanExit(fluid, 3749 + 256 + 16 + 81);
}

TEST_F(FluidProgram, SmoothStartAndTheCloseBoxEndingTheRun) {
    ChildProcess fluid(Fluid({"--frames", "100000000", "--smooth"}));
    ASSERT_NO_FATAL_FAILURE(Start(fluid));
    EXPECT_TRUE(WaitForDrawing(Drawing::Smooth, fluid));
    SendCloseRequest(d, window);
    ExpectCleanExit(fluid, 3749);
}

TEST_F(FluidProgram, FailuresToStartSayWhyWithStatusOne) {
    TempDir dir;
    const std::string program = dir.File("fluid");
    std::filesystem::copy_file(FLUID_PATH, program);
    const std::string image = ReadFileBytes(std::string(FLUID_DIR) + "/Metaball.png");
    ASSERT_GT(image.size(), 200u);
    const std::string path = dir.File("Metaball.png");
    struct Case {
        const char* name;
        std::function<void()> prepare;
        const char* display;
        std::string want;  // a part of the one line on stderr
    };
    std::string damaged = image;
    damaged[damaged.size() / 2] ^= 0x55;  // inside the image data: its CRC no longer holds
    const Case cases[] = {
        {"no display", [] {}, nullptr, "fluid: cannot open the 800 by 600 OpenGL window: X11: "},
        {"no image", [] {}, "", path + ": No such file or directory"},
        {"truncated", [&] { WriteFileBytes(path, image.substr(0, 100)); }, "",
         path + ": not a PNG image, or a damaged or truncated one"},
        {"damaged", [&] { WriteFileBytes(path, damaged); }, "",
         path + ": not a PNG image, or a damaged or truncated one"},
        {"a directory",
         [&] {
             std::filesystem::remove(path);
             std::filesystem::create_directory(path);
         },
         "", path + ": it is a directory"},
        // Opened as it was, the pipe would wait for a writer with the window open.
        {"a named pipe",
         [&] {
             std::filesystem::remove(path);
             mkfifo(path.c_str(), 0600);
         },
         "", path + ": it is a named pipe (FIFO), not a regular file"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        c.prepare();
        ChildProcess fluid(Fluid({"--frames", "5"}, c.display, program));
        EXPECT_EQ(fluid.WaitForExit(60000), 1);
        EXPECT_EQ(fluid.out, "");
        const auto lines = ChildProcess::Lines(fluid.err);
        ASSERT_EQ(lines.size(), 1u) << fluid.err;
        EXPECT_NE(lines[0].find(c.want), std::string::npos) << lines[0];
    }
}

TEST_F(FluidProgram, OptionsAndOutputFailures) {
    TempDir dir;
    // Which options are refused is the parser's suite; here, what a refusal does.
    ChildProcess refused(Fluid({"--frames", "x"}));
    EXPECT_EQ(refused.WaitForExit(), 2);
    EXPECT_EQ(refused.out, "");
    EXPECT_NE(refused.err.find("usage: fluid"), std::string::npos) << refused.err;
    ChildProcess help(Fluid({"--help"}, nullptr));
    EXPECT_EQ(help.WaitForExit(), 0);
    EXPECT_EQ(help.out.rfind("usage: fluid", 0), 0u) << help.out;

    // No frame asked for: a clean end with nothing printed.
    ChildProcess none(Fluid({"--frames", "0"}));
    EXPECT_EQ(none.WaitForExit(60000), 0) << none.err;
    EXPECT_EQ(none.out + none.err, "");
    // A screenshot that cannot be written is a failure, the status line still printed.
    for (const std::string& target : {std::string("/dev/full"), dir.File("missing/shot.png")}) {
        ChildProcess fluid(Fluid({"--frames", "2", "--screenshot", target}));
        EXPECT_EQ(fluid.WaitForExit(60000), 1) << target;
        EXPECT_EQ(ChildProcess::Lines(fluid.out).size(), 1u);
        EXPECT_NE(fluid.err.find("fluid: cannot write the screenshot " + target), std::string::npos) << fluid.err;
    }
    // A status line that cannot be printed fails the run too.
    ChildProcess full([] {
        const int fd = open("/dev/full", O_WRONLY);
        if (fd < 0 || dup2(fd, 1) < 0) return 126;
        return Fluid({"--frames", "1"})();
    });
    EXPECT_EQ(full.WaitForExit(60000), 1);
    EXPECT_NE(full.err.find("fluid: cannot write standard output: No space left on device"), std::string::npos)
        << full.err;
}

// The Windows program to run under Wine, or null.
const char* WindowsFluid() { return std::getenv("FK_WINDOWS_FLUID"); }

// fluid.exe under Wine with args, which Wine reads as UTF-8.
std::function<int()> FluidUnderWine(std::vector<std::string> args) {
    return [=] {
        setenv("LC_ALL", "C.UTF-8", 1);
        std::vector<char*> argv{const_cast<char*>("wine"), const_cast<char*>(WindowsFluid())};
        for (const std::string& a : args) argv.push_back(const_cast<char*>(a.c_str()));
        argv.push_back(nullptr);
        execvp("wine", argv.data());
        return 127;
    };
}

// A Linux path as Wine's drive Z: shows it.
std::string OnDriveZ(std::string path) {
    std::replace(path.begin(), path.end(), '/', '\\');
    return "Z:" + path;
}

// Parameter: false for fluid, true for fluid.exe under Wine (FK_WINDOWS_FLUID).
class FluidFiles : public FluidProgram, public ::testing::WithParamInterface<bool> {
protected:
    void SetUp() override {
        if (GetParam() && !WindowsFluid()) GTEST_SKIP() << "FK_WINDOWS_FLUID is not set";
    }
    std::function<int()> Run(const std::vector<std::string>& args) {
        return GetParam() ? FluidUnderWine(args) : Fluid(args);
    }
    std::string Native(const std::string& path) { return GetParam() ? OnDriveZ(path) : path; }
};

// A screenshot that cannot be written whole (a full disk) leaves the file it
// was to replace exactly as it was, and nothing beside it, and says why.
TEST_P(FluidFiles, AScreenshotOnAFullDiskLeavesTheOldFile) {
    FullDisk disk;
    if (!disk.Why().empty()) GTEST_SKIP() << disk.Why();
    std::string old(8192, '\0');
    std::mt19937 random(7);
    for (char& c : old) c = static_cast<char>(random());
    WriteFileBytes(disk.File("old.png"), old);
    disk.Fill();
    ChildProcess fluid(Run({"--frames", "5", "--screenshot", Native(disk.File("old.png"))}));
    EXPECT_EQ(fluid.WaitForExit(120000), 1) << fluid.err;
    EXPECT_NE(fluid.err.find(": No space left on device"), std::string::npos) << fluid.err;
    EXPECT_TRUE(ReadFileBytes(disk.File("old.png")) == old) << "the old file changed";
    EXPECT_EQ(disk.Names(), (std::vector<std::string>{"filler", "old.png"}));
}

// Names reach the file system as typed: Latin-1, beyond it, beyond the BMP
// (on Windows the program's argv would be in the ANSI code page).
TEST_P(FluidFiles, ScreenshotNamesAreTheNamesTyped) {
    TempDir dir;
    for (const std::string name : {"\xc3\xbc.png", "\xc3\xaf\xe2\x82\xac.png", "\xf0\x9f\x98\x80.png"}) {
        ChildProcess fluid(Run({"--frames", "2", "--screenshot", Native(dir.File(name))}));
        EXPECT_EQ(fluid.WaitForExit(120000), 0) << fluid.err;
        std::shared_ptr<TPixmap> shot = LoadPNGPixmap(dir.File(name));
        EXPECT_TRUE(shot && shot->width == 800) << name;
        std::filesystem::remove(dir.File(name));
        EXPECT_TRUE(std::filesystem::is_empty(dir.path)) << name << ": another file was written";
    }
}

INSTANTIATE_TEST_SUITE_P(LinuxAndWindows, FluidFiles, ::testing::Values(false, true),
                         [](const auto& info) { return info.param ? "Windows" : "Linux"; });

TEST_F(FluidProgram, SoakOfRandomClicksAndSpacePresses) {
    ChildProcess fluid(Fluid({"--frames", "300"}));
    ASSERT_NO_FATAL_FAILURE(Start(fluid));
    std::mt19937 random(12345);
    std::uniform_int_distribution<int> x(0, 799), y(0, 599), what(0, 3);
    for (int i = 0; i < 5000; ++i) {
        switch (what(random)) {
        case 0: Click(Button1, x(random), y(random)); break;
        case 1: Click(Button3, x(random), y(random)); break;
        case 2: TapKey(d, XK_space); break;
        default: MovePointerIn(d, window, x(random), y(random)); break;
        }
        fluid.Collect(5);
        if (!BoxOf(d, window).exists) break;  // the run is over
    }
    EXPECT_EQ(fluid.WaitForExit(120000), 0) << fluid.err;
    EXPECT_EQ(fluid.err, "");
}

namespace {

// The word a paused frame shows at the top right, or what stands there instead.
std::string ShownPauseWord(Display* d, Window w) {
    const int left = 800 - 5 * kCellWidth;
    const PixelAt area = Grab(d, w, left, 0, 5 * kCellWidth, kCellHeight);
    return area ? ReadText([&](int x, int y) { return area(x + left, y); }, 5) : "<unreadable>";
}

// The status line w shows, or "" while unreadable.
std::string ShownStatusLine(Display* d, Window w) {
    const PixelAt area = Grab(d, w, 0, 0, kStatusCells * kCellWidth, kCellHeight);
    return area ? ReadText(area, kStatusCells) : "";
}

// The raw pixels w shows below the status line's band; "" when unreadable.
std::string ShownBelowStatusLine(Display* d, Window w) {
    XImage* image = XGetImage(d, w, 0, kCellHeight, 800, 600 - kCellHeight, AllPlanes, ZPixmap);
    if (!image) return "";
    std::string pixels(image->data, static_cast<size_t>(image->bytes_per_line) * image->height);
    XDestroyImage(image);
    return pixels;
}

// Whether two screenshots show the same pixels below the status line's band
// (its timings differ from run to run); the number of differing pixels.
long DifferingPixelsBelowStatusLine(const std::string& a, const std::string& b) {
    const std::shared_ptr<TPixmap> first = LoadPNGPixmap(a), second = LoadPNGPixmap(b);
    if (!first || !second) return -1;
    const PixelAt p = PixmapPixels(first), q = PixmapPixels(second);
    long differing = 0;
    for (int y = kCellHeight; y < 600; ++y)
        for (int x = 0; x < 800; ++x) differing += p(x, y) != q(x, y);
    return differing;
}

// fluid-bench with args, run to its end.
std::function<int()> FluidBench(std::vector<std::string> args) { return Fluid(std::move(args), "", FLUID_BENCH_PATH); }

// A recording's bytes: the header with the given version and record size,
// then the records' bytes.
std::string RecordingBytes(int32_t version, int32_t recordBytes, const std::string& records) {
    std::string bytes = "FKRECORD";
    for (int32_t v : {version, recordBytes})
        for (int b = 0; b < 4; ++b) bytes += static_cast<char>((static_cast<uint32_t>(v) >> (8 * b)) & 0xFF);
    return bytes + records;
}

}  // namespace

// A run played with real input (pours, walls, Space, P, N, R) and recorded;
// its replay ends in the same state and draws the same last frame, and
// fluid-bench steps the recording to the same state without a window.
TEST_F(FluidProgram, ARecordedRunReplaysToTheSameStateAndLastFrame) {
    TempDir dir;
    const std::string rec = dir.File("run.rec");
    ChildProcess fluid(Fluid({"--record", rec, "--dump", dir.File("run.dump"), "--screenshot", dir.File("run.png")}));
    ASSERT_NO_FATAL_FAILURE(Start(fluid));
    Click(Button1, 400, 100);
    ASSERT_TRUE(WaitForCount(3749 + 256, fluid));
    Click(Button3, 650, 150);
    ASSERT_TRUE(WaitForCount(3749 + 256 + 16, fluid));
    TapKey(d, XK_space);
    ASSERT_TRUE(WaitForDrawing(Drawing::Smooth, fluid));
    // Paused: the word at the top right, no update time, but pours still act.
    TapKey(d, XK_p);
    ASSERT_TRUE(WaitFor(fluid, [&] { return ShownPauseWord(d, window) == "Pause"; }));
    ASSERT_TRUE(WaitFor(fluid, [&] { return ShownStatusLine(d, window).rfind("Updatezeit: 0  ms", 0) == 0; }));
    const int paused = ShownParticleCount(d, window);
    Click(Button1, 600, 200);
    ASSERT_TRUE(WaitFor(fluid, [&] { return ShownParticleCount(d, window) != paused; }));
    // Each N moves the paused liquid once; P waits for the second step to show.
    for (int i = 0; i < 2; ++i) {
        const std::string before = ShownBelowStatusLine(d, window);
        TapKeyBurst(d, XK_n, 1 + i);
        ASSERT_TRUE(WaitFor(fluid, [&] { return ShownBelowStatusLine(d, window) != before; }));
    }
    TapKey(d, XK_p);
    ASSERT_TRUE(WaitFor(fluid, [&] { return ShownPauseWord(d, window) == ""; }));
    const int running = ShownParticleCount(d, window);
    Click(Button3, 700, 60);
    ASSERT_TRUE(WaitFor(fluid, [&] { return ShownParticleCount(d, window) != running; }));
    TapKey(d, XK_r);
    ASSERT_TRUE(WaitForCount(3749, fluid));
    EXPECT_EQ(ShownDrawing(d, window), Drawing::Smooth);  // the reset keeps the drawing
    Click(Button1, 500, 120);
    ASSERT_TRUE(WaitForCount(3749 + 256, fluid));
    TapKey(d, XK_Escape);
    ASSERT_EQ(fluid.WaitForExit(), 0) << fluid.err;
    EXPECT_EQ(fluid.out + fluid.err, "");
    EXPECT_FALSE(std::filesystem::exists(rec + ".part"));

    // The replay ends at the recorded Escape; recorded again, it gives the same file.
    ChildProcess replay(Fluid({"--replay", rec, "--dump", dir.File("replay.dump"), "--screenshot",
                               dir.File("replay.png"), "--record", dir.File("again.rec")}));
    ASSERT_EQ(replay.WaitForExit(120000), 0) << replay.err;
    EXPECT_EQ(replay.out + replay.err, "");
    const std::string state = ReadFileBytes(dir.File("run.dump"));
    ASSERT_EQ(state.size(), 8u + 32u * (2999 + 256) + 8u * 750);
    EXPECT_TRUE(ReadFileBytes(dir.File("replay.dump")) == state);
    EXPECT_EQ(DifferingPixelsBelowStatusLine(dir.File("run.png"), dir.File("replay.png")), 0);
    EXPECT_TRUE(ReadFileBytes(dir.File("again.rec")) == ReadFileBytes(rec));

    ChildProcess bench(FluidBench({"--replay", rec, "--dump", dir.File("bench.dump")}));
    ASSERT_EQ(bench.WaitForExit(120000), 0) << bench.err;
    EXPECT_TRUE(ReadFileBytes(dir.File("bench.dump")) == state);
    // The paused frames held the world: fewer steps than frames.
    std::smatch m;
    ASSERT_TRUE(std::regex_search(bench.out, m, std::regex("replayed ([0-9]+) frames of .*: ([0-9]+) steps")))
        << bench.out;
    EXPECT_LT(std::stol(m[2]), std::stol(m[1]));
}

// A replay that runs out hands over to the live input, and Escape still
// ends a replay at any time.
TEST_F(FluidProgram, AReplayHandsOverToTheLiveInputAndEscapeEndsItAnyTime) {
    TempDir dir;
    const std::string rec = dir.File("short.rec");
    // One frame, which presses P: every key after it is seen is live.
    std::string pause(44, '\0');
    pause[8] = 1;
    WriteFileBytes(rec, RecordingBytes(1, 44, pause));
    ChildProcess fluid(Fluid({"--replay", rec}));
    ASSERT_NO_FATAL_FAILURE(Start(fluid));
    ASSERT_TRUE(WaitFor(fluid, [&] { return ShownPauseWord(d, window) == "Pause"; }));
    TapKey(d, XK_p);  // the person takes over
    ASSERT_TRUE(WaitFor(fluid, [&] { return ShownPauseWord(d, window) == ""; }));
    TapKey(d, XK_Escape);
    EXPECT_EQ(fluid.WaitForExit(), 0) << fluid.err;

    std::string many;
    for (int i = 0; i < 200000; ++i) many += std::string(44, '\0');
    WriteFileBytes(rec, RecordingBytes(1, 44, many));
    ChildProcess cut(Fluid({"--replay", rec, "--frames", "100000000"}));
    ASSERT_NO_FATAL_FAILURE(Start(cut));
    SendCloseRequest(d, window);
    ExpectCleanExit(cut, 3749);
}

// Recordings that are none, each with its one line, status 1 and nothing
// written; a partial last frame plays to the last whole frame with a warning.
TEST_F(FluidProgram, BadRecordingsSayWhatIsWrongAndWriteNothing) {
    TempDir dir;
    const std::string rec = dir.File("bad.rec");
    std::string garbage(300, '\0');
    for (size_t i = 0; i < garbage.size(); ++i) garbage[i] = static_cast<char>(i * 37 + 11);
    struct Case {
        const char* name;
        std::function<void()> make;
        std::string why;
    };
    const Case cases[] = {
        {"missing", [] {}, "No such file or directory"},
        {"empty", [&] { WriteFileBytes(rec, ""); }, "it is empty (no FKRECORD header)"},
        {"another format", [&] { WriteFileBytes(rec, garbage); },
         "it is not a Ferrumkit fluid recording (no FKRECORD header)"},
        {"truncated header", [&] { WriteFileBytes(rec, RecordingBytes(1, 44, "").substr(0, 10)); },
         "its header is cut short (10 of 16 bytes)"},
        {"another version", [&] { WriteFileBytes(rec, RecordingBytes(2, 44, std::string(88, '\0'))); },
         "it is a recording of format version 2; this program reads version 1"},
        {"damaged header", [&] { WriteFileBytes(rec, RecordingBytes(1, 40, std::string(80, '\0'))); },
         "its header is damaged (frame records of 40 bytes, not 44)"},
        {"garbage frames", [&] { WriteFileBytes(rec, RecordingBytes(1, 44, std::string(44, '\0') + garbage)); },
         "frame 2 is damaged (values no frame loop reads)"},
        {"a directory",
         [&] {
             std::filesystem::remove(rec);
             std::filesystem::create_directory(rec);
         },
         "it is a directory, not a regular file"},
        {"huge",
         [&] {
             std::filesystem::remove(rec);
             WriteFileBytes(rec, RecordingBytes(1, 44, ""));
             std::filesystem::resize_file(rec, 200000016);
         },
         "it is 200000016 bytes, more than any recording (under 184549436)"},
        {"beyond 2 GiB", [&] { std::filesystem::resize_file(rec, 3ull << 30); }, "it is larger than 2 GiB"},
    };
    const std::vector<std::string> outputs = {"--record",           dir.File("out.rec"), "--dump",
                                              dir.File("out.dump"), "--screenshot",      dir.File("out.png")};
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        c.make();
        for (const char* program : {"fluid", "fluid-bench"}) {
            std::vector<std::string> args = {"--replay", rec, "--dump", dir.File("out.dump")};
            if (program == std::string("fluid"))
                args = {"--replay", rec, "--frames", "3"}, args.insert(args.end(), outputs.begin(), outputs.end());
            ChildProcess run(program == std::string("fluid") ? Fluid(args, nullptr) : FluidBench(args));
            EXPECT_EQ(run.WaitForExit(60000), 1);
            EXPECT_EQ(run.out, "");
            EXPECT_EQ(run.err, std::string(program) + ": cannot replay " + rec + ": " + c.why + "\n");
            EXPECT_EQ(std::distance(std::filesystem::directory_iterator(dir.path), {}), c.why[0] == 'N' ? 0 : 1);
        }
    }
    // A partial last frame: both whole frames played, with a warning.
    std::filesystem::remove(rec);
    WriteFileBytes(rec, RecordingBytes(1, 44, std::string(88, '\0') + "\1\0\0"));
    ChildProcess bench(FluidBench({"--replay", rec, "--dump", dir.File("partial.dump")}));
    EXPECT_EQ(bench.WaitForExit(60000), 0);
    EXPECT_EQ(bench.err,
              "fluid-bench: warning: the recording " + rec + " ends inside a frame; replaying its 2 whole frames\n");
    EXPECT_NE(bench.out.find("replayed 2 frames"), std::string::npos) << bench.out;
    ChildProcess fluid(Fluid({"--replay", rec, "--frames", "2"}));
    EXPECT_EQ(fluid.WaitForExit(60000), 0);
    EXPECT_EQ(fluid.err,
              "fluid: warning: the recording " + rec + " ends inside a frame; replaying its 2 whole frames\n");
}

// Outputs that cannot be written fail before the first frame, leaving nothing.
TEST_F(FluidProgram, ARecordingOrDumpThatCannotBeWrittenEndsTheRunBeforeItsFirstFrame) {
    TempDir dir;
    const struct {
        const char* option;
        std::string path, want;
    } cases[] = {
        {"--record", dir.File("missing/run.rec"),
         "fluid: cannot write the recording " + dir.File("missing/run.rec") + ": No such file or directory\n"},
        {"--record", dir.path.string(),
         "fluid: cannot write the recording " + dir.path.string() + ": it is a directory, not a regular file\n"},
        {"--dump", dir.File("missing/run.dump"),
         "fluid: cannot write the state dump " + dir.File("missing/run.dump") + ": No such file or directory\n"},
    };
    for (const auto& c : cases) {
        ChildProcess fluid(Fluid({c.option, c.path, "--frames", "5"}));
        EXPECT_EQ(fluid.WaitForExit(60000), 1);
        EXPECT_EQ(fluid.out, "");
        EXPECT_EQ(fluid.err, c.want);
    }
    EXPECT_TRUE(std::filesystem::is_empty(dir.path));
}

namespace {

// Ends with SIGKILL the process whose command line holds marker; false when none does.
bool KillProcessWith(const std::string& marker) {
    for (const auto& entry : std::filesystem::directory_iterator("/proc")) {
        const std::string name = entry.path().filename().string();
        if (name.find_first_not_of("0123456789") != std::string::npos) continue;
        std::string cmdline = ReadFileBytes(entry.path().string() + "/cmdline");
        std::replace(cmdline.begin(), cmdline.end(), '\0', ' ');
        if (cmdline.find(marker) != std::string::npos) return kill(std::stoi(name), SIGKILL) == 0;
    }
    return false;
}

}  // namespace

// A run killed on the way leaves its part file, a recording that replays.
TEST_F(FluidProgram, AKilledRunLeavesItsRecordingSoFarInThePartFile) {
    TempDir dir;
    const std::string rec = dir.File("killed.rec");
    WriteFileBytes(rec, "an older recording");
    ChildProcess fluid(Fluid({"--record", rec}));
    ASSERT_NO_FATAL_FAILURE(Start(fluid));
    Click(Button1, 400, 100);
    ASSERT_TRUE(WaitForCount(3749 + 256, fluid));
    ASSERT_TRUE(KillProcessWith(rec));
    EXPECT_EQ(fluid.WaitForExit(), -1);
    EXPECT_EQ(ReadFileBytes(rec), "an older recording");
    ChildProcess bench(FluidBench({"--replay", rec + ".part", "--dump", dir.File("state.bin")}));
    ASSERT_EQ(bench.WaitForExit(60000), 0) << bench.err;
    EXPECT_EQ(bench.err, "");
    EXPECT_NE(bench.out.find("; 3255 fluid, 750 boundary particles"), std::string::npos) << bench.out;
}
