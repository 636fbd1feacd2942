// hello_window: the smallest Ferrumkit program. It opens a window, draws a
// line of text and the frame rate every frame, and ends on Escape or the
// close box.
//
//   hello_window [FRAMES]   (FRAMES: end after that many frames)
#include <ferrumkit/graphics/gl/gl_graphics.h>  // OpenGLGraphics
#include <ferrumkit/graphics/gl/gl_utils.h>     // DrawGLText
#include <ferrumkit/graphics/graphics.h>        // FlipPage
#include <ferrumkit/system/polled_input.h>      // KeyHitCount, TerminateRequested
#include <ferrumkit/system/system_driver.h>     // CurrentMillis

#include <GL/gl.h>

#include <cstdio>
#include <cstdlib>
#include <string>

int main(int argc, char** argv) {
    const long frames = argc > 1 ? std::atol(argv[1]) : -1;  // -1: until Escape

    // An 800 by 600 window (depth 0: not fullscreen) at 60 frames a second,
    // with a back buffer to draw into while the front one is shown.
    if (!OpenGLGraphics(800, 600, 0, 60, GFX_BACKBUFFER)) {
        std::fprintf(stderr, "hello_window: cannot open a window\n");
        return 1;
    }

    int32_t rateStart = CurrentMillis();
    int framesCounted = 0, framesPerSecond = 0;
    for (long frame = 0; frame != frames; ++frame) {
        // Each query pumps the window's messages first: 27 is Escape.
        if (KeyHitCount(27) || TerminateRequested()) break;

        glClearColor(0.1f, 0.1f, 0.3f, 1.0f);
        glClear(GL_COLOR_BUFFER_BIT);
        glColor3f(1.0f, 1.0f, 1.0f);  // the text takes the current colour
        DrawGLText("Hello from Ferrumkit! Press Escape to end.", 16, 16);
        DrawGLText("Frames per second: " + std::to_string(framesPerSecond), 16, 40);

        // Show the frame; -1 paces it to the rate asked for above.
        FlipPage(-1);

        // Count frames for a second, then show the count.
        ++framesCounted;
        if (MillisBetween(rateStart, CurrentMillis()) >= 1000) {
            framesPerSecond = framesCounted;
            framesCounted = 0;
            rateStart = CurrentMillis();
        }
    }
    return 0;
}
