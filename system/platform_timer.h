#pragma once
// The seam a platform fills for periodic timers: a timer that calls
// RunOnMainThread(fire, argument, id) once per period from a thread of its
// own. timer.cpp keeps the table of active ids and the TTimer objects; a
// platform supplies only these two functions (posix/timer_posix.cpp for POSIX
// threads; win32/timer_win32.cpp for multimedia timers).

#include "system/system_driver.h"

#include <cstdint>
#include <memory>

// Starts a periodic timer of periodMs (>= 1) whose k-th tick is due at
// start + k * periodMs. Each tick posts fire(argument, id) to the main thread
// and does nothing else. Returns the timer's id (never 0), or 0 when it
// cannot be started. Main thread only.
int32_t StartPlatformTimer(int32_t periodMs, TMainThreadFunc fire, std::shared_ptr<void> argument);
// Stops timer id; no tick is posted for it once this returns (ticks posted
// before may still be queued). Unknown ids are ignored. Main thread only.
void StopPlatformTimer(int32_t id);
