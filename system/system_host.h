#pragma once
// What the system module needs of the operating system below any window
// system: the millisecond clock, sleep, and a wake-up signal that tells a
// waiting main thread that calls were posted to it. One implementation per
// platform (posix/host_posix.cpp; win32/host_win32.cpp), picked by the build.
// Internal to the system folders.

#include <cstdint>
#include <ctime>

// Milliseconds of a monotonic clock, low 32 bits.
int32_t HostMillis();
// Sleeps ms >= 0 milliseconds.
void HostSleep(int32_t ms);
// The local time of t; false when it cannot be had.
bool HostLocalTime(std::time_t t, std::tm& local);
// Makes the wake-up signal; called once, on the main thread.
void HostWakeInit();
// Signals the main thread from any thread.
void HostWakeSignal();
// Clears the signal (main thread, before it runs the posted calls).
void HostWakeDrain();
// Blocks until the signal is raised.
void HostWakeWait();
// A descriptor that is readable while the signal is raised; -1 where the
// platform signals otherwise.
int HostWakeFd();
