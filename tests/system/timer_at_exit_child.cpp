// A program that returns from main with timers running, ticks of theirs still
// queued: the timer module's exit step must stop and release them. Run by
// system_timer_test; exit status 0 when it did (3 when a timer outlived the
// program). In a sanitizer build LeakSanitizer checks the rest.

#include "system/timer.h"

#include "system/system_driver.h"

#include <cstdio>
#include <cstdlib>
#include <memory>

namespace {

std::weak_ptr<TTimer> running[3];

// Registered before any timer starts, so it runs after the exit step.
void CheckReleased() {
    for (const auto& timer : running) {
        if (timer.expired()) continue;
        std::fputs("a running timer outlived the program\n", stderr);
        std::fflush(stderr);
        std::_Exit(3);
    }
}

}  // namespace

int main() {
    std::atexit(CheckReleased);
    for (int i = 0; i < 3; ++i) running[i] = StartTimer(200.0f + i, nullptr);
    // One its owner stops: released the ordinary way.
    std::shared_ptr<TTimer> stopped = StartTimer(100.0f, nullptr);
    SleepMillis(30);
    PumpMessages();
    stopped->Stop();
    SleepMillis(30);  // more ticks queued, never pumped
    return running[2].expired() || ActiveTimerCount() != 3 ? 2 : 0;
}
