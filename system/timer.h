#pragma once
// Periodic timers that tick on the main thread. The platform's timer thread
// only posts a main-thread call per tick; the tick itself (count, event) runs
// inside the main thread's message pump. At most 16 timers run at once.
// Main thread only.

#include "system/event.h"

#include <cstdint>
#include <memory>

// Most timers that may run at the same time.
inline constexpr int kMaxTimers = 16;

// A periodic timer. Made by Create (or StartTimer); ticks until Stop.
class TTimer : public std::enable_shared_from_this<TTimer> {
public:
    int32_t _ticks = 0;              // ticks fired since creation
    int32_t _wticks = 0;             // _ticks when Wait last returned
    std::shared_ptr<TTimer> _cycle;  // the timer itself while it runs (keeps it alive); null when stopped
    std::shared_ptr<TEvent> _event;  // emitted on every tick; null: a fresh "TimerTick" per tick
    int32_t _handle = 0;             // platform timer id; 0 when stopped

    // Ticks fired since creation.
    int32_t Ticks() const;
    // Stops the timer (once): no further tick fires, the event is dropped.
    void Stop();
    // One tick: counts it and emits the event (or a "TimerTick" with the new count).
    void Fire();
    // Pumps until a tick fires; returns the ticks since the last Wait (0 at
    // once when stopped). Called inside a pump, where no tick can arrive, it
    // returns what has come without blocking.
    int32_t Wait();

    // A running timer of hertz ticks per second emitting event (may be null);
    // null for a zero, negative or non-finite rate, a period under 1 ms, or a
    // seventeenth timer.
    static std::shared_ptr<TTimer> Create(float hertz, std::shared_ptr<TEvent> event);
};

// TTimer::Create.
std::shared_ptr<TTimer> StartTimer(float hertz, std::shared_ptr<TEvent> event);
// The timer's Ticks; a null timer raises the runtime's null-object error.
int32_t TimerTickCount(const std::shared_ptr<TTimer>& timer);
// The period in whole milliseconds of a timer of hertz (1000 / hertz truncated
// toward zero); 0 when no timer can run at that rate.
int32_t TimerPeriodMillis(float hertz);
// Number of timers running now.
int ActiveTimerCount();
