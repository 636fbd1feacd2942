// The X11 driver in a process without any display.
#include <gtest/gtest.h>  // before Xlib, whose macros (None, Bool) clash with it

#include "system/x11/x11_platform.h"
#include "system/x11/x11_system.h"

#include "runtime/errors.h"
#include "system/polled_input.h"

#include <atomic>
#include <cstdlib>
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

TEST(X11WithoutDisplay, DialogsAreNotThereYet) {
    StartX11System();
    try {
        SystemDriver()->Notify("hello", 0);
        FAIL() << "no error";
    } catch (const TRuntimeError& e) {
        EXPECT_STREQ(e.what(), "Attempt to call abstract method");
    }
}

}  // namespace
