// The system module's sleep and wake-up in a browser or under node: the main
// thread is the page's only thread, so a wait hands control back to the
// JavaScript event loop (Asyncify) until the wake-up signal is raised. The
// signal is a flag with a promise: posted calls, timer ticks and browser
// input raise it (Module.fkWake.raise() from JavaScript).
//
// A main() that has waited once returns to no caller that would end the
// program: the first wait therefore arranges that its return value ends it
// (exit: the at-exit actions, the output flushed, Module.onExit told).
#include "system/system_host.h"

#include <emscripten.h>
#include <emscripten/em_js.h>

namespace {

// The JavaScript inside EM_JS is stringified as written: the formatter keeps off it.
// clang-format off
EM_JS(void, fk_wake_init, (), {
    if (Module.fkWake) return;
    var wake = {raised: false, resume: null};
    wake.raise = function() {
        wake.raised = true;
        if (wake.resume) {
            var resume = wake.resume;
            wake.resume = null;
            resume();
        }
    };
    // Called at every wait of the main thread; the first arranges the exit.
    wake.watchMain = function() {
        if (wake.watching || typeof Asyncify === 'undefined') return;
        wake.watching = true;
        var ended = function(error) { if (!(error instanceof ExitStatus)) throw error; };
        Asyncify.whenDone().then(function(status) {
            try {
                exit(status | 0);
            } catch (error) {
                ended(error);  // a page's exit ends by throwing its status
            }
        }, ended);
    };
    Module.fkWake = wake;
});

EM_JS(void, fk_wake_raise, (), { Module.fkWake.raise(); });

EM_JS(void, fk_wake_clear, (), { Module.fkWake.raised = false; });

EM_ASYNC_JS(void, fk_wake_wait, (), {
    var wake = Module.fkWake;
    wake.watchMain();
    if (!wake.raised) await new Promise(function(resume) { wake.resume = resume; });
});

EM_ASYNC_JS(void, fk_sleep, (int ms), {
    if (Module.fkWake) Module.fkWake.watchMain();
    await new Promise(function(resume) { setTimeout(resume, ms); });
});
// clang-format on

}  // namespace

void HostSleep(int32_t ms) {
    HostWakeInit();
    fk_sleep(ms);
}

void HostWakeInit() { fk_wake_init(); }

void HostWakeSignal() { fk_wake_raise(); }

void HostWakeDrain() { fk_wake_clear(); }

void HostWakeWait() { fk_wake_wait(); }

int HostWakeFd() { return -1; }
