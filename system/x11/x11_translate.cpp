#include "system/x11/x11_system.h"

#include "system/x11/x11_internal.h"
#include "system/x11/x11_platform.h"

#include <X11/XKBlib.h>
#include <X11/Xutil.h>
#include <X11/keysym.h>

namespace {

// Windows virtual-key codes the translation produces beyond letters and digits.
enum : int32_t {
    VK_BACK = 8,
    VK_TAB = 9,
    VK_CLEAR = 12,
    VK_RETURN = 13,
    VK_PAUSE = 19,
    VK_CAPITAL = 20,
    VK_ESCAPE = 27,
    VK_SPACE = 32,
    VK_PRIOR = 33,
    VK_NEXT = 34,
    VK_END = 35,
    VK_HOME = 36,
    VK_LEFT = 37,
    VK_UP = 38,
    VK_RIGHT = 39,
    VK_DOWN = 40,
    VK_SNAPSHOT = 44,
    VK_INSERT = 45,
    VK_DELETE = 46,
    VK_LWIN = 91,
    VK_RWIN = 92,
    VK_APPS = 93,
    VK_NUMPAD0 = 96,
    VK_MULTIPLY = 106,
    VK_ADD = 107,
    VK_SEPARATOR = 108,
    VK_SUBTRACT = 109,
    VK_DECIMAL = 110,
    VK_DIVIDE = 111,
    VK_F1 = 112,
    VK_NUMLOCK = 144,
    VK_SCROLL = 145,
    VK_LSHIFT = 160,
    VK_RSHIFT = 161,
    VK_LCONTROL = 162,
    VK_RCONTROL = 163,
    VK_LMENU = 164,
    VK_RMENU = 165,
    VK_OEM_1 = 186,
    VK_OEM_PLUS = 187,
    VK_OEM_COMMA = 188,
    VK_OEM_MINUS = 189,
    VK_OEM_PERIOD = 190,
    VK_OEM_2 = 191,
    VK_OEM_3 = 192,
    VK_OEM_4 = 219,
    VK_OEM_5 = 220,
    VK_OEM_6 = 221,
    VK_OEM_7 = 222,
};

int32_t VirtualKeyOfKeysym(KeySym ks) {
    if (ks >= XK_a && ks <= XK_z) return static_cast<int32_t>(ks - XK_a) + 'A';
    if (ks >= XK_A && ks <= XK_Z) return static_cast<int32_t>(ks - XK_A) + 'A';
    if (ks >= XK_0 && ks <= XK_9) return static_cast<int32_t>(ks - XK_0) + '0';
    if (ks >= XK_F1 && ks <= XK_F24) return static_cast<int32_t>(ks - XK_F1) + VK_F1;
    if (ks >= XK_KP_0 && ks <= XK_KP_9) return static_cast<int32_t>(ks - XK_KP_0) + VK_NUMPAD0;
    switch (ks) {
    case XK_Escape: return VK_ESCAPE;
    case XK_space: return VK_SPACE;
    case XK_Return:
    case XK_KP_Enter: return VK_RETURN;
    case XK_BackSpace: return VK_BACK;
    case XK_Tab:
    case XK_ISO_Left_Tab: return VK_TAB;
    case XK_Left:
    case XK_KP_Left: return VK_LEFT;
    case XK_Up:
    case XK_KP_Up: return VK_UP;
    case XK_Right:
    case XK_KP_Right: return VK_RIGHT;
    case XK_Down:
    case XK_KP_Down: return VK_DOWN;
    case XK_Prior:
    case XK_KP_Prior: return VK_PRIOR;
    case XK_Next:
    case XK_KP_Next: return VK_NEXT;
    case XK_End:
    case XK_KP_End: return VK_END;
    case XK_Home:
    case XK_KP_Home: return VK_HOME;
    case XK_Insert:
    case XK_KP_Insert: return VK_INSERT;
    case XK_Delete:
    case XK_KP_Delete: return VK_DELETE;
    case XK_KP_Begin: return VK_CLEAR;
    case XK_KP_Multiply: return VK_MULTIPLY;
    case XK_KP_Add: return VK_ADD;
    case XK_KP_Separator: return VK_SEPARATOR;
    case XK_KP_Subtract: return VK_SUBTRACT;
    case XK_KP_Decimal: return VK_DECIMAL;
    case XK_KP_Divide: return VK_DIVIDE;
    case XK_semicolon: return VK_OEM_1;
    case XK_equal: return VK_OEM_PLUS;
    case XK_comma: return VK_OEM_COMMA;
    case XK_minus: return VK_OEM_MINUS;
    case XK_period: return VK_OEM_PERIOD;
    case XK_slash: return VK_OEM_2;
    case XK_grave: return VK_OEM_3;
    case XK_bracketleft: return VK_OEM_4;
    case XK_backslash: return VK_OEM_5;
    case XK_bracketright: return VK_OEM_6;
    case XK_apostrophe: return VK_OEM_7;
    case XK_Caps_Lock: return VK_CAPITAL;
    case XK_Num_Lock: return VK_NUMLOCK;
    case XK_Scroll_Lock: return VK_SCROLL;
    case XK_Pause: return VK_PAUSE;
    case XK_Print: return VK_SNAPSHOT;
    case XK_Menu: return VK_APPS;
    case XK_Super_L: return VK_LWIN;
    case XK_Super_R: return VK_RWIN;
    case XK_Shift_L: return VK_LSHIFT;
    case XK_Shift_R: return VK_RSHIFT;
    case XK_Control_L: return VK_LCONTROL;
    case XK_Control_R: return VK_RCONTROL;
    case XK_Alt_L: return VK_LMENU;
    case XK_Alt_R:
    case XK_ISO_Level3_Shift:
    case XK_Mode_switch: return VK_RMENU;  // AltGr is right Alt
    default: return 0;
    }
}

bool IsModifierVk(int32_t vk) { return (vk >= VK_LSHIFT && vk <= VK_RMENU) || vk == VK_LWIN || vk == VK_RWIN; }

// x11.heldCode: the code each X key code was given when it went down. The
// release reports the same code even if Num Lock changed meanwhile, and a
// press of a key still held is an auto-repeat.

// Modifier bits from the held modifier keys, the way a key-state query sees them.
void RebuildModifierState() {
    int32_t mods = 0;
    for (int32_t vk : x11.heldCode) {
        if (vk == VK_LSHIFT || vk == VK_RSHIFT) mods |= MODIFIER_SHIFT;
        if (vk == VK_LCONTROL || vk == VK_RCONTROL) mods |= MODIFIER_CONTROL;
        if (vk == VK_LMENU || vk == VK_RMENU) mods |= MODIFIER_ALT;
        if (vk == VK_LWIN || vk == VK_RWIN) mods |= MODIFIER_SYSTEM;
    }
    modifierState = mods;
}

void Emit(int32_t id, EventSource source, int32_t data, int32_t x = 0, int32_t y = 0) {
    SendEvent(MakeEvent(id, source, data, modifierState, x, y));
}

Display* DisplayOf(const XEvent& event) { return event.xany.display ? event.xany.display : X11Display(); }

// The character a key press types, as UTF-16 code units (none, one or two).
int TypedUnits(XKeyEvent key, int32_t units[2]) {
    if (!key.display) return 0;  // nothing to look the key up with
    char text[16];
    KeySym ks = NoSymbol;
    const int n = XLookupString(&key, text, sizeof text, &ks, nullptr);
    if (ks == XK_Delete || ks == XK_KP_Delete) return 0;  // Delete types nothing
    uint32_t code = 0;
    if (ks >= 0x1000100 && ks <= 0x110ffff)
        code = static_cast<uint32_t>(ks - 0x1000000);  // Unicode keysym
    else if (n > 0)
        code = static_cast<unsigned char>(text[0]);  // XLookupString speaks Latin-1
    else
        return 0;
    if (code > 0xffff) {
        code -= 0x10000;
        units[0] = static_cast<int32_t>(0xd800 + (code >> 10));
        units[1] = static_cast<int32_t>(0xdc00 + (code & 0x3ff));
        return 2;
    }
    units[0] = static_cast<int32_t>(code);
    return 1;
}

// True when a release is the first half of an auto-repeat: a server without
// presses-only auto-repeat sends the release and the next press with the same
// time stamp back to back. Quick typing can look the same, so this guess is
// made only when the server cannot tell repeats apart itself.
bool ReleaseStartsRepeat(const XKeyEvent& release) {
    if (X11DetectableAutoRepeat()) return false;
    Display* d = release.display;
    if (!d || XEventsQueued(d, QueuedAfterReading) == 0) return false;
    XEvent next;
    XPeekEvent(d, &next);
    return next.type == KeyPress && next.xkey.window == release.window && next.xkey.keycode == release.keycode &&
           next.xkey.time == release.time;
}

bool IsDeleteWindowMessage(const XClientMessageEvent& message) {
    if (!message.display) return false;
    if (x11.atomsDisplay != message.display) {
        x11.atomsDisplay = message.display;
        x11.wmProtocols = XInternAtom(message.display, "WM_PROTOCOLS", False);
        x11.wmDeleteWindow = XInternAtom(message.display, "WM_DELETE_WINDOW", False);
    }
    return message.message_type == x11.wmProtocols && message.format == 32 &&
           static_cast<Atom>(message.data.l[0]) == x11.wmDeleteWindow;
}

bool ClientSize(const XEvent& event, unsigned int& width, unsigned int& height) {
    Display* d = DisplayOf(event);
    if (!d) return false;
    Window root;
    int x, y;
    unsigned int border, depth;
    X11BeginErrorTrap();
    const Status ok = XGetGeometry(d, event.xany.window, &root, &x, &y, &width, &height, &border, &depth);
    X11EndErrorTrap();
    return ok != 0;
}

// Focus changes that say nothing about the application being (de)activated:
// keyboard grabs, focus moving between our window and its children, and the
// pointer-root bookkeeping.
bool IsApplicationFocusChange(const XFocusChangeEvent& focus) {
    if (focus.mode == NotifyGrab || focus.mode == NotifyUngrab) return false;
    return focus.detail != NotifyInferior && focus.detail != NotifyPointer && focus.detail != NotifyPointerRoot &&
           focus.detail != NotifyDetailNone;
}

void TranslateKeyPress(const XKeyEvent& key, EventSource source) {
    const unsigned int slot = key.keycode & 255u;
    const bool repeat = x11.heldCode[slot] != 0;
    const int32_t vk = repeat ? x11.heldCode[slot] : VirtualKeyOfEvent(key);
    if (vk != 0) {
        x11.heldCode[slot] = vk;
        if (IsModifierVk(vk)) RebuildModifierState();
        Emit(repeat ? EVENT_KEY_REPEAT : EVENT_KEY_DOWN, source, vk);
    }
    // A key without a code still types its text (an umlaut key, say), so
    // that no typed character is lost.
    int32_t units[2];
    const int count = TypedUnits(key, units);
    for (int i = 0; i < count; ++i) Emit(EVENT_KEY_CHAR, source, units[i]);
}

void TranslateKeyRelease(const XKeyEvent& key, EventSource source) {
    if (ReleaseStartsRepeat(key)) return;  // the key stays held
    const unsigned int slot = key.keycode & 255u;
    const int32_t vk = x11.heldCode[slot] ? x11.heldCode[slot] : VirtualKeyOfEvent(key);
    x11.heldCode[slot] = 0;
    if (vk == 0) return;
    if (IsModifierVk(vk)) RebuildModifierState();
    Emit(EVENT_KEY_UP, source, vk);
}

int32_t ButtonNumber(unsigned int xButton) {
    switch (xButton) {
    case Button1: return 1;  // left
    case Button3: return 2;  // right
    case Button2: return 3;  // middle
    default: return 0;
    }
}

void TranslateMotion(const XMotionEvent& motion, const XEvent& event, EventSource source) {
    unsigned int width = 0, height = 0;
    const bool inside = ClientSize(event, width, height) && motion.x >= 0 && motion.y >= 0 &&
                        static_cast<unsigned int>(motion.x) < width && static_cast<unsigned int>(motion.y) < height;
    int lx = motion.x, ly = motion.y;
    const bool sameWindow = TrackedWindow() == motion.window;
    X11TrackPointer(inside ? motion.window : None, motion.x, motion.y, source, sameWindow ? &lx : nullptr,
                    sameWindow ? &ly : nullptr);
    // The last held button that is tested wins: left, then middle, then right.
    int32_t held = 0;
    if (motion.state & Button1Mask) held = 1;
    if (motion.state & Button2Mask) held = 4;
    if (motion.state & Button3Mask) held = 2;
    Emit(EVENT_MOUSE_MOVE, source, held, motion.x, motion.y);
}

}  // namespace

