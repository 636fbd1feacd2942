// Window messages into events: keys with their virtual-key codes (modifier
// keys told apart by scan code), characters, buttons with capture, the
// wheel, pointer movement with tracking, close and application activation.
#include "system/win32/win32_system.h"

#include <windowsx.h>

namespace {

// Wheel movement of one notch.
const int32_t kWheelNotch = WHEEL_DELTA;
// lParam bit 30: the key was already down (an auto-repeat).
const LPARAM kKeyWasDown = LPARAM(1) << 30;

void Emit(int32_t id, EventSource source, int32_t data, int32_t x = 0, int32_t y = 0) {
    SendEvent(MakeEvent(id, source, data, modifierState, x, y));
}

// The key code of a key message: the virtual key, except that the modifier
// keys are told apart by their scan code (with bit 7 from the extended flag),
// so the generic shift, control and alt codes never appear.
int32_t KeyCode(WPARAM wParam, LPARAM lParam) {
    int32_t scan = static_cast<int32_t>((lParam >> 16) & 0x7F);
    if (lParam & (LPARAM(1) << 24)) scan |= 0x80;
    switch (scan) {
    case 0x2A: return VK_LSHIFT;
    case 0x36: return VK_RSHIFT;
    case 0x1D: return VK_LCONTROL;
    case 0x9D: return VK_RCONTROL;
    case 0x38: return VK_LMENU;
    case 0xB8: return VK_RMENU;
    default: return static_cast<int32_t>(wParam);
    }
}

bool IsKeyCode(WPARAM wParam) { return wParam >= 1 && wParam <= 255; }

void TranslateMouseMove(HWND window, WPARAM wParam, LPARAM lParam, EventSource source) {
    const int32_t x = GET_X_LPARAM(lParam), y = GET_Y_LPARAM(lParam);
    RECT client{};
    GetClientRect(window, &client);
    const bool inside = x >= 0 && y >= 0 && x < client.right - client.left && y < client.bottom - client.top;
    Win32TrackPointer(inside ? window : nullptr, x, y, source);
    // The last held button that is tested wins: left, then middle, then right.
    int32_t held = 0;
    if (wParam & MK_LBUTTON) held = 1;
    if (wParam & MK_MBUTTON) held = 4;
    if (wParam & MK_RBUTTON) held = 2;
    Emit(EVENT_MOUSE_MOVE, source, held, x, y);
}

void TranslateButton(HWND window, bool down, int32_t button, LPARAM lParam, EventSource source) {
    // Capture keeps drags that leave the window reporting.
    if (down)
        SetCapture(window);
    else
        ReleaseCapture();
    Emit(down ? EVENT_MOUSE_DOWN : EVENT_MOUSE_UP, source, button, GET_X_LPARAM(lParam), GET_Y_LPARAM(lParam));
}

}  // namespace

void TranslateWindowMessage(HWND window, UINT message, WPARAM wParam, LPARAM lParam, EventSource source) {
    switch (message) {
    case WM_CLOSE: Emit(EVENT_APP_TERMINATE, source, 0); break;
    case WM_ACTIVATEAPP: Emit(wParam ? EVENT_APP_RESUME : EVENT_APP_SUSPEND, source, 0); break;
    case WM_KEYDOWN:
    case WM_SYSKEYDOWN:
        if (IsKeyCode(wParam))
            Emit((lParam & kKeyWasDown) ? EVENT_KEY_REPEAT : EVENT_KEY_DOWN, source, KeyCode(wParam, lParam));
        break;
    case WM_KEYUP:
    case WM_SYSKEYUP:
        if (IsKeyCode(wParam)) Emit(EVENT_KEY_UP, source, KeyCode(wParam, lParam));
        break;
    case WM_CHAR:
    case WM_SYSCHAR: Emit(EVENT_KEY_CHAR, source, static_cast<int32_t>(wParam)); break;
    case WM_MOUSEMOVE: TranslateMouseMove(window, wParam, lParam, source); break;
    case WM_LBUTTONDOWN: TranslateButton(window, true, 1, lParam, source); break;
    case WM_RBUTTONDOWN: TranslateButton(window, true, 2, lParam, source); break;
    case WM_MBUTTONDOWN: TranslateButton(window, true, 3, lParam, source); break;
    case WM_LBUTTONUP: TranslateButton(window, false, 1, lParam, source); break;
    case WM_RBUTTONUP: TranslateButton(window, false, 2, lParam, source); break;
    case WM_MBUTTONUP: TranslateButton(window, false, 3, lParam, source); break;
    case WM_MOUSEWHEEL: {
        POINT at{GET_X_LPARAM(lParam), GET_Y_LPARAM(lParam)};
        ScreenToClient(window, &at);
        Emit(EVENT_MOUSE_WHEEL, source, GET_WHEEL_DELTA_WPARAM(wParam) / kWheelNotch, at.x, at.y);
        break;
    }
    case WM_MOUSELEAVE:
        if (window == TrackedWindow()) Win32TrackPointer(nullptr, GET_X_LPARAM(lParam), GET_Y_LPARAM(lParam), source);
        break;
    default: break;
    }
}
