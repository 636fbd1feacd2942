#pragma once
// The system driver: pumps the platform's window messages into events, moves
// and hides the pointer, and (later) shows dialogs. Also the millisecond
// clock and sleep, and calls carried from any thread onto the main thread.
//
// Start-up: the driver is made on first use of any function below (the
// "main thread" is the thread that does it). That default driver is headless:
// it pumps only main-thread calls. A platform library installs its own with
// SetSystemDriver (system/x11/ does so when its first window registers, or
// when the program calls StartX11System); tests may install a fake.

#include <cstdint>
#include <functional>
#include <memory>
#include <string>

// The abstract driver. Every operation of the base class raises the
// runtime's abstract-method error ("Attempt to call abstract method").
class TSystemDriver {
public:
    virtual ~TSystemDriver() = default;
    // Handles every pending message and main-thread call; never blocks.
    virtual int32_t Poll();
    // Blocks until a message or main-thread call arrives, then polls.
    virtual int32_t Wait();
    // Puts the pointer at (x, y) in the active window's client coordinates
    // (screen coordinates when none of the program's windows is active).
    virtual int32_t MoveMouse(int32_t x, int32_t y);
    // Records the pointer visibility request and applies the cursor rule.
    virtual int32_t SetMouseVisible(int32_t visible);
    // Dialogs and shell services.
    virtual int32_t Notify(const std::string& text, int32_t serious);
    virtual int32_t Confirm(const std::string& text, int32_t serious);
    virtual int32_t Proceed(const std::string& text, int32_t serious);
    virtual std::string RequestFile(const std::string& text, const std::string& extensions, int32_t save,
                                    const std::string& path);
    virtual std::string RequestDir(const std::string& text, const std::string& path);
    virtual int32_t OpenURL(const std::string& url);
};

// The current driver (made on first use: the headless default).
std::shared_ptr<TSystemDriver> SystemDriver();
// Installs driver as the current one (null: back to a headless default).
void SetSystemDriver(std::shared_ptr<TSystemDriver> driver);
// Makes a new Driver the current driver unless one already is (a platform's
// StartX11System, StartWin32System).
template <typename Driver>
void StartSystemDriver() {
    if (!dynamic_cast<Driver*>(SystemDriver().get())) SetSystemDriver(std::make_shared<Driver>());
}

// Modifier bits stamped into every event translated from a window message:
// 1 shift, 2 control, 4 alt, 8 either Windows (Super) key.
extern int32_t modifierState;

// Milliseconds of a monotonic clock, wrapping after about 49.7 days:
// compare two readings only by their difference (CurrentMillis() - t0).
int32_t CurrentMillis();
// later - earlier in milliseconds, right across the wrap of the counter
// (plain int32 subtraction would overflow there).
inline int32_t MillisBetween(int32_t earlier, int32_t later) {
    return static_cast<int32_t>(static_cast<uint32_t>(later) - static_cast<uint32_t>(earlier));
}
// Sleeps ms milliseconds; negative values do nothing.
void SleepMillis(int32_t ms);

// driver->Poll(), skipped while a pump already runs (no nesting).
void PumpMessages();
// driver->Wait(), with the same re-entry guard.
void WaitForMessages();
// True while PumpMessages or WaitForMessages runs.
bool PumpBusy();
// driver->MoveMouse(x, y).
void PlacePointer(int32_t x, int32_t y);
// driver->SetMouseVisible(1).
void ShowPointer();
// driver->SetMouseVisible(0).
void HidePointer();

// A call carried onto the main thread: func(argument, data).
using TMainThreadFunc = void (*)(const std::shared_ptr<void>& argument, int32_t data);
// Posts func(argument, data) from any thread; it runs once, on the main
// thread, inside the next pump (calls from one thread run in posting order).
// The argument is released on the main thread after the call.
void RunOnMainThread(TMainThreadFunc func, std::shared_ptr<void> argument, int32_t data);
// The same for any callable.
void RunOnMainThread(std::function<void()> call);

// For drivers: runs the main-thread calls posted so far (main thread only).
// If one throws, the rest stay queued and the error propagates.
void RunPendingMainThreadCalls();
// For drivers: a descriptor that becomes readable when a call is posted;
// RunPendingMainThreadCalls empties it.
int MainThreadWakeFd();
// For drivers: true when main-thread calls are waiting.
bool MainThreadCallsPending();
// True on the thread that made the driver.
bool IsMainThread();
