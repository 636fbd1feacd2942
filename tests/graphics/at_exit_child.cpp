// A program that opens the demo's graphics and returns from main without
// closing it: the close registered by the opening must run at exit, cleanly.
// Run by gl_graphics_display_test; exit status 0 when all went well.

#include "graphics/gl/gl_graphics.h"
#include "graphics/graphics.h"
#include "graphics/graphics_internal.h"

#include <GL/gl.h>

#include <cstdio>
#include <cstdlib>
#include <unistd.h>

namespace {

// Registered before the graphics opens, so it runs after the at-exit close.
void CheckClosed() {
    if (OpenedGraphics() || ActiveGraphics()) {
        std::fputs("graphics still open at exit\n", stderr);
        std::fflush(stderr);
        _exit(3);
    }
}

}  // namespace

int main() {
    std::atexit(CheckClosed);
    if (!OpenGLGraphics(800, 600, 0, 60, 10)) {
        std::fputs("no graphics\n", stderr);
        return 2;
    }
    glClearColor(0.0f, 1.0f, 0.0f, 1.0f);
    glClear(GL_COLOR_BUFFER_BIT);
    FlipPage(0);
    return 0;
}
