// The browser's system driver: the pump drains the input records that the
// listeners on the program's canvases queue in JavaScript, the wait yields
// to the browser until input or a main-thread call arrives, and the cursor
// rule is the canvases' CSS cursor (hidden over them only).
#include "system/web/web_system.h"

#include "system/system_host.h"
#include "system/web/web_system_internal.h"

#include <emscripten.h>
#include <emscripten/em_js.h>

WebSystemState webSystem;

namespace {

// Listeners on one canvas and on its window; records go to Module.fkInput.queue.
// The JavaScript inside EM_JS is stringified as written: the formatter keeps off it.
// clang-format off
EM_JS(int, fk_input_listen, (const char* selectorText, int index), {
    var selector = UTF8ToString(selectorText);
    var canvas = (Module.canvas && ('#' + Module.canvas.id) === selector) ? Module.canvas
                                                                          : document.querySelector(selector);
    if (!canvas) return 0;
    var input = Module.fkInput || (Module.fkInput = {queue: [], listeners: {}, capture: -1});
    var push = function(record) {
        record.canvas = index;
        input.queue.push(record);
        if (Module.fkWake) Module.fkWake.raise();
    };
    var flagsOf = function(e) {
        return (e.shiftKey ? 1 : 0) | (e.ctrlKey ? 2 : 0) | (e.altKey ? 4 : 0) | (e.metaKey ? 8 : 0);
    };
    var pointer = function(kind, e) {
        var r = canvas.getBoundingClientRect();
        var x = Math.floor((e.clientX - r.left) * canvas.width / (r.width || canvas.width));
        var y = Math.floor((e.clientY - r.top) * canvas.height / (r.height || canvas.height));
        return {kind: kind, button: e.button, buttons: e.buttons, x: x, y: y,
                inside: (x >= 0 && y >= 0 && x < canvas.width && y < canvas.height) ? 1 : 0, flags: flagsOf(e)};
    };
    // Keys the browser keeps: its own chords, reload, full screen and its tools.
    var browserKey = function(e) {
        return e.ctrlKey || e.metaKey || e.code === 'F5' || e.code === 'F11' || e.code === 'F12';
    };
    var key = function(kind) {
        return function(e) {
            push({kind: kind, flags: flagsOf(e), repeat: e.repeat ? 1 : 0, code: e.code || "", key: e.key || ""});
            if (!browserKey(e)) e.preventDefault();
        };
    };
    var on = {
        keydown: [canvas, key(1)],
        keyup: [canvas, key(2)],
        mousedown: [canvas, function(e) {
            canvas.focus();
            input.capture = index;
            push(pointer(3, e));
            e.preventDefault();
        }],
        mouseup: [window, function(e) {
            if (e.target !== canvas && input.capture !== index) return;
            push(pointer(4, e));
            if (e.buttons === 0) input.capture = -1;
        }],
        mousemove: [window, function(e) {
            if (e.target === canvas || input.capture === index) push(pointer(5, e));
        }],
        wheel: [canvas, function(e) {
            var record = pointer(6, e);
            record.wheel = (typeof e.wheelDeltaY === 'number' && e.wheelDeltaY !== 0) ? e.wheelDeltaY
                         : e.deltaY < 0 ? 120 : e.deltaY > 0 ? -120 : 0;
            push(record);
            e.preventDefault();
        }],
        mouseleave: [canvas, function(e) { push(pointer(7, e)); }],
        contextmenu: [canvas, function(e) { e.preventDefault(); }],
        blur: [window, function() { push({kind: 9}); }],
        focus: [window, function() { push({kind: 10}); }],
    };
    for (var type in on) on[type][0].addEventListener(type, on[type][1], {passive: false});
    input.listeners[index] = on;
    if (canvas.tabIndex < 0) canvas.tabIndex = 0;
    canvas.focus();
    // The page's own close control asks the program to end.
    Module.fkRequestClose = function() { push({kind: 8}); };
    return 1;
});

EM_JS(void, fk_input_unlisten, (int index), {
    var input = Module.fkInput;
    if (!input || !input.listeners[index]) return;
    var on = input.listeners[index];
    for (var type in on) on[type][0].removeEventListener(type, on[type][1], {passive: false});
    delete input.listeners[index];
    input.queue = input.queue.filter(function(record) { return record.canvas !== index; });
});

// The oldest queued record into fields (10 numbers) and its two texts; 0 when none.
EM_JS(int, fk_input_next, (int32_t* fields, char* code, int codeSize, char* key, int keySize), {
    var input = Module.fkInput;
    if (!input || input.queue.length === 0) return 0;
    var r = input.queue.shift();
    var values = [r.kind, r.canvas, r.button || 0, r.buttons || 0, r.x || 0, r.y || 0, r.inside || 0,
                  r.wheel || 0, r.flags || 0, r.repeat || 0];
    for (var i = 0; i < values.length; ++i) HEAP32[(fields >> 2) + i] = values[i];
    stringToUTF8(r.code || "", code, codeSize);
    stringToUTF8(r.key || "", key, keySize);
    return 1;
});

EM_JS(int, fk_input_pending, (), { return (Module.fkInput && Module.fkInput.queue.length > 0) ? 1 : 0; });

EM_JS(void, fk_cursor_hide, (int hidden), {
    var input = Module.fkInput;
    if (!input) return;
    for (var index in input.listeners) {
        var canvas = input.listeners[index].keydown[0];
        canvas.style.cursor = hidden ? 'none' : "";
    }
});
// clang-format on

bool NextBrowserInput(TBrowserInput& input) {
    int32_t fields[10] = {};
    char code[64] = {}, key[64] = {};
    if (!fk_input_next(fields, code, sizeof code, key, sizeof key)) return false;
    input.kind = fields[0];
    input.canvas = fields[1];
    input.button = fields[2];
    input.buttons = fields[3];
    input.x = fields[4];
    input.y = fields[5];
    input.inside = fields[6];
    input.wheel = fields[7];
    input.flags = fields[8];
    input.repeat = fields[9];
    input.code = code;
    input.key = key;
    return true;
}

}  // namespace

int32_t TWebSystemDriver::Poll() {
    RunPendingMainThreadCalls();
    TBrowserInput input;
    while (NextBrowserInput(input)) TranslateBrowserInput(input, nullptr);
    return 0;
}

int32_t TWebSystemDriver::Wait() {
    if (!MainThreadCallsPending() && !fk_input_pending()) HostWakeWait();
    return Poll();
}

int32_t TWebSystemDriver::MoveMouse(int32_t, int32_t) { return 0; }

int32_t TWebSystemDriver::SetMouseVisible(int32_t visible) {
    webSystem.cursorVisible = visible;
    fk_cursor_hide(visible == 1 ? 0 : 1);
    return 0;
}

void StartWebSystem() { StartSystemDriver<TWebSystemDriver>(); }

bool WebListenToCanvas(const std::string& selector, int32_t index) {
    StartWebSystem();
    if (!fk_input_listen(selector.c_str(), index)) return false;
    fk_cursor_hide(webSystem.cursorVisible == 1 ? 0 : 1);
    return true;
}

void WebStopListening(int32_t index) { fk_input_unlisten(index); }

void ResetBrowserInput() {
    webSystem = WebSystemState{};
    modifierState = 0;
    fk_cursor_hide(0);  // the canvases show the pointer, as the state now says
}
