#include "tests/support/xvfb.h"

#include <X11/Xlib.h>

#include <cstdlib>

static auto* const kXvfb = RegisterXvfbEnvironment();

TEST(Xvfb, ServesA24BitScreenOnItsOwnDisplay) {
    ASSERT_NE(XvfbEnvironment::Server(), nullptr);
    const char* name = std::getenv("DISPLAY");
    ASSERT_NE(name, nullptr);
    EXPECT_EQ(XvfbEnvironment::Server()->Name(), name);
    Display* d = XOpenDisplay(nullptr);
    ASSERT_NE(d, nullptr);
    EXPECT_EQ(DefaultDepth(d, DefaultScreen(d)), 24);
    XCloseDisplay(d);
}
