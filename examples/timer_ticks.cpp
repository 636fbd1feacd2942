// timer_ticks: a timer ticking four times a second. Its ticks arrive on the
// main thread, inside the message pump, so the program may draw and change
// its state in them without locks. Escape ends it.
//
//   timer_ticks [TICKS]   (TICKS: end after that many ticks)
#include <ferrumkit/graphics/gl/gl_graphics.h>
#include <ferrumkit/graphics/gl/gl_utils.h>
#include <ferrumkit/graphics/graphics.h>
#include <ferrumkit/system/polled_input.h>
#include <ferrumkit/system/system_driver.h>  // IsMainThread
#include <ferrumkit/system/timer.h>          // StartTimer, TTimer

#include <GL/gl.h>

#include <cstdio>
#include <cstdlib>
#include <string>

int main(int argc, char** argv) {
    const long ticks = argc > 1 ? std::atol(argv[1]) : -1;  // -1: until Escape
    if (!OpenGLGraphics(640, 200, 0, 0, GFX_BACKBUFFER)) {
        std::fprintf(stderr, "timer_ticks: cannot open a window\n");
        return 1;
    }
    // 4 Hz; without an event of our own each tick emits a "TimerTick" event.
    std::shared_ptr<TTimer> timer = StartTimer(4.0f, nullptr);
    if (!timer) {
        std::fprintf(stderr, "timer_ticks: cannot start a timer\n");
        return 1;
    }

    while (ticks < 0 || timer->Ticks() < ticks) {
        // Wait pumps messages until the next tick; it returns how many came.
        const int32_t arrived = timer->Wait();
        if (KeyHitCount(27) || TerminateRequested()) break;

        const std::string text =
            "tick " + std::to_string(timer->Ticks()) + (IsMainThread() ? " on the main thread" : " on another thread");
        std::printf("%s (%d since the last wait)\n", text.c_str(), arrived);
        std::fflush(stdout);

        glClear(GL_COLOR_BUFFER_BIT);
        glColor3f(0.4f, 1.0f, 0.4f);
        DrawGLText(text, 16, 16);
        // A bar that grows by one step each tick, round and round.
        DrawGLRect(16, 48, 16 * (timer->Ticks() % 38), 16);
        glColor3f(1.0f, 1.0f, 1.0f);
        DrawGLText("Escape ends.", 16, 80);
        FlipPage(0);
    }
    timer->Stop();
    return 0;
}
