// Periodic timers on Windows: multimedia timers (timeSetEvent with the
// periodic flag, timeKillEvent). The callback runs on the multimedia timer's
// own thread and only posts the tick to the main thread.

#include "system/platform_timer.h"

#include <windows.h>

#include <map>
#include <mutex>

namespace {

struct TimerEntry {
    TMainThreadFunc fire = nullptr;
    std::shared_ptr<void> argument;
};

// The running timers by id. The lock keeps a tick that is under way and a
// stop on the main thread apart: once a stop has erased its entry, no tick of
// that timer posts anything.
struct TimerTable {
    std::mutex lock;
    std::map<UINT, TimerEntry> entries;
};

TimerTable& Table() {
    static TimerTable table;
    return table;
}

void CALLBACK Tick(UINT id, UINT, DWORD_PTR, DWORD_PTR, DWORD_PTR) {
    TimerTable& table = Table();
    std::lock_guard<std::mutex> hold(table.lock);
    const auto it = table.entries.find(id);
    if (it != table.entries.end()) RunOnMainThread(it->second.fire, it->second.argument, static_cast<int32_t>(id));
}

}  // namespace

int32_t StartPlatformTimer(int32_t periodMs, TMainThreadFunc fire, std::shared_ptr<void> argument) {
    if (periodMs < 1 || !fire) return 0;
    (void)MainThreadWakeFd();  // the main-thread queue outlives the timers at exit
    TimerTable& table = Table();
    // Held across timeSetEvent: the first tick waits until the entry is there.
    std::lock_guard<std::mutex> hold(table.lock);
    const UINT id = timeSetEvent(static_cast<UINT>(periodMs), 0, Tick, 0, TIME_PERIODIC | TIME_CALLBACK_FUNCTION);
    if (id == 0) return 0;
    table.entries[id] = TimerEntry{fire, std::move(argument)};
    return static_cast<int32_t>(id);
}

void StopPlatformTimer(int32_t id) {
    TimerTable& table = Table();
    std::shared_ptr<void> released;  // dropped after the lock, on this (the main) thread
    {
        std::lock_guard<std::mutex> hold(table.lock);
        const auto it = table.entries.find(static_cast<UINT>(id));
        if (it == table.entries.end()) return;
        released = std::move(it->second.argument);
        table.entries.erase(it);
    }
    timeKillEvent(static_cast<UINT>(id));
}
