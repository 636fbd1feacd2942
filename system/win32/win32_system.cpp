// The Win32 system driver: message pump, main-thread calls through a
// get-message hook, pointer tracking and the cursor rule, and the 1 ms timer
// resolution for the whole run.
#include "system/win32/win32_system.h"

#include <commctrl.h>

#include <cstdlib>

namespace {

// One state struct for the driver's platform glue (main thread only).
struct Win32SystemState {
    HWND trackedWindow = nullptr;
    EventSource trackedSource = nullptr;
    int32_t cursorVisible = 1;
    DWORD mainThreadId = 0;
    HHOOK getMessageHook = nullptr;
    bool started = false;
    std::exception_ptr pending;  // kept by a guarded callback
};

Win32SystemState state;

// The resolution the driver raises timeGetTime, Sleep and timers to.
const UINT kTimerResolutionMs = 1;

void RestoreTimerResolution() { timeEndPeriod(kTimerResolutionMs); }

// Main-thread calls run inside whichever pump removes their message, also
// inside the modal loops of message boxes and file dialogs.
LRESULT CALLBACK GetMessageHook(int code, WPARAM wParam, LPARAM lParam) {
    const MSG* msg = reinterpret_cast<const MSG*>(lParam);
    if (code >= 0 && wParam == PM_REMOVE && msg && msg->message == WM_FERRUMKIT_CALL)
        Win32GuardCallback([] { RunPendingMainThreadCalls(); });
    return CallNextHookEx(state.getMessageHook, code, wParam, lParam);
}

bool IsModifierKey(WPARAM key) {
    return key == VK_SHIFT || key == VK_CONTROL || key == VK_MENU || key == VK_LWIN || key == VK_RWIN;
}

bool IsKeyMessage(UINT message) {
    return message == WM_KEYDOWN || message == WM_KEYUP || message == WM_SYSKEYDOWN || message == WM_SYSKEYUP;
}

bool KeyIsDown(int key) { return (GetKeyState(key) & 0x8000) != 0; }

void RebuildModifierState() {
    int32_t mods = 0;
    if (KeyIsDown(VK_SHIFT)) mods |= MODIFIER_SHIFT;
    if (KeyIsDown(VK_CONTROL)) mods |= MODIFIER_CONTROL;
    if (KeyIsDown(VK_MENU)) mods |= MODIFIER_ALT;
    if (KeyIsDown(VK_LWIN) || KeyIsDown(VK_RWIN)) mods |= MODIFIER_SYSTEM;
    modifierState = mods;
}

// Tab and arrow navigation of dialog-like child windows: the first ancestor
// that is not itself a tab-stop child handles the message.
bool HandledByDialog(MSG& msg) {
    const LONG_PTR kChildTabStop = WS_CHILD | WS_TABSTOP;
    HWND window = msg.hwnd;
    if (!window || (GetWindowLongPtrA(window, GWL_STYLE) & kChildTabStop) != kChildTabStop) return false;
    while (window && (GetWindowLongPtrA(window, GWL_STYLE) & kChildTabStop) == kChildTabStop)
        window = GetParent(window);
    return window && IsDialogMessageA(window, &msg);
}

// The cursor is hidden only while it is over a client area and hiding was
// asked for; the display counter stays at 0 (shown) or -1 (hidden).
void ApplyCursorRule() {
    const BOOL show = state.cursorVisible == 1 || !state.trackedWindow;
    const int counter = ShowCursor(show);
    if (counter != 0 && counter != -1) ShowCursor(!show);
}

}  // namespace

void Win32KeepPendingException() {
    if (!state.pending) state.pending = std::current_exception();
}

void Win32RethrowPending() {
    if (!state.pending) return;
    std::exception_ptr error = state.pending;
    state.pending = nullptr;
    std::rethrow_exception(error);
}

void StartWin32System() { StartSystemDriver<TWin32SystemDriver>(); }

HWND TrackedWindow() { return state.trackedWindow; }

// Pointer tracking: window w (null: none) now holds the pointer at (x, y).
void Win32TrackPointer(HWND window, int32_t x, int32_t y, EventSource source) {
    if (window == state.trackedWindow) return;
    if (state.trackedWindow) {
        POINT at{};
        GetCursorPos(&at);
        ScreenToClient(state.trackedWindow, &at);
        const EventSource left = state.trackedSource;
        state.trackedSource = nullptr;
        state.trackedWindow = nullptr;  // before emitting: a hook may pump again
        SendEvent(MakeEvent(EVENT_MOUSE_LEAVE, left, 0, 0, at.x, at.y));
    }
    state.trackedWindow = window;
    ApplyCursorRule();
    if (window) {
        TRACKMOUSEEVENT track{};
        track.cbSize = sizeof track;
        track.dwFlags = TME_LEAVE;
        track.hwndTrack = window;
        track.dwHoverTime = 0;
        _TrackMouseEvent(&track);
        state.trackedSource = source;
        SendEvent(MakeEvent(EVENT_MOUSE_ENTER, source, 0, 0, x, y));
    }
}

TWin32SystemDriver::TWin32SystemDriver() {
    if (state.started) return;
    state.started = true;
    state.cursorVisible = 1;
    state.mainThreadId = GetCurrentThreadId();
    // The get-message hook runs the main-thread calls inside every pump, modal loops included.
    state.getMessageHook = SetWindowsHookExA(WH_GETMESSAGE, GetMessageHook, nullptr, state.mainThreadId);
    Win32SetPumpThread(state.mainThreadId);
    timeBeginPeriod(kTimerResolutionMs);
    std::atexit(RestoreTimerResolution);
}

int32_t TWin32SystemDriver::Poll() {
    RunPendingMainThreadCalls();  // posted before the driver, or while no pump ran
    MSG msg;
    while (PeekMessageA(&msg, nullptr, 0, 0, PM_REMOVE)) {
        Win32RethrowPending();  // from the hook, inside PeekMessage
        if (IsKeyMessage(msg.message) && IsModifierKey(msg.wParam)) RebuildModifierState();
        if (HandledByDialog(msg)) continue;
        TranslateMessage(&msg);
        DispatchMessageA(&msg);
        Win32RethrowPending();  // from a window procedure
    }
    Win32RethrowPending();
    return 0;
}

int32_t TWin32SystemDriver::Wait() {
    if (!MainThreadCallsPending()) {
        HANDLE wake = static_cast<HANDLE>(Win32MainThreadWakeEvent());
        // Keys, mouse, posted and sent messages, timers, paint, hot keys; also
        // what is queued already but was seen by an earlier peek.
        const DWORD kWakeMask = 0xFF;
        MsgWaitForMultipleObjectsEx(wake ? 1 : 0, wake ? &wake : nullptr, INFINITE, kWakeMask, MWMO_INPUTAVAILABLE);
    }
    return Poll();
}

int32_t TWin32SystemDriver::MoveMouse(int32_t x, int32_t y) {
    POINT at{x, y};
    if (HWND active = GetActiveWindow()) ClientToScreen(active, &at);
    SetCursorPos(at.x, at.y);
    return 0;
}

int32_t TWin32SystemDriver::SetMouseVisible(int32_t visible) {
    state.cursorVisible = visible;
    ApplyCursorRule();
    return 0;
}
