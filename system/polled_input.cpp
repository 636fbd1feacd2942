#include "system/polled_input.h"

#include "runtime/errors.h"
#include "system/system_driver.h"

namespace {

constexpr int32_t kKeyCount = 256;
constexpr int32_t kButtonCount = 4;
constexpr int32_t kCharRing = 256;

// The module's state, one instance. Its initial values are the ones written
// here (all zero, so it is ready at load time: no start-up order to get
// wrong). ResetKeys and ResetMouse clear the input part of it; the two
// application flags and the hook's filter change only through their events
// and StartPolledInput / StopPolledInput.
struct PolledInputState {
    int32_t keyStates[kKeyCount] = {};
    int32_t keyHits[kKeyCount] = {};
    int32_t charQueue[kCharRing] = {};
    uint32_t charGet = 0, charPut = 0;  // unsigned: the counters may wrap
    int32_t mouseStates[kButtonCount] = {};
    int32_t mouseHits[kButtonCount] = {};
    int32_t mouseLocation[4] = {};  // x, y, wheel, unused
    int32_t suspended = 0;
    int32_t terminateFlag = 0;
    EventSource sourceFilter = nullptr;
    int32_t enabled = 0;
};

PolledInputState polled;
constexpr int32_t autoPoll = 1;

void AutoPoll() {
    if (autoPoll) PumpMessages();
}

// Event data used as an index is bounds-checked like any array access: a
// code out of range raises the array-bounds error to whoever emitted it.
bool InRange(int32_t value, int32_t length) {
    CheckIndex(value, length);
    return true;
}

}  // namespace

HookData PolledInputHook(int32_t, HookData data, const HookContext&) {
    auto* event = dynamic_cast<TEvent*>(data.get());
    if (!event) return data;
    if (polled.sourceFilter && event->source != polled.sourceFilter) return data;
    const int32_t code = event->data;
    switch (event->id) {
    case EVENT_KEY_DOWN:
        if (InRange(code, kKeyCount) && !polled.keyStates[code]) {
            polled.keyStates[code] = 1;
            ++polled.keyHits[code];
        }
        break;
    case EVENT_KEY_UP:
        if (InRange(code, kKeyCount)) polled.keyStates[code] = 0;
        break;
    case EVENT_KEY_CHAR:
        if (polled.charPut - polled.charGet < static_cast<uint32_t>(kCharRing)) {
            polled.charQueue[polled.charPut & (kCharRing - 1)] = code;
            ++polled.charPut;
        }
        break;
    case EVENT_MOUSE_DOWN:
        if (InRange(code, kButtonCount) && !polled.mouseStates[code]) {
            polled.mouseStates[code] = 1;
            ++polled.mouseHits[code];
        }
        break;
    case EVENT_MOUSE_UP:
        if (InRange(code, kButtonCount)) polled.mouseStates[code] = 0;
        break;
    case EVENT_MOUSE_MOVE:
        polled.mouseLocation[0] = event->x;
        polled.mouseLocation[1] = event->y;
        break;
    case EVENT_MOUSE_WHEEL: polled.mouseLocation[2] += code; break;
    case EVENT_APP_SUSPEND:
        ResetKeys();
        ResetMouse();
        polled.suspended = 1;
        break;
    case EVENT_APP_RESUME:
        ResetKeys();
        ResetMouse();
        polled.suspended = 0;
        break;
    case EVENT_APP_TERMINATE: polled.terminateFlag = 1; break;
    default: break;
    }
    return data;
}

int32_t IsKeyDown(int32_t key) {
    CheckIndex(key, kKeyCount);
    AutoPoll();
    return polled.keyStates[key];
}

int32_t KeyHitCount(int32_t key) {
    CheckIndex(key, kKeyCount);
    AutoPoll();
    const int32_t hits = polled.keyHits[key];
    polled.keyHits[key] = 0;
    return hits;
}

int32_t NextChar() {
    AutoPoll();
    if (polled.charGet == polled.charPut) return 0;
    return polled.charQueue[polled.charGet++ & (kCharRing - 1)];
}

void ResetKeys() {
    PumpMessages();
    polled.charGet = polled.charPut = 0;
    for (int32_t i = 0; i < kKeyCount; ++i) polled.keyStates[i] = polled.keyHits[i] = 0;
}

int32_t IsMouseButtonDown(int32_t button) {
    CheckIndex(button, kButtonCount);
    AutoPoll();
    return polled.mouseStates[button];
}

int32_t MouseHitCount(int32_t button) {
    CheckIndex(button, kButtonCount);
    AutoPoll();
    const int32_t hits = polled.mouseHits[button];
    polled.mouseHits[button] = 0;
    return hits;
}

int32_t PointerX() {
    AutoPoll();
    return polled.mouseLocation[0];
}

int32_t PointerY() {
    AutoPoll();
    return polled.mouseLocation[1];
}

int32_t WheelPosition() {
    AutoPoll();
    return polled.mouseLocation[2];
}

void ResetMouse() {
    PumpMessages();
    for (int32_t i = 0; i < kButtonCount; ++i) polled.mouseStates[i] = polled.mouseHits[i] = 0;
    polled.mouseLocation[2] = 0;
}

int32_t IsSuspended() {
    AutoPoll();
    return polled.suspended;
}

int32_t TerminateRequested() {
    AutoPoll();
    const int32_t flag = polled.terminateFlag;
    polled.terminateFlag = 0;
    return flag;
}

int32_t WaitForKey() {
    ResetKeys();
    for (;;) {
        WaitForMessages();
        for (int32_t key = 1; key < kKeyCount; ++key)
            if (KeyHitCount(key)) return key;
    }
}

int32_t WaitForChar() {
    ResetKeys();
    for (;;) {
        WaitForMessages();
        if (const int32_t c = NextChar()) return c;
    }
}

int32_t WaitForMouseButton() {
    ResetMouse();
    for (;;) {
        WaitForMessages();
        for (int32_t button = 1; button < kButtonCount; ++button)
            if (MouseHitCount(button)) return button;
    }
}

void StartPolledInput(EventSource source) {
    if (polled.enabled) return;
    polled.sourceFilter = source;
    ResetKeys();
    ResetMouse();
    InsertHook(eventEmitHookId(), PolledInputHook, nullptr, 0);
    polled.enabled = 1;
}

void StopPolledInput() {
    if (!polled.enabled) return;
    RemoveHookEntry(eventEmitHookId(), PolledInputHook, nullptr);
    ResetKeys();
    ResetMouse();
    polled.sourceFilter = nullptr;
    polled.enabled = 0;
}
