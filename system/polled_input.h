#pragma once
// Polled keyboard and mouse state: key and button states, hit counters, the
// pointer and wheel position, a ring of typed characters and two application
// flags, kept current by a hook on the event-emit chain. Every query pumps
// pending messages first, so it reflects all input up to the call.
//
// The state is one zero-initialised struct (no start-up order); the hook is
// installed by StartPolledInput, which OpenGraphics calls when the program's
// window opens (graphics_manager.cpp). Main thread only.
//
// Key codes are Windows virtual-key codes 1..255 (27 Escape, 32 Space; left
// and right shift, control, alt are 160..165); buttons are 1 left, 2 right,
// 3 middle. Keys outside 0..255 and buttons outside 0..3 raise the runtime's
// array-bounds error.

#include "system/event.h"

#include <cstdint>

// The event-emit hook that updates the state; returns data unchanged.
HookData PolledInputHook(int32_t id, HookData data, const HookContext& context);

// 1 while key is held.
int32_t IsKeyDown(int32_t key);
// Presses of key since last asked; clears them.
int32_t KeyHitCount(int32_t key);
// Next typed character, or 0 when none.
int32_t NextChar();
// Empties the character ring and clears every key state and count.
void ResetKeys();
// 1 while button is held.
int32_t IsMouseButtonDown(int32_t button);
// Presses of button since last asked; clears them.
int32_t MouseHitCount(int32_t button);
// Pointer x of the last "MouseMove".
int32_t PointerX();
// Pointer y of the last "MouseMove".
int32_t PointerY();
// Sum of the wheel steps since the last reset.
int32_t WheelPosition();
// Clears button states, counts and the wheel; the pointer position stays.
void ResetMouse();
// 1 between "AppSuspend" and "AppResume".
int32_t IsSuspended();
// 1 once per close request ("AppTerminate"); clears it.
int32_t TerminateRequested();
// Waits for a key press; returns the lowest key code with a pending hit.
int32_t WaitForKey();
// Waits for a typed character and returns it.
int32_t WaitForChar();
// Waits for a button press; returns the lowest button with a pending hit.
int32_t WaitForMouseButton();
// Installs the hook counting events of source only (null: every source).
void StartPolledInput(EventSource source);
// Removes the hook and clears keys and buttons (terminate and suspend flags stay).
void StopPolledInput();
