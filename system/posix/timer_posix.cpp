// The periodic timers' thread for POSIX systems: one thread serves every
// timer, sleeping until the next tick is due. Tick k of a timer is due at
// start + k * period, so late wake-ups never add up to drift; a thread that
// falls behind posts the missed ticks one after another.

#include "system/platform_timer.h"

#include <chrono>
#include <condition_variable>
#include <mutex>
#include <system_error>
#include <thread>
#include <vector>

namespace {

using Clock = std::chrono::steady_clock;

struct TimerEntry {
    int32_t id = 0;
    Clock::duration period{};
    Clock::time_point start{};
    int64_t ticks = 0;  // ticks posted so far; the next is due at start + (ticks + 1) * period
    TMainThreadFunc fire = nullptr;
    std::shared_ptr<void> argument;

    Clock::time_point NextDue() const { return start + period * (ticks + 1); }
};

struct TimerThread {
    std::mutex lock;
    std::condition_variable wake;
    std::vector<TimerEntry> entries;
    int32_t lastId = 0;
    bool quit = false;
    std::thread thread;

    TimerThread() {
        // The main-thread queue must outlive this thread at exit: make it first.
        (void)MainThreadWakeFd();
    }
    ~TimerThread() {
        {
            std::lock_guard<std::mutex> hold(lock);
            quit = true;
        }
        wake.notify_all();
        if (thread.joinable()) thread.join();
    }

    void Run() {
        std::unique_lock<std::mutex> hold(lock);
        while (!quit) {
            if (entries.empty()) {
                wake.wait(hold);
                continue;
            }
            TimerEntry* next = &entries.front();
            for (TimerEntry& e : entries)
                if (e.NextDue() < next->NextDue()) next = &e;
            if (Clock::now() < next->NextDue()) {
                wake.wait_until(hold, next->NextDue());
                continue;  // the table may have changed meanwhile
            }
            // Posted under the lock: a stop on the main thread either comes
            // before (no tick) or after (the tick's record is queued already).
            RunOnMainThread(next->fire, next->argument, next->id);
            ++next->ticks;
        }
    }
};

TimerThread& Timers() {
    static TimerThread timers;
    return timers;
}

}  // namespace

int32_t StartPlatformTimer(int32_t periodMs, TMainThreadFunc fire, std::shared_ptr<void> argument) {
    if (periodMs < 1 || !fire) return 0;
    TimerThread& t = Timers();
    std::lock_guard<std::mutex> hold(t.lock);
    if (!t.thread.joinable()) {
        try {
            t.thread = std::thread([&t] { t.Run(); });
        } catch (const std::system_error&) {
            return 0;
        }
    }
    TimerEntry entry;
    entry.id = t.lastId = t.lastId == INT32_MAX ? 1 : t.lastId + 1;
    entry.period = std::chrono::milliseconds(periodMs);
    entry.start = Clock::now();
    entry.fire = fire;
    entry.argument = std::move(argument);
    t.entries.push_back(std::move(entry));
    t.wake.notify_all();
    return t.lastId;
}

void StopPlatformTimer(int32_t id) {
    TimerThread& t = Timers();
    std::shared_ptr<void> released;  // dropped after the lock, on this (the main) thread
    {
        std::lock_guard<std::mutex> hold(t.lock);
        for (size_t i = 0; i < t.entries.size(); ++i) {
            if (t.entries[i].id != id) continue;
            released = std::move(t.entries[i].argument);
            t.entries.erase(t.entries.begin() + static_cast<std::ptrdiff_t>(i));
            break;
        }
    }
    t.wake.notify_all();
}
