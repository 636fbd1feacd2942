// The X11 driver in a process without any display.
#include <gtest/gtest.h>  // before Xlib, whose macros (None, Bool) clash with it

#include "system/x11/x11_platform.h"
#include "system/x11/x11_system.h"

#include "runtime/errors.h"
#include "system/polled_input.h"

#include <atomic>
#include <cstdlib>
#include <regex>
#include <string>
#include <vector>
#include <thread>

namespace {

int dummyUser = 0;
void IgnoreEvent(XEvent&, void*) {}

TEST(X11WithoutDisplay, TheDriverStillKeepsTimeAndRunsPostedCalls) {
    unsetenv("DISPLAY");
    testing::internal::CaptureStderr();
    testing::internal::CaptureStdout();
    EXPECT_EQ(X11Display(), nullptr);
    EXPECT_EQ(X11Display(), nullptr);
    StartX11System();
    ASSERT_NE(dynamic_cast<TX11SystemDriver*>(SystemDriver().get()), nullptr);

    // Pointer requests and error traps have nothing to act on.
    PlacePointer(10, 10);
    HidePointer();
    ShowPointer();
    X11BeginErrorTrap();
    EXPECT_EQ(X11EndErrorTrap(), 0);
    X11RegisterWindow(42, IgnoreEvent, &dummyUser);
    X11UnregisterWindow(42);

    int ran = 0;
    RunOnMainThread([&] { ++ran; });
    PumpMessages();
    EXPECT_EQ(ran, 1);

    std::atomic<bool> woken{false};
    std::thread poster([&] {
        SleepMillis(20);
        RunOnMainThread([&] { woken = true; });
    });
    while (!woken) WaitForMessages();
    poster.join();

    // Polled input works on events from elsewhere.
    StartPolledInput(nullptr);
    SendEvent(MakeEvent(EVENT_KEY_DOWN, nullptr, 27, 0, 0, 0));
    EXPECT_EQ(KeyHitCount(27), 1);
    StopPolledInput();

    EXPECT_EQ(testing::internal::GetCapturedStdout(), "");
    EXPECT_EQ(testing::internal::GetCapturedStderr(), "");
}

TEST(X11WithoutDisplay, DialogsCountAsCancelledAndSayWhy) {
    unsetenv("DISPLAY");
    StartX11System();
    testing::internal::CaptureStderr();
    EXPECT_EQ(SystemDriver()->Notify("hello", 0), 0);
    EXPECT_EQ(SystemDriver()->Confirm("hello", 0), 0);
    EXPECT_EQ(SystemDriver()->Proceed("hello", 1), -1);
    EXPECT_EQ(SystemDriver()->RequestFile("file", "txt", 0, "/tmp/a.txt"), "");
    EXPECT_EQ(SystemDriver()->RequestDir("folder", "/tmp"), "");
    const std::string err = testing::internal::GetCapturedStderr();
    // One line each: message boxes name both helpers, choosers zenity.
    const std::regex box("X11: Failed to show a message box: zenity .*; xmessage .*");
    const std::regex chooser("X11: Failed to show the (file|folder) chooser: zenity .*");
    std::vector<std::string> lines;
    for (size_t start = 0, nl; (nl = err.find('\n', start)) != std::string::npos; start = nl + 1)
        lines.push_back(err.substr(start, nl - start));
    ASSERT_EQ(lines.size(), 5u) << err;
    for (int i = 0; i < 3; ++i) EXPECT_TRUE(std::regex_match(lines[i], box)) << lines[i];
    for (int i = 3; i < 5; ++i) EXPECT_TRUE(std::regex_match(lines[i], chooser)) << lines[i];
}

}  // namespace
