#include "system/polled_input.h"

#include "runtime/errors.h"
#include "system/system_driver.h"

namespace {

constexpr int32_t kKeyCount = 256;
constexpr int32_t kButtonCount = 4;
constexpr int32_t kCharRing = 256;

// Zero-initialised at load time: no start-up order to get wrong.
int32_t keyStates[kKeyCount];
int32_t keyHits[kKeyCount];
int32_t charQueue[kCharRing];
uint32_t charGet, charPut;  // unsigned: the counters may wrap
int32_t mouseStates[kButtonCount];
int32_t mouseHits[kButtonCount];
int32_t mouseLocation[4];  // x, y, wheel, unused
int32_t suspended;
int32_t terminateFlag;
EventSource sourceFilter;
int32_t enabled;
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
    if (sourceFilter && event->source != sourceFilter) return data;
    const int32_t code = event->data;
    switch (event->id) {
    case EVENT_KEY_DOWN:
        if (InRange(code, kKeyCount) && !keyStates[code]) {
            keyStates[code] = 1;
            ++keyHits[code];
        }
        break;
    case EVENT_KEY_UP:
        if (InRange(code, kKeyCount)) keyStates[code] = 0;
        break;
    case EVENT_KEY_CHAR:
        if (charPut - charGet < static_cast<uint32_t>(kCharRing)) {
            charQueue[charPut & (kCharRing - 1)] = code;
            ++charPut;
        }
        break;
    case EVENT_MOUSE_DOWN:
        if (InRange(code, kButtonCount) && !mouseStates[code]) {
            mouseStates[code] = 1;
            ++mouseHits[code];
        }
        break;
    case EVENT_MOUSE_UP:
        if (InRange(code, kButtonCount)) mouseStates[code] = 0;
        break;
    case EVENT_MOUSE_MOVE:
        mouseLocation[0] = event->x;
        mouseLocation[1] = event->y;
        break;
    case EVENT_MOUSE_WHEEL:
        mouseLocation[2] += code;
        break;
    case EVENT_APP_SUSPEND:
        ResetKeys();
        ResetMouse();
        suspended = 1;
        break;
    case EVENT_APP_RESUME:
        ResetKeys();
        ResetMouse();
        suspended = 0;
        break;
    case EVENT_APP_TERMINATE:
        terminateFlag = 1;
        break;
    default:
        break;
    }
    return data;
}

int32_t IsKeyDown(int32_t key) {
    CheckIndex(key, kKeyCount);
    AutoPoll();
    return keyStates[key];
}

int32_t KeyHitCount(int32_t key) {
    CheckIndex(key, kKeyCount);
    AutoPoll();
    const int32_t hits = keyHits[key];
    keyHits[key] = 0;
    return hits;
}

int32_t NextChar() {
    AutoPoll();
    if (charGet == charPut) return 0;
    return charQueue[charGet++ & (kCharRing - 1)];
}

void ResetKeys() {
    PumpMessages();
    charGet = charPut = 0;
    for (int32_t i = 0; i < kKeyCount; ++i) keyStates[i] = keyHits[i] = 0;
}

int32_t IsMouseButtonDown(int32_t button) {
    CheckIndex(button, kButtonCount);
    AutoPoll();
    return mouseStates[button];
}

int32_t MouseHitCount(int32_t button) {
    CheckIndex(button, kButtonCount);
    AutoPoll();
    const int32_t hits = mouseHits[button];
    mouseHits[button] = 0;
    return hits;
}

int32_t PointerX() {
    AutoPoll();
    return mouseLocation[0];
}

int32_t PointerY() {
    AutoPoll();
    return mouseLocation[1];
}

int32_t WheelPosition() {
    AutoPoll();
    return mouseLocation[2];
}

void ResetMouse() {
    PumpMessages();
    for (int32_t i = 0; i < kButtonCount; ++i) mouseStates[i] = mouseHits[i] = 0;
    mouseLocation[2] = 0;
}

int32_t IsSuspended() {
    AutoPoll();
    return suspended;
}

int32_t TerminateRequested() {
    AutoPoll();
    const int32_t flag = terminateFlag;
    terminateFlag = 0;
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
    if (enabled) return;
    sourceFilter = source;
    ResetKeys();
    ResetMouse();
    InsertHook(eventEmitHookId(), PolledInputHook, nullptr, 0);
    enabled = 1;
}

void StopPolledInput() {
    if (!enabled) return;
    RemoveHookEntry(eventEmitHookId(), PolledInputHook, nullptr);
    ResetKeys();
    ResetMouse();
    sourceFilter = nullptr;
    enabled = 0;
}
