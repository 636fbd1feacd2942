// Browser input into events: keys with the Windows virtual-key codes of the
// desktop drivers (from KeyboardEvent.code, so the layout does not change
// them), characters, buttons, the wheel, pointer movement with tracking,
// the page's close control and the page's focus.
#include "system/web/web_system.h"
#include "system/web/web_system_internal.h"

#include <unordered_map>

namespace {

const int32_t kWheelNotch = 120;

void Emit(int32_t id, EventSource source, int32_t data, int32_t x = 0, int32_t y = 0) {
    SendEvent(MakeEvent(id, source, data, modifierState, x, y));
}

const std::unordered_map<std::string, int32_t>& KeyTable() {
    static const std::unordered_map<std::string, int32_t> table = {
        {"Backspace", 8},
        {"Tab", 9},
        {"NumpadClear", 12},
        {"Enter", 13},
        {"NumpadEnter", 13},
        {"Pause", 19},
        {"CapsLock", 20},
        {"Escape", 27},
        {"Space", 32},
        {"PageUp", 33},
        {"PageDown", 34},
        {"End", 35},
        {"Home", 36},
        {"ArrowLeft", 37},
        {"ArrowUp", 38},
        {"ArrowRight", 39},
        {"ArrowDown", 40},
        {"PrintScreen", 44},
        {"Insert", 45},
        {"Delete", 46},
        {"MetaLeft", 91},
        {"MetaRight", 92},
        {"OSLeft", 91},
        {"OSRight", 92},
        {"ContextMenu", 93},
        {"NumpadMultiply", 106},
        {"NumpadAdd", 107},
        {"NumpadComma", 108},
        {"NumpadSubtract", 109},
        {"NumpadDecimal", 110},
        {"NumpadDivide", 111},
        {"NumLock", 144},
        {"ScrollLock", 145},
        {"ShiftLeft", 160},
        {"ShiftRight", 161},
        {"ControlLeft", 162},
        {"ControlRight", 163},
        {"AltLeft", 164},
        {"AltRight", 165},
        {"Semicolon", 186},
        {"Equal", 187},
        {"Comma", 188},
        {"Minus", 189},
        {"Period", 190},
        {"Slash", 191},
        {"Backquote", 192},
        {"BracketLeft", 219},
        {"Backslash", 220},
        {"BracketRight", 221},
        {"Quote", 222},
        {"IntlBackslash", 226},
    };
    return table;
}

// The modifier bits from the event's own flags, as a key-state query sees them.
void RebuildModifierState(int32_t flags) {
    int32_t mods = 0;
    if (flags & BROWSER_SHIFT) mods |= MODIFIER_SHIFT;
    if (flags & BROWSER_CTRL) mods |= MODIFIER_CONTROL;
    if (flags & BROWSER_ALT) mods |= MODIFIER_ALT;
    if (flags & BROWSER_META) mods |= MODIFIER_SYSTEM;
    modifierState = mods;
}

// The code point of a KeyboardEvent.key that is one character (UTF-8), else 0.
uint32_t SingleCharacter(const std::string& key) {
    if (key.empty()) return 0;
    const auto byte = [&](size_t i) { return static_cast<unsigned char>(key[i]); };
    const unsigned char lead = byte(0);
    size_t length = lead < 0x80 ? 1 : lead >= 0xF0 ? 4 : lead >= 0xE0 ? 3 : lead >= 0xC0 ? 2 : 0;
    if (length == 0 || key.size() != length) return 0;
    uint32_t cp = length == 1 ? lead : lead & (0x7F >> length);
    for (size_t i = 1; i < length; ++i) cp = (cp << 6) | (byte(i) & 0x3F);
    return cp;
}

// The character a key press types, as the desktop's character messages give
// it: printable characters, the control keys that have one, Ctrl+letter as
// its control code; 0 for none. Meta chords belong to the browser.
int32_t TypedCharacter(const TBrowserInput& input) {
    if (input.flags & BROWSER_META) return 0;
    if (input.key == "Enter") return 13;
    if (input.key == "Backspace") return 8;
    if (input.key == "Tab") return 9;
    if (input.key == "Escape") return 27;
    const uint32_t cp = SingleCharacter(input.key);
    if ((input.flags & BROWSER_CTRL) && !(input.flags & BROWSER_ALT)) {
        if (cp >= 'a' && cp <= 'z') return static_cast<int32_t>(cp - 'a' + 1);
        if (cp >= 'A' && cp <= 'Z') return static_cast<int32_t>(cp - 'A' + 1);
        return 0;
    }
    if (cp >= 0x10000) return 0;  // one event carries one 16-bit unit on the desktop too
    return static_cast<int32_t>(cp);
}

// Pointer tracking: canvas (-1: none) now holds the pointer at (x, y).
void TrackPointer(int32_t canvas, int32_t x, int32_t y, EventSource source) {
    if (canvas == webSystem.trackedCanvas) return;
    if (webSystem.trackedCanvas >= 0) {
        const EventSource left = webSystem.trackedSource;
        webSystem.trackedCanvas = -1;  // before emitting: a hook may pump again
        webSystem.trackedSource = nullptr;
        SendEvent(MakeEvent(EVENT_MOUSE_LEAVE, left, 0, 0, x, y));
    }
    webSystem.trackedCanvas = canvas;
    if (canvas >= 0) {
        webSystem.trackedSource = source;
        SendEvent(MakeEvent(EVENT_MOUSE_ENTER, source, 0, 0, x, y));
    }
}

void TranslateKey(const TBrowserInput& input, EventSource source) {
    RebuildModifierState(input.flags);
    const int32_t vk = VirtualKeyOfCode(input.code);
    if (input.kind == BROWSER_KEY_UP) {
        if (vk != 0) Emit(EVENT_KEY_UP, source, vk);
        return;
    }
    if (vk != 0) Emit(input.repeat ? EVENT_KEY_REPEAT : EVENT_KEY_DOWN, source, vk);
    if (const int32_t typed = TypedCharacter(input)) Emit(EVENT_KEY_CHAR, source, typed);
}

// MouseEvent.button to the runtime's numbers: 1 left, 2 right, 3 middle.
int32_t ButtonNumber(int32_t button) {
    switch (button) {
    case 0: return 1;
    case 1: return 3;
    case 2: return 2;
    default: return 0;
    }
}

void TranslateMove(const TBrowserInput& input, EventSource source) {
    TrackPointer(input.inside ? input.canvas : -1, input.x, input.y, source);
    // The last held button that is tested wins: left, then middle, then right.
    int32_t held = 0;
    if (input.buttons & 1) held = 1;
    if (input.buttons & 4) held = 4;
    if (input.buttons & 2) held = 2;
    Emit(EVENT_MOUSE_MOVE, source, held, input.x, input.y);
}

}  // namespace

