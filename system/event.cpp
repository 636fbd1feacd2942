#include "system/event.h"

#include "runtime/errors.h"
#include "system/hook_internal.h"

#include <utility>

namespace {

struct EventModule {
    int32_t emitHookId;
    // "}" then "<id>{<description>}" per registration; looked up by substring.
    std::string registry = "}";
    uint32_t lastUserId = 0x80000000u;

    EventModule() : emitHookId(ReserveProcessHookIdFirst()) {
        static const std::pair<int32_t, const char*> kSystemIds[] = {
            {EVENT_APP_SUSPEND, "AppSuspend"},
            {EVENT_APP_RESUME, "AppResume"},
            {EVENT_APP_TERMINATE, "AppTerminate"},
            {EVENT_APP_OPEN_FILE, "AppOpenFile"},
            {EVENT_APP_IDLE, "AppIdle"},
            {EVENT_KEY_DOWN, "KeyDown"},
            {EVENT_KEY_UP, "KeyUp"},
            {EVENT_KEY_CHAR, "KeyChar"},
            {EVENT_KEY_REPEAT, "KeyRepeat"},
            {EVENT_MOUSE_DOWN, "MouseDown"},
            {EVENT_MOUSE_UP, "MouseUp"},
            {EVENT_MOUSE_MOVE, "MouseMove"},
            {EVENT_MOUSE_WHEEL, "MouseWheel"},
            {EVENT_MOUSE_ENTER, "MouseEnter"},
            {EVENT_MOUSE_LEAVE, "MouseLeave"},
            {EVENT_TIMER_TICK, "TimerTick"},
            {EVENT_HOTKEY_HIT, "HotkeyHit"},
            {EVENT_GADGET_ACTION, "GadgetAction"},
            {EVENT_GADGET_PAINT, "GadgetPaint"},
            {EVENT_GADGET_SELECT, "GadgetSelect"},
            {EVENT_GADGET_MENU, "GadgetMenu"},
            {EVENT_GADGET_OPEN, "GadgetOpen"},
            {EVENT_GADGET_CLOSE, "GadgetClose"},
            {EVENT_GADGET_DONE, "GadgetDone"},
            {EVENT_GADGET_LOST_FOCUS, "GadgetLostFocus"},
            {EVENT_GADGET_SHAPE, "GadgetShape"},
            {EVENT_WINDOW_MOVE, "WindowMove"},
            {EVENT_WINDOW_SIZE, "WindowSize"},
            {EVENT_WINDOW_CLOSE, "WindowClose"},
            {EVENT_WINDOW_ACTIVATE, "WindowActivate"},
            {EVENT_WINDOW_ACCEPT, "WindowAccept"},
            {EVENT_MENU_ACTION, "MenuAction"},
            {EVENT_STREAM_EOF, "StreamEof"},
            {EVENT_STREAM_AVAIL, "StreamAvail"},
            {EVENT_PROCESS_EXIT, "ProcessExit"},
        };
        for (const auto& [id, text] : kSystemIds) Register(id, text);
    }

    void Register(int32_t id, const std::string& description) {
        registry += std::to_string(id);
        registry += '{';
        registry += description;
        registry += '}';
    }
};

EventModule& Events() {
    static EventModule module;
    return module;
}

}  // namespace

int32_t eventEmitHookId() { return Events().emitHookId; }

void TEvent::Emit() { (void)RunHookChain(eventEmitHookId(), shared_from_this()); }

std::string TEvent::ToString() const {
    std::string head = DescriptionForId(id);
    if (head.empty()) {
        if (id < 0)
            head = "UserEvent" + std::to_string(static_cast<int64_t>(id) + 0x80000000LL);
        else
            head = "Unknown Event, id=" + std::to_string(id);
    }
    std::string text = head + ": data=" + std::to_string(data) + ", mods=" + std::to_string(mods) +
                       ", x=" + std::to_string(x) + ", y=" + std::to_string(y) + ", extra=\"";
    if (const auto* s = std::any_cast<std::string>(&extra)) text += *s;
    text += '"';
    return text;
}

std::shared_ptr<TEvent> TEvent::Create(int32_t id, EventSource source, int32_t data, int32_t mods, int32_t x, int32_t y,
                                       std::any extra) {
    auto event = std::make_shared<TEvent>();
    event->id = id;
    event->source = source;
    event->data = data;
    event->mods = mods;
    event->x = x;
    event->y = y;
    event->extra = std::move(extra);
    return event;
}

int32_t TEvent::AllocUserId() {
    // Wraps like the int32 counter it models; 2^31 allocations are out of reach.
    return static_cast<int32_t>(++Events().lastUserId);
}

void TEvent::RegisterId(int32_t id, const std::string& description) {
    // A "}" would end the entry early and could forge entries for other ids.
    if (description.find('}') != std::string::npos) throw TRuntimeError("Event description must not contain '}'");
    Events().Register(id, description);
}

std::string TEvent::DescriptionForId(int32_t id) {
    const std::string& registry = Events().registry;
    const std::string key = "}" + std::to_string(id) + "{";
    const auto b = registry.find(key);
    if (b == std::string::npos) return "";
    const auto start = b + key.size();
    const auto e = registry.find('}', start);
    if (e == std::string::npos) return "";
    return registry.substr(start, e - start);
}

std::shared_ptr<TEvent> MakeEvent(int32_t id, EventSource source, int32_t data, int32_t mods, int32_t x, int32_t y,
                                  std::any extra) {
    return TEvent::Create(id, source, data, mods, x, y, std::move(extra));
}

void SendEvent(const std::shared_ptr<TEvent>& event) {
    if (!event) throw TNullObjectError();
    event->Emit();
}

int32_t NewUserEventId(const std::string& description) {
    const int32_t id = TEvent::AllocUserId();
    if (!description.empty()) TEvent::RegisterId(id, description);
    return id;
}
