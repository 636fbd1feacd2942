// services-check as a user runs it: its own command-line edges and one dialog
// answered on a private X server (the services themselves: the system tests).
#include <gtest/gtest.h>  // before Xlib, whose macros (None, Bool) clash with it

#include "tests/support/x11_helpers.h"
#include "tests/support/xvfb.h"

#include <X11/keysym.h>

#include <fcntl.h>
#include <unistd.h>

static auto* const kXvfb = RegisterXvfbEnvironment();

namespace {

// services-check with args; stdout to /dev/full when full is set.
std::function<int()> Check(std::vector<std::string> args, bool full = false) {
    return [args, full] {
        if (full) dup2(open("/dev/full", O_WRONLY), 1);
        std::vector<char*> argv{const_cast<char*>(FK_SERVICES_CHECK)};
        for (const std::string& a : args) argv.push_back(const_cast<char*>(a.c_str()));
        argv.push_back(nullptr);
        execv(argv[0], argv.data());
        return 127;
    };
}

// The tool's own edges: bad command lines, a rate no timer runs at, a full
// stdout, and its timer loop (100 Hz for 0.3 s: about 30 ticks; loose bounds).
TEST(ServicesCheck, ItsCommandLineEdgesAndTimerLoop) {
    const std::vector<std::vector<std::string>> kBad = {
        {},
        {"bogus"},
        {"notify"},
        {"notify", "t", "grave"},
        {"open", "png"},
        {"dir"},
        {"url", "a", "b"},
        {"today", "x"},
        {"timer", "x", "1"},
        {"timer", "10", "-1"},
        {"timer", "10"},
    };
    for (const auto& args : kBad) {
        ChildProcess check(Check(args));
        EXPECT_EQ(check.WaitForExit(), 2) << ::testing::PrintToString(args);
        EXPECT_EQ(check.out, "");
        EXPECT_EQ(check.err.rfind("usage: services-check", 0), 0u) << check.err;
    }
    ChildProcess noTimer(Check({"timer", "2000", "1"})), full(Check({"clock"}, true));
    EXPECT_EQ(noTimer.WaitForExit(), 1);
    EXPECT_NE(noTimer.err.find("no timer runs at 2000 Hz"), std::string::npos) << noTimer.err;
    EXPECT_EQ(full.WaitForExit(), 1);
    EXPECT_NE(full.err.find("cannot write"), std::string::npos) << full.err;
    ChildProcess timer(Check({"timer", "100", "0.3"}));
    EXPECT_EQ(timer.WaitForExit(), 0) << timer.err;
    const int ticks = std::atoi(timer.out.c_str());
    EXPECT_GE(ticks, 25) << timer.out;
    EXPECT_LE(ticks, 40) << timer.out;
    // A timer slower than the run ends the run on time all the same, with no tick.
    for (const char* hertz : {"0.25", "0.0001"}) {  // a first tick 4 s and 3 hours away
        ChildProcess slow(Check({"timer", hertz, "0.1"}));
        EXPECT_EQ(slow.WaitForExit(3000), 0) << hertz << " Hz: " << slow.err;
        EXPECT_EQ(slow.out, "0\n") << hertz;
    }
}

TEST(ServicesCheck, ADialogAnsweredByTheUserPrintsItsValue) {
    setenv("NO_AT_BRIDGE", "1", 1);
    setenv("DBUS_SESSION_BUS_ADDRESS", "disabled:", 1);
    XConnection connection;
    Display* d = connection.get();
    ASSERT_NE(d, nullptr);
    ChildProcess check(Check({"proceed", "-Keep it?", "serious"}));
    Window dialog = None;
    ASSERT_TRUE(WaitUntil(
        [&] {
            for (Window w : FindWindowsByClass(d, "Zenity"))
                if (BoxOf(d, w).viewable) return (dialog = w) != None;
            return false;
        },
        [&] { check.Collect(20); }, 15000))
        << check.err;
    // Alt+N is the "No" button; given again if the dialog was not ready for it.
    for (int attempt = 0; attempt < 8 && BoxOf(d, dialog).viewable; ++attempt) {
        FocusWindow(d, dialog);
        usleep(300 * 1000);
        FakeKey(d, XK_Alt_L, true);
        TapKey(d, XK_n);
        FakeKey(d, XK_Alt_L, false);
        WaitUntil([&] { return !BoxOf(d, dialog).viewable; }, {}, 800);
    }
    // A dialog left behind by a failure ends with the test's X server.
    EXPECT_EQ(check.WaitForExit(15000), 0) << check.err;
    EXPECT_EQ(check.out, "0\n");
}

}  // namespace
