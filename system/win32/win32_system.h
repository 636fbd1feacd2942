#pragma once
// The Win32 system driver: the message pump, the translation of window
// messages into events, pointer tracking and hiding, main-thread calls that
// wake the pump, and the dialogs and shell services. Only win32/ folders
// include this header.

#include "system/event.h"
#include "system/system_driver.h"

#include <windows.h>

#include <exception>

// Thread message that tells the main thread's pump that calls were posted.
enum : UINT { WM_FERRUMKIT_CALL = 0x7001 };

// The system driver on Win32. Its construction runs the one-time platform
// set-up: the get-message hook for main-thread calls on this thread and the
// 1 ms timer resolution (restored at exit).
class TWin32SystemDriver : public TSystemDriver {
public:
    TWin32SystemDriver();
    // Main-thread calls, then every queued message (PeekMessage until empty).
    int32_t Poll() override;
    // Sleeps until a message, input or a main-thread call arrives, then polls.
    int32_t Wait() override;
    // Puts the pointer at (x, y) of the active window's client area (screen
    // coordinates when no window is active).
    int32_t MoveMouse(int32_t x, int32_t y) override;
    // Hides the pointer over the tracked client area while visible is 0.
    int32_t SetMouseVisible(int32_t visible) override;
    int32_t Notify(const std::string& text, int32_t serious) override;
    int32_t Confirm(const std::string& text, int32_t serious) override;
    int32_t Proceed(const std::string& text, int32_t serious) override;
    std::string RequestFile(const std::string& text, const std::string& extensions, int32_t save,
                            const std::string& path) override;
    std::string RequestDir(const std::string& text, const std::string& path) override;
    int32_t OpenURL(const std::string& url) override;
};

// Makes a TWin32SystemDriver the current system driver unless one already is.
void StartWin32System();

// Turns one window message into at most one event (plus "MouseEnter" /
// "MouseLeave" from pointer tracking) and emits it with source and
// modifierState. Called by window procedures with a null source.
void TranslateWindowMessage(HWND window, UINT message, WPARAM wParam, LPARAM lParam, EventSource source);

// The window whose client area holds the pointer, as last seen (null: none).
HWND TrackedWindow();
// Pointer tracking: window (null: none) now holds the pointer at (x, y);
// emits "MouseLeave" for the old window and "MouseEnter" for the new one.
void Win32TrackPointer(HWND window, int32_t x, int32_t y, EventSource source);

// Runs call inside a Win32 callback (a window procedure, a hook): an
// exception must not unwind through the system's frames, so it is kept and
// raised again by Win32RethrowPending once the system call has returned.
template <typename F>
void Win32GuardCallback(F&& call);
// Raises the exception a guarded callback kept, if any.
void Win32RethrowPending();
// Keeps the exception being handled for Win32RethrowPending (the first one wins).
void Win32KeepPendingException();

// The event a waiting pump includes in its wait: set while main-thread calls wait.
void* Win32MainThreadWakeEvent();
// The thread whose pump runs main-thread calls (0: none yet).
void Win32SetPumpThread(unsigned long threadId);

template <typename F>
void Win32GuardCallback(F&& call) {
    try {
        call();
    } catch (...) {
        Win32KeepPendingException();
    }
}
