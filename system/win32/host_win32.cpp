// The system module's clock, sleep and wake-up on Windows: timeGetTime,
// Sleep, and an event object that a waiting pump includes in its wait. When
// the Win32 system driver runs, a posted call also sends thread message
// WM_FERRUMKIT_CALL to the main thread, so that a modal loop that only reads
// messages (a message box, a file dialog) runs the call too.
#include "system/system_host.h"
#include "system/win32/win32_system.h"

#include <windows.h>

#include <atomic>

namespace {

struct WakeState {
    HANDLE event = nullptr;
    std::atomic<DWORD> pumpThread{0};
};

WakeState wake;

}  // namespace

int32_t HostMillis() { return static_cast<int32_t>(timeGetTime()); }

void HostSleep(int32_t ms) { Sleep(static_cast<DWORD>(ms)); }

bool HostLocalTime(std::time_t t, std::tm& local) { return localtime_s(&local, &t) == 0; }

void HostWakeInit() {
    // Manual reset: the signal stays up until the main thread has run the calls.
    if (!wake.event) wake.event = CreateEventW(nullptr, TRUE, FALSE, nullptr);
}

void HostWakeSignal() {
    if (wake.event) SetEvent(wake.event);
    if (const DWORD thread = wake.pumpThread.load()) PostThreadMessageA(thread, WM_FERRUMKIT_CALL, 0, 0);
}

void HostWakeDrain() {
    if (wake.event) ResetEvent(wake.event);
}

void HostWakeWait() {
    if (!wake.event) return HostSleep(1);
    WaitForSingleObject(wake.event, INFINITE);
}

int HostWakeFd() { return -1; }

void* Win32MainThreadWakeEvent() { return wake.event; }

void Win32SetPumpThread(unsigned long threadId) { wake.pumpThread.store(threadId); }
