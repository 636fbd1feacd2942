// The shared X helpers must see what is really there, or the display suites
// that rely on them would pass on nothing.
#include <gtest/gtest.h>  // before Xlib, whose macros (None, Bool) clash with it

#include "tests/support/x11_helpers.h"
#include "tests/support/xvfb.h"

#include <X11/Xutil.h>

#include <cstdio>
#include <unistd.h>

static auto* const kXvfb = RegisterXvfbEnvironment();

TEST(X11Helpers, SeeAWindowsBoxClassColourAndCloseRequest) {
    XConnection connection;
    Display* d = connection.get();
    ASSERT_NE(d, nullptr);
    const int screen = DefaultScreen(d);
    const Window w = XCreateSimpleWindow(d, RootWindow(d, screen), 30, 40, 64, 32, 0, 0, 0x3366CC);
    char name[] = "helper", cls[] = "Helper Test";
    XClassHint hint{name, cls};
    XSetClassHint(d, w, &hint);
    Atom deleteWindow = XInternAtom(d, "WM_DELETE_WINDOW", False);
    XSetWMProtocols(d, w, &deleteWindow, 1);
    XSelectInput(d, w, StructureNotifyMask);
    XMapWindow(d, w);
    ASSERT_TRUE(WaitUntil([&] { return BoxOf(d, w).viewable; }));
    EXPECT_EQ(BoxOf(d, w), (WindowBox{30, 40, 64, 32, true, true}));
    EXPECT_EQ(FindWindowsByClass(d, "Helper Test"), std::vector<Window>{w});
    EXPECT_TRUE(FindWindowsByClass(d, "Nobody").empty());
    EXPECT_EQ(WaitForColour(d, w, 5, 5, 0x3366CC), 0x3366CCul);
    EXPECT_EQ(ShownColour(d, w, 500, 500), 0xFFFFFFFFul);  // outside: unreadable

    SendCloseRequest(d, w);
    XEvent e{};
    ASSERT_TRUE(XCheckTypedWindowEvent(d, w, ClientMessage, &e));
    EXPECT_EQ(static_cast<Atom>(e.xclient.data.l[0]), deleteWindow);

    XDestroyWindow(d, w);
    EXPECT_EQ(BoxOf(d, w), WindowBox{});  // gone, and no X error ends the process
}

// Another client's windows come and go while the suite looks for its own, as
// Wine's do while it starts: looking must neither fail nor end the process.
TEST(X11Helpers, FindingWindowsSurvivesWindowsThatVanish) {
    XConnection connection;
    Display* d = connection.get();
    ASSERT_NE(d, nullptr);
    const Window gone = XCreateSimpleWindow(d, DefaultRootWindow(d), 0, 0, 8, 8, 0, 0, 0);
    XDestroyWindow(d, gone);
    XSync(d, False);
    EXPECT_EQ(WindowClassOf(d, gone), "");

    // A second client makes and drops classed windows as fast as it can.
    ChildProcess churn([] {
        Display* other = XOpenDisplay(nullptr);
        if (!other) return 1;
        char name[] = "churn", cls[] = "Churn";
        XClassHint hint{name, cls};
        for (int i = 0; i < 4000; ++i) {
            const Window w = XCreateSimpleWindow(other, DefaultRootWindow(other), 0, 0, 8, 8, 0, 0, 0);
            XSetClassHint(other, w, &hint);
            XFlush(other);
            XDestroyWindow(other, w);
        }
        XCloseDisplay(other);
        std::puts("done");
        std::fflush(stdout);
        return 0;
    });
    ASSERT_TRUE(churn.Started());
    int looks = 0;
    auto finished = [&] {
        churn.Collect(0);
        return churn.out.find("done") != std::string::npos;
    };
    WaitUntil(
        finished,
        [&] {
            // The other client holds at most one window at a time.
            EXPECT_LE(FindWindowsByClass(d, "Churn").size(), 1u);
            ++looks;
        },
        60000);
    EXPECT_EQ(churn.WaitForExit(), 0) << churn.err;
    EXPECT_GT(looks, 0);
}

TEST(X11Helpers, ChildProcessCollectsOutputExitAndHangs) {
    ChildProcess child([] {
        std::puts("first\nsecond");
        std::fflush(stdout);
        std::fputs("oops\n", stderr);
        return 7;
    });
    ASSERT_TRUE(child.Started());
    EXPECT_TRUE(child.WaitForLine("sec"));
    EXPECT_EQ(child.WaitForExit(), 7);
    EXPECT_EQ(ChildProcess::Lines(child.out), (std::vector<std::string>{"first", "second"}));
    EXPECT_EQ(child.err, "oops\n");
    EXPECT_FALSE(child.WaitForLine("third"));  // ended without it: no wait

    ChildProcess hung([] { return pause(); });
    EXPECT_FALSE(hung.WaitForLine("never", 100));
    EXPECT_EQ(hung.WaitForExit(100), -2);
    EXPECT_EQ(ChildProcess(ChildProcess::Program("/nonexistent")).WaitForExit(), 127);
}
