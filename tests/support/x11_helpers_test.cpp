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
