// The OpenGL driver on a real X server: the demo's window and context, frames
// that read back, repeated flips, closing, and fullscreen modes that do not exist.

// GoogleTest comes before Xlib, whose None macro it would trip over.
#include <gtest/gtest.h>

#include "graphics/gl/gl_graphics.h"
#include "graphics/graphics.h"
#include "graphics/graphics_internal.h"
#include "tests/support/x11_helpers.h"
#include "tests/support/xvfb.h"

#include <GL/gl.h>

#include <tuple>
#include <vector>

namespace {

static auto* const kXvfb = RegisterXvfbEnvironment();

// Looks at the server through its own connection, as any other client would.
class GLGraphicsDisplayTest : public ::testing::Test {
protected:
    void TearDown() override { EndOpenedGraphics(); }
    std::vector<Window> ProgramWindows() {
        XSync(d, False);
        return FindWindowsByClass(d, "Ferrumkit GLGraphics");
    }
    // Clears the frame to a colour and flips it onto the screen.
    static void ShowFrame(float r, float g, float b, int32_t sync) {
        glClearColor(r, g, b, 1.0f);
        glClear(GL_COLOR_BUFFER_BIT | GL_DEPTH_BUFFER_BIT);
        FlipPage(sync);
        glFinish();
    }
    XConnection connection;
    Display* d = connection.get();
};

TEST_F(GLGraphicsDisplayTest, DemoWindowShowsFlippedFramesAndCloses) {
    auto g = OpenGLGraphics(800, 600, 0, 60, 10);
    ASSERT_TRUE(g);
    EXPECT_EQ(ActiveGraphics(), g);
    EXPECT_EQ(std::make_tuple(ActiveGraphicsWidth(), ActiveGraphicsHeight(), ActiveGraphicsDepth(),
                              ActiveGraphicsHertz(), ActiveGraphicsFlags()),
              std::make_tuple(800, 600, 0, 60, 10));
    std::vector<Window> windows = ProgramWindows();
    ASSERT_EQ(windows.size(), 1u);
    const Window w = windows[0];
    EXPECT_EQ(BoxOf(d, w).width, 800);
    EXPECT_EQ(BoxOf(d, w).height, 600);

    // The context is current: a flipped frame is what the server shows.
    ShowFrame(1.0f, 0.0f, 0.0f, 0);
    EXPECT_EQ(WaitForColour(d, w, 400, 300, 0xFF0000), 0xFF0000u);
    // Many frames in a row: the last one shows, corner to corner.
    for (int i = 0; i < 60; ++i) ShowFrame(0.0f, (i % 2) ? 1.0f : 0.0f, 1.0f, 0);
    EXPECT_EQ(WaitForColour(d, w, 0, 0, 0x00FFFF), 0x00FFFFu);
    EXPECT_EQ(WaitForColour(d, w, 799, 599, 0x00FFFF), 0x00FFFFu);

    EndOpenedGraphics();
    EXPECT_FALSE(ActiveGraphics());
    EXPECT_EQ(ActiveGraphicsWidth(), 0);
    EXPECT_TRUE(ProgramWindows().empty());
    g->Close();  // harmless once closed
}

TEST_F(GLGraphicsDisplayTest, OpeningAgainReplacesTheWindow) {
    ASSERT_TRUE(OpenGLGraphics(320, 240, 0, 0, 0));
    ASSERT_TRUE(OpenGLGraphics(640, 480, 0, 0, 8));
    std::vector<Window> windows = ProgramWindows();
    ASSERT_EQ(windows.size(), 1u);
    EXPECT_EQ(BoxOf(d, windows[0]).width, 640);
    ShowFrame(0.0f, 0.0f, 1.0f, -1);  // windowed, any rate: a plain flip
    EXPECT_EQ(WaitForColour(d, windows[0], 1, 1, 0x0000FF), 0x0000FFu);
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
    ChildProcess child(ChildProcess::Program(AT_EXIT_CHILD_PATH));
    ASSERT_TRUE(child.Started());
    EXPECT_EQ(child.WaitForExit(60000), 0) << child.out << child.err;
    EXPECT_EQ(child.out + child.err, "");
}

}  // namespace