int32_t VirtualKeyOfEvent(const XKeyEvent& event) {
    if (!event.display) return 0;
    XKeyEvent key = event;
    const KeySym base = XLookupKeysym(&key, 0);
    if (IsKeypadKey(base) || IsPrivateKeypadKey(base)) {
        // The keypad answers to Num Lock: digits with it, movement without.
        KeySym ks = NoSymbol;
        char text[8];
        XLookupString(&key, text, sizeof text, &ks, nullptr);
        if (const int32_t vk = VirtualKeyOfKeysym(ks)) return vk;
    }
    return VirtualKeyOfKeysym(base);
}

void X11ForgetHeldKeys() {
    for (int32_t& vk : x11.heldCode) vk = 0;
    RebuildModifierState();
}

void TranslateWindowMessage(const XEvent& event, EventSource source) {
    switch (event.type) {
    case ClientMessage:
        if (IsDeleteWindowMessage(event.xclient)) Emit(EVENT_APP_TERMINATE, source, 0);
        break;
    case FocusIn:
        if (IsApplicationFocusChange(event.xfocus)) Emit(EVENT_APP_RESUME, source, 0);
        break;
    case FocusOut:
        if (IsApplicationFocusChange(event.xfocus)) {
            // Keys released elsewhere never report back: forget them.
            X11ForgetHeldKeys();
            Emit(EVENT_APP_SUSPEND, source, 0);
        }
        break;
    case KeyPress: TranslateKeyPress(event.xkey, source); break;
    case KeyRelease: TranslateKeyRelease(event.xkey, source); break;
    case ButtonPress:
        if (event.xbutton.button == Button4 || event.xbutton.button == Button5) {
            // One notch per press: away from the user is +1.
            Emit(EVENT_MOUSE_WHEEL, source, event.xbutton.button == Button4 ? 1 : -1, event.xbutton.x, event.xbutton.y);
        } else if (const int32_t button = ButtonNumber(event.xbutton.button)) {
            Emit(EVENT_MOUSE_DOWN, source, button, event.xbutton.x, event.xbutton.y);
        }
        break;
    case ButtonRelease:
        if (const int32_t button = ButtonNumber(event.xbutton.button))
            Emit(EVENT_MOUSE_UP, source, button, event.xbutton.x, event.xbutton.y);
        break;
    case MotionNotify: TranslateMotion(event.xmotion, event, source); break;
    case LeaveNotify:
        if (event.xcrossing.window == TrackedWindow() && event.xcrossing.mode == NotifyNormal &&
            event.xcrossing.detail != NotifyInferior) {
            int lx = event.xcrossing.x, ly = event.xcrossing.y;
            X11TrackPointer(None, lx, ly, source, &lx, &ly);
        }
        break;
    default: break;
    }
}
