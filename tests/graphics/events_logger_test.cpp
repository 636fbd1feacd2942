// events-logger as a user meets it: started on a private X server, typed at
// and clicked with XTest, ended with Escape or the close box; and started with
// no display at all. The Windows build's events-logger.exe meets the same
// cases under Wine (whose X driver turns the X input into window messages)
// when FK_WINDOWS_EVENTS_LOGGER names it, as the Windows stage does.

// GoogleTest comes before Xlib, whose None macro it would trip over.
#include <gtest/gtest.h>

#include "tests/support/x11_helpers.h"
#include "tests/support/xvfb.h"

#include <X11/keysym.h>

#include <cstdlib>
#include <string>
#include <unistd.h>

namespace {

static auto* const kXvfb = RegisterXvfbEnvironment();

// The Windows logger to run under Wine, or null.
const char* WindowsLogger() { return std::getenv("FK_WINDOWS_EVENTS_LOGGER"); }

// The logger started with DISPLAY set to display, or unset when it is null;
// windows: the Windows build's under Wine.
std::function<int()> Logger(const char* display, bool windows = false) {
    return [display, windows] {
        display ? setenv("DISPLAY", display, 1) : unsetenv("DISPLAY");
        if (!windows) return ChildProcess::Program(EVENTS_LOGGER_PATH)();
        if (!WindowsLogger()) return 127;
        execlp("wine", "wine", WindowsLogger(), static_cast<char*>(nullptr));
        return 127;
    };
}

// Parameter: false for the Linux logger, true for the Windows one under Wine.
class EventsLoggerTest : public ::testing::TestWithParam<bool> {
protected:
    void SetUp() override {
        if (GetParam() && !WindowsLogger()) GTEST_SKIP() << "FK_WINDOWS_EVENTS_LOGGER is not set";
    }

    // Starts the logger and waits until its window is viewable, focused, and
    // polled input listens (a move over the window gets printed).
    void Start() {
        ASSERT_NE(d, nullptr);
        ASSERT_TRUE(logger.Started());
        ASSERT_TRUE(WaitUntil(
            [&] {
                for (Window found : FindWindowsByClass(d, WindowClass()))
                    if (BoxOf(d, found).viewable) return (window = found) != 0;
                return false;
            },
            [&] { logger.Collect(20); }, 30000))
            << logger.err;
        FocusWindow(d, window);
        int wiggle = 0;
        ASSERT_TRUE(WaitUntil([&] { return logger.out.find("MouseMove: ") != std::string::npos; },
                              [&] {
                                  MovePointerIn(d, window, 20 + ++wiggle % 2, 20);
                                  logger.Collect(50);
                              },
                              30000))
            << logger.out << logger.err;
    }

    // The exit status; the last line printed must be "bye".
    void ExpectCleanExit() {
        EXPECT_EQ(logger.WaitForExit(), 0) << logger.out << logger.err;
        const auto lines = ChildProcess::Lines(logger.out);
        ASSERT_FALSE(lines.empty());
        std::string last = lines.back();
        if (GetParam() && !last.empty() && last.back() == '\r') last.pop_back();  // Windows text-mode output
        EXPECT_EQ(last, "bye");
        EXPECT_EQ(logger.err, "");
    }

    // Wine names its X windows' class after the program file.
    std::string WindowClass() const {
        if (!GetParam()) return "Ferrumkit GLGraphics";
        const std::string path = WindowsLogger();
        return path.substr(path.find_last_of("/\\") + 1);
    }

    XConnection connection;
    Display* d = connection.get();
    ChildProcess logger{Logger(XvfbEnvironment::Server()->Name().c_str(), GetParam())};
    Window window = 0;
};

TEST_P(EventsLoggerTest, PrintsKeysAndClicksAndEndsOnEscape) {
    Start();
    TapKey(d, XK_a);
    EXPECT_TRUE(logger.WaitForLine("KeyDown: data=65, ")) << logger.out;
    EXPECT_TRUE(logger.WaitForLine("KeyUp: data=65, ")) << logger.out;

    MovePointerIn(d, window, 100, 50);
    FakeButton(d, 1, true);
    FakeButton(d, 1, false);
    EXPECT_TRUE(logger.WaitForLine("MouseDown: data=1, mods=0, x=100, y=50")) << logger.out;
    EXPECT_TRUE(logger.WaitForLine("MouseUp: data=1, mods=0, x=100, y=50")) << logger.out;

    TapKey(d, XK_Escape);
    ExpectCleanExit();
    EXPECT_TRUE(logger.WaitForLine("KeyDown: data=27, "));
}

TEST_P(EventsLoggerTest, EndsOnTheCloseRequest) {
    Start();
    SendCloseRequest(d, window);
    ExpectCleanExit();
    EXPECT_TRUE(logger.WaitForLine("AppTerminate: data=0, ")) << logger.out;
}

INSTANTIATE_TEST_SUITE_P(Platforms, EventsLoggerTest, ::testing::Values(false, true),
                         [](const ::testing::TestParamInfo<bool>& info) { return info.param ? "Windows" : "Linux"; });

TEST(EventsLoggerNoDisplay, FailsWithOneLine) {
    ChildProcess logger(Logger(nullptr));
    ASSERT_TRUE(logger.Started());
    EXPECT_EQ(logger.WaitForExit(), 1);
    EXPECT_EQ(ChildProcess::Lines(logger.err).size(), 1u) << logger.err;
    EXPECT_EQ(logger.err.back(), '\n');
    EXPECT_EQ(logger.out, "");
}

}  // namespace
