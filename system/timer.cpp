#include "system/timer.h"

#include "system/platform_timer.h"
#include "system/system_driver.h"

#include "runtime/errors.h"

#include <cmath>
#include <cstdlib>
#include <limits>

namespace {

// The ids of the running platform timers and their timers; removal moves
// the last entry into the freed slot. Main thread only.
struct TimerTable {
    int32_t ids[kMaxTimers] = {};
    TTimer* timers[kMaxTimers] = {};  // alive while running: each holds itself (_cycle)
    int count = 0;
    bool exitStepRegistered = false;

    int Find(int32_t id) const {
        for (int i = 0; i < count; ++i)
            if (ids[i] == id) return i;
        return -1;
    }
};

TimerTable table;

void StopRunningTimers();

// Runs on the main thread for every tick posted by the timer thread. A tick
// posted before its timer stopped arrives after the id left the table: ignored.
void FireById(const std::shared_ptr<void>& argument, int32_t id) {
    if (table.Find(id) < 0) return;
    auto timer = std::static_pointer_cast<TTimer>(argument);
    if (timer->_handle == id) timer->Fire();
}

int32_t StartTableTimer(float hertz, const std::shared_ptr<TTimer>& timer) {
    if (table.count == kMaxTimers) return 0;
    const int32_t period = TimerPeriodMillis(hertz);
    if (period == 0) return 0;
    const int32_t id = StartPlatformTimer(period, FireById, timer);
    if (id == 0) return 0;
    if (!table.exitStepRegistered) table.exitStepRegistered = std::atexit(StopRunningTimers) == 0;
    table.timers[table.count] = timer.get();
    table.ids[table.count++] = id;
    return id;
}

void StopTableTimer(int32_t id) {
    const int slot = table.Find(id);
    if (slot < 0) return;
    --table.count;
    table.ids[slot] = table.ids[table.count];
    table.timers[slot] = table.timers[table.count];
    StopPlatformTimer(id);
}

// The module's exit step: a timer still running holds itself, so it would
// outlive the program (a leak to the sanitizers) with its platform timer
// still ticking. Registered once the platform timers exist, so it runs before
// they are torn down.
void StopRunningTimers() {
    while (table.count > 0) {
        const int before = table.count;
        table.timers[before - 1]->Stop();
        if (table.count == before) StopTableTimer(table.ids[before - 1]);  // never left behind
    }
}

}  // namespace

int32_t TimerPeriodMillis(float hertz) {
    if (!std::isfinite(hertz) || hertz <= 0.0f) return 0;
    const double period = std::trunc(1000.0 / static_cast<double>(hertz));
    if (period < 1.0 || period > std::numeric_limits<int32_t>::max()) return 0;
    return static_cast<int32_t>(period);
}

int ActiveTimerCount() { return table.count; }

int32_t TTimer::Ticks() const { return _ticks; }

void TTimer::Stop() {
    if (_handle == 0) return;
    StopTableTimer(_handle);
    _handle = 0;
    _event = nullptr;
    _cycle = nullptr;  // may drop the last reference: nothing may follow
}

void TTimer::Fire() {
    if (_handle == 0) return;
    ++_ticks;
    // Held for the emit: a hook may stop the timer and drop _event and _cycle.
    const auto self = shared_from_this();
    if (auto event = _event) {
        SendEvent(event);
    } else {
        SendEvent(MakeEvent(EVENT_TIMER_TICK, this, _ticks, 0, 0, 0));
    }
}

int32_t TTimer::Wait() {
    if (_handle == 0) return 0;
    // Inside a pump no tick can be delivered: report what has come, never block.
    while (_ticks == _wticks && _handle != 0 && !PumpBusy()) WaitForMessages();
    const int32_t ticks = _ticks - _wticks;
    _wticks = _ticks;
    return ticks;
}

std::shared_ptr<TTimer> TTimer::Create(float hertz, std::shared_ptr<TEvent> event) {
    auto timer = std::make_shared<TTimer>();
    const int32_t id = StartTableTimer(hertz, timer);
    if (id == 0) return nullptr;
    timer->_cycle = timer;
    timer->_event = std::move(event);
    timer->_handle = id;
    return timer;
}

std::shared_ptr<TTimer> StartTimer(float hertz, std::shared_ptr<TEvent> event) {
    return TTimer::Create(hertz, std::move(event));
}

int32_t TimerTickCount(const std::shared_ptr<TTimer>& timer) {
    if (!timer) throw TNullObjectError();
    return timer->Ticks();
}
