// events-logger as a user meets it: started on a private X server, typed at
// and clicked with XTest, ended with Escape or the close box; and started with
// no display at all.

// GoogleTest comes before Xlib, whose None macro it would trip over.
#include <gtest/gtest.h>

#include "tests/support/x11_helpers.h"
#include "tests/support/xvfb.h"

#include <X11/keysym.h>

#include <cstdlib>
#include <string>

namespace {

static auto* const kXvfb = RegisterXvfbEnvironment();

// The logger started with DISPLAY set to display, or unset when it is null.
std::function<int()> Logger(const char* display) {
    return [display] {
        display ? setenv("DISPLAY", display, 1) : unsetenv("DISPLAY");
        return ChildProcess::Program(EVENTS_LOGGER_PATH)();
    };
}

class EventsLoggerTest : public ::testing::Test {
protected:
    // Starts the logger and waits until its window is viewable, focused, and
    // polled input listens (a move over the window gets printed).
    void Start() {
        ASSERT_NE(d, nullptr);
        ASSERT_TRUE(logger.Started());
        ASSERT_TRUE(WaitUntil(
            [&] {
                for (Window found : FindWindowsByClass(d, "Ferrumkit GLGraphics"))
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
        EXPECT_EQ(lines.back(), "bye");
        EXPECT_EQ(logger.err, "");
    }

    XConnection connection;
    Display* d = connection.get();
    ChildProcess logger{Logger(XvfbEnvironment::Server()->Name().c_str())};
    Window window = 0;
};

TEST_F(EventsLoggerTest, PrintsKeysAndClicksAndEndsOnEscape) {
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

TEST_F(EventsLoggerTest, EndsOnTheCloseRequest) {
    Start();
    SendCloseRequest(d, window);
    ExpectCleanExit();
    EXPECT_TRUE(logger.WaitForLine("AppTerminate: data=0, ")) << logger.out;
}

TEST(EventsLoggerNoDisplay, FailsWithOneLine) {
    ChildProcess logger(Logger(nullptr));
    ASSERT_TRUE(logger.Started());
    EXPECT_EQ(logger.WaitForExit(), 1);
    EXPECT_EQ(ChildProcess::Lines(logger.err).size(), 1u) << logger.err;
    EXPECT_EQ(logger.err.back(), '\n');
    EXPECT_EQ(logger.out, "");
}

}  // namespace
