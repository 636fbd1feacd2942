// The OpenGL driver on a real X server: the demo's window and context, frames
// that read back, repeated flips, closing, and fullscreen modes that do not exist.

// GoogleTest comes before Xlib, whose None macro it would trip over.
#include <gtest/gtest.h>

#include "graphics/gl/gl_graphics.h"
#include "graphics/graphics.h"
#include "graphics/graphics_internal.h"
#include "tests/graphics/x_window_find.h"
#include "tests/support/xvfb.h"

#include <GL/gl.h>

#include <cstdio>
#include <string>
#include <sys/wait.h>
#include <unistd.h>

namespace {

static auto* const kXvfb = RegisterXvfbEnvironment();

// A separate connection, as any other client would look at the server.
class GLGraphicsDisplayTest : public ::testing::Test {
protected:
    void SetUp() override {
        display_ = XOpenDisplay(nullptr);
        ASSERT_NE(display_, nullptr);
    }
    void TearDown() override {
        EndOpenedGraphics();
        if (display_) XCloseDisplay(display_);
    }
    std::vector<Window> ProgramWindows() {
        XSync(display_, False);
        return FindWindowsByClass(display_, "Ferrumkit GLGraphics");
    }
    Display* display_ = nullptr;
};

// The pixel the server shows at window (x, y), as 0xRRGGBB. The swap reaches
// the server through the program's own connection, so look a few times.
unsigned long ShownPixel(Display* display, Window window, int x, int y, unsigned long expected) {
    glFinish();
    unsigned long pixel = 0;
    for (int attempt = 0; attempt < 100; ++attempt) {
        XImage* image = XGetImage(display, window, x, y, 1, 1, AllPlanes, ZPixmap);
        if (image) {
            pixel = XGetPixel(image, 0, 0) & 0xFFFFFF;
            XDestroyImage(image);
        }
        if (pixel == expected) break;
        usleep(20000);
    }
    return pixel;
}

void ClearTo(float r, float g, float b) {
    glClearColor(r, g, b, 1.0f);
    glClear(GL_COLOR_BUFFER_BIT | GL_DEPTH_BUFFER_BIT);
}

TEST_F(GLGraphicsDisplayTest, DemoWindowShowsFlippedFramesAndCloses) {
    auto g = OpenGLGraphics(800, 600, 0, 60, 10);
    ASSERT_TRUE(g);
    EXPECT_EQ(ActiveGraphics(), g);
    EXPECT_EQ(ActiveGraphicsWidth(), 800);
    EXPECT_EQ(ActiveGraphicsHeight(), 600);
    EXPECT_EQ(ActiveGraphicsDepth(), 0);
    EXPECT_EQ(ActiveGraphicsHertz(), 60);
    EXPECT_EQ(ActiveGraphicsFlags(), 10);

    std::vector<Window> windows = ProgramWindows();
    ASSERT_EQ(windows.size(), 1u);
    XWindowAttributes attributes{};
    ASSERT_TRUE(XGetWindowAttributes(display_, windows[0], &attributes));
    EXPECT_EQ(attributes.width, 800);
    EXPECT_EQ(attributes.height, 600);

    // The context is current: a cleared and flipped frame reads back from the
    // front buffer, and the server shows it in the window.
    ClearTo(1.0f, 0.0f, 0.0f);
    FlipPage(0);
    EXPECT_EQ(ShownPixel(display_, windows[0], 400, 300, 0xFF0000), 0xFF0000u);

    // Many frames in a row, the last one shows.
    for (int i = 0; i < 60; ++i) {
        ClearTo(0.0f, (i % 2) ? 1.0f : 0.0f, 1.0f);
        FlipPage(0);
    }
    EXPECT_EQ(ShownPixel(display_, windows[0], 0, 0, 0x00FFFF), 0x00FFFFu);
    EXPECT_EQ(ShownPixel(display_, windows[0], 799, 599, 0x00FFFF), 0x00FFFFu);

    EndOpenedGraphics();
    EXPECT_FALSE(ActiveGraphics());
    EXPECT_EQ(ActiveGraphicsWidth(), 0);
    EXPECT_TRUE(ProgramWindows().empty());
    g->Close();  // harmless once closed
}

TEST_F(GLGraphicsDisplayTest, OpeningAgainReplacesTheWindow) {
    ASSERT_TRUE(OpenGLGraphics(320, 240, 0, 0, 0));
    auto second = OpenGLGraphics(640, 480, 0, 0, 8);
    ASSERT_TRUE(second);
    std::vector<Window> windows = ProgramWindows();
    ASSERT_EQ(windows.size(), 1u);
    XWindowAttributes attributes{};
    ASSERT_TRUE(XGetWindowAttributes(display_, windows[0], &attributes));
    EXPECT_EQ(attributes.width, 640);
    ClearTo(0.0f, 0.0f, 1.0f);
    FlipPage(-1);  // windowed, any rate: a plain flip
    EXPECT_EQ(ShownPixel(display_, windows[0], 1, 1, 0x0000FF), 0x0000FFu);
}

TEST_F(GLGraphicsDisplayTest, FullscreenModeThatDoesNotExistGivesNull) {
    StartGLGraphicsModule();
    SelectGraphicsDriver(GLGraphicsDriverInstance(), 2);
    EXPECT_EQ(HasGraphicsMode(1234, 567, 0, 0), 0);
    EXPECT_FALSE(CreateGraphicsContext(1234, 567, 32, 0, 0));
    EXPECT_FALSE(OpenGraphics(1234, 567, 32, 0, 0));
    EXPECT_FALSE(OpenedGraphics());
    EXPECT_TRUE(ProgramWindows().empty());
    // The driver's mode list is the screen's, fetched once.
    EXPECT_GT(GraphicsModeCount(), 0);
    EXPECT_EQ(HasGraphicsMode(0, 0, 0, 0), 1);
}

// A program that returns from main with its graphics open: the close that the
// opening registered runs at exit, and nothing fails on the way out.
TEST(GLGraphicsAtExitTest, OpenedGraphicsIsClosedAtExit) {
    // Bounded: a child that hangs is killed after a minute.
    std::string command = "timeout -s KILL 60 " + std::string(AT_EXIT_CHILD_PATH) + " 2>&1";
    FILE* child = popen(command.c_str(), "r");
    ASSERT_NE(child, nullptr);
    std::string output;
    char buffer[256];
    while (size_t n = fread(buffer, 1, sizeof buffer, child)) output.append(buffer, n);
    int status = pclose(child);
    ASSERT_TRUE(WIFEXITED(status)) << output;
    EXPECT_EQ(WEXITSTATUS(status), 0) << output;
    EXPECT_EQ(output, "");
}

}  // namespace
