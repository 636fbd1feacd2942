#pragma once
// Events: records of one thing that happened (a key went down, the window
// was closed, a timer ticked). Emitting one runs the event-emit hook chain,
// so every interested module sees every event.
//
// The module starts lazily on first use of anything below (function-local
// static): it reserves the emit hook id, then registers the 35 system ids.
// Main thread only.

#include "system/hook.h"

#include <any>
#include <cstdint>
#include <memory>
#include <string>

// System event ids: a power of two per family plus a running number.
enum : int32_t {
    EVENT_APP_SUSPEND = 257,
    EVENT_APP_RESUME = 258,
    EVENT_APP_TERMINATE = 259,
    EVENT_APP_OPEN_FILE = 260,
    EVENT_APP_IDLE = 261,
    EVENT_KEY_DOWN = 513,
    EVENT_KEY_UP = 514,
    EVENT_KEY_CHAR = 515,
    EVENT_KEY_REPEAT = 516,
    EVENT_MOUSE_DOWN = 1025,
    EVENT_MOUSE_UP = 1026,
    EVENT_MOUSE_MOVE = 1027,
    EVENT_MOUSE_WHEEL = 1028,
    EVENT_MOUSE_ENTER = 1029,
    EVENT_MOUSE_LEAVE = 1030,
    EVENT_TIMER_TICK = 2049,
    EVENT_HOTKEY_HIT = 4097,
    EVENT_GADGET_ACTION = 8193,
    EVENT_GADGET_PAINT = 8194,
    EVENT_GADGET_SELECT = 8195,
    EVENT_GADGET_MENU = 8196,
    EVENT_GADGET_OPEN = 8197,
    EVENT_GADGET_CLOSE = 8198,
    EVENT_GADGET_DONE = 8199,
    EVENT_GADGET_LOST_FOCUS = 8200,
    EVENT_GADGET_SHAPE = 8201,
    EVENT_WINDOW_MOVE = 16385,
    EVENT_WINDOW_SIZE = 16386,
    EVENT_WINDOW_CLOSE = 16387,
    EVENT_WINDOW_ACTIVATE = 16388,
    EVENT_WINDOW_ACCEPT = 16389,
    EVENT_MENU_ACTION = 32769,
    EVENT_STREAM_EOF = 65537,
    EVENT_STREAM_AVAIL = 65538,
    EVENT_PROCESS_EXIT = 131073,
};

// Modifier bits of TEvent::mods.
enum : int32_t {
    MODIFIER_SHIFT = 1,
    MODIFIER_CONTROL = 2,
    MODIFIER_ALT = 4,
    MODIFIER_SYSTEM = 8,  // either Windows (Super) key
};

// Event sources are compared by identity only: the graphics window's input
// has a null source, a timer's ticks carry the timer.
using EventSource = const void*;

// One event. Immutable by convention once emitted.
class TEvent : public THookObject, public std::enable_shared_from_this<TEvent> {
public:
    int32_t id = 0;                // event kind
    EventSource source = nullptr;  // who produced it
    int32_t data = 0;              // key code, character, button, wheel steps, ticks
    int32_t mods = 0;              // MODIFIER_* bits held
    int32_t x = 0;                 // pointer x in client pixels where meaningful
    int32_t y = 0;                 // pointer y
    std::any extra;                // anything; ToString shows it when it holds a std::string

    // Runs the event-emit chain with this event; the chain's result is dropped.
    // The event must be owned by a shared_ptr (made by Create or MakeEvent).
    void Emit();
    // "KeyDown: data=27, mods=0, x=10, y=20, extra=\"\"" and the like.
    std::string ToString() const;

    // A new event with the seven fields set.
    static std::shared_ptr<TEvent> Create(int32_t id, EventSource source, int32_t data, int32_t mods, int32_t x,
                                          int32_t y, std::any extra = {});
    // Next user id: 0x80000001, 0x80000002, ... (negative as int32).
    static int32_t AllocUserId();
    // Appends id and description to the registry; the first registration of an id wins.
    static void RegisterId(int32_t id, const std::string& description);
    // The registered description of id, or "".
    static std::string DescriptionForId(int32_t id);
};

// TEvent::Create.
std::shared_ptr<TEvent> MakeEvent(int32_t id, EventSource source, int32_t data, int32_t mods, int32_t x, int32_t y,
                                  std::any extra = {});
// event->Emit(); a null event raises the runtime's null-object error.
void SendEvent(const std::shared_ptr<TEvent>& event);
// A fresh user id, registered with description unless it is empty.
int32_t NewUserEventId(const std::string& description);
// The hook id whose chain every emitted event runs through.
int32_t eventEmitHookId();