int32_t VirtualKeyOfCode(const std::string& code) {
    if (code.size() == 4 && code.compare(0, 3, "Key") == 0 && code[3] >= 'A' && code[3] <= 'Z') return code[3];
    if (code.size() == 6 && code.compare(0, 5, "Digit") == 0 && code[5] >= '0' && code[5] <= '9') return code[5];
    if (code.size() == 7 && code.compare(0, 6, "Numpad") == 0 && code[6] >= '0' && code[6] <= '9')
        return 96 + (code[6] - '0');
    if (code.size() >= 2 && code.size() <= 3 && code[0] == 'F') {
        int32_t n = 0;
        for (size_t i = 1; i < code.size(); ++i) {
            if (code[i] < '0' || code[i] > '9') return 0;
            n = n * 10 + (code[i] - '0');
        }
        return n >= 1 && n <= 24 ? 111 + n : 0;
    }
    const auto& table = KeyTable();
    const auto found = table.find(code);
    return found == table.end() ? 0 : found->second;
}

void TranslateBrowserInput(const TBrowserInput& input, EventSource source) {
    switch (input.kind) {
    case BROWSER_KEY_DOWN:
    case BROWSER_KEY_UP: TranslateKey(input, source); break;
    case BROWSER_MOUSE_DOWN:
    case BROWSER_MOUSE_UP:
        if (const int32_t button = ButtonNumber(input.button))
            Emit(input.kind == BROWSER_MOUSE_DOWN ? EVENT_MOUSE_DOWN : EVENT_MOUSE_UP, source, button, input.x,
                 input.y);
        break;
    case BROWSER_MOUSE_MOVE: TranslateMove(input, source); break;
    case BROWSER_WHEEL: Emit(EVENT_MOUSE_WHEEL, source, input.wheel / kWheelNotch, input.x, input.y); break;
    case BROWSER_MOUSE_LEAVE:
        if (input.canvas == webSystem.trackedCanvas) TrackPointer(-1, input.x, input.y, source);
        break;
    case BROWSER_CLOSE: Emit(EVENT_APP_TERMINATE, source, 0); break;
    case BROWSER_BLUR: Emit(EVENT_APP_SUSPEND, source, 0); break;
    case BROWSER_FOCUS: Emit(EVENT_APP_RESUME, source, 0); break;
    default: break;
    }
}
