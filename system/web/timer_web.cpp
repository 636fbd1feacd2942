// The periodic timers in a browser or under node: each timer is a chain of
// JavaScript time-outs on the event loop, tick k due at start + k * period,
// so late call-backs never add up to drift; one that comes late posts the
// missed ticks one after another. A tick calls back into the program, which
// posts fire(argument, id) to the main thread: it runs inside the next pump.

#include "system/platform_timer.h"

#include <emscripten.h>
#include <emscripten/em_js.h>

#include <cstdint>
#include <vector>

namespace {

struct WebTimerEntry {
    int32_t id = 0;
    TMainThreadFunc fire = nullptr;
    std::shared_ptr<void> argument;
};

struct WebTimers {
    std::vector<WebTimerEntry> entries;
    int32_t lastId = 0;
};

WebTimers& Timers() {
    static WebTimers timers;
    return timers;
}

// The JavaScript inside EM_JS is stringified as written: the formatter keeps off it.
// clang-format off
EM_JS(int, fk_timer_start, (int id, int period), {
    if (typeof setTimeout !== 'function' || typeof performance === 'undefined') return 0;
    var timers = Module.fkTimers || (Module.fkTimers = {});
    var timer = {start: performance.now(), ticks: 0, handle: 0};
    var due = function() { return timer.start + (timer.ticks + 1) * period; };
    var run = function() {
        var now = performance.now();
        while (timers[id] === timer && due() <= now) {
            timer.ticks++;
            _fk_web_timer_tick(id);
        }
        if (timers[id] === timer) timer.handle = setTimeout(run, Math.max(0, due() - performance.now()));
    };
    timers[id] = timer;
    timer.handle = setTimeout(run, period);
    return 1;
});

EM_JS(void, fk_timer_stop, (int id), {
    var timers = Module.fkTimers;
    if (!timers || !timers[id]) return;
    clearTimeout(timers[id].handle);
    delete timers[id];
});
// clang-format on

}  // namespace

// Called by a timer's time-out on the event loop.
extern "C" EMSCRIPTEN_KEEPALIVE void fk_web_timer_tick(int32_t id) {
    for (const WebTimerEntry& entry : Timers().entries)
        if (entry.id == id) return RunOnMainThread(entry.fire, entry.argument, id);
}

int32_t StartPlatformTimer(int32_t periodMs, TMainThreadFunc fire, std::shared_ptr<void> argument) {
    if (periodMs < 1 || !fire) return 0;
    WebTimers& t = Timers();
    WebTimerEntry entry;
    entry.id = t.lastId == INT32_MAX ? 1 : t.lastId + 1;
    if (!fk_timer_start(entry.id, periodMs)) return 0;
    t.lastId = entry.id;
    entry.fire = fire;
    entry.argument = std::move(argument);
    t.entries.push_back(std::move(entry));
    return t.lastId;
}

void StopPlatformTimer(int32_t id) {
    WebTimers& t = Timers();
    for (size_t i = 0; i < t.entries.size(); ++i) {
        if (t.entries[i].id != id) continue;
        fk_timer_stop(id);
        t.entries.erase(t.entries.begin() + static_cast<std::ptrdiff_t>(i));
        return;
    }
}
