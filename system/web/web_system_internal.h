#pragma once
// Internals of the browser's system driver: the one state object that the
// pump (web_system.cpp) and the translation (web_translate.cpp) share, as
// the X11 driver keeps its X11State. Only system/web/ files include this
// header.

#include "system/event.h"

#include <cstdint>

// The driver's mutable state: the pointer visibility asked for and the
// pointer tracking. Main thread only. Its initial values are the ones
// written here; ResetBrowserInput returns to them.
struct WebSystemState {
    // The pointer visibility the program asked for (1: visible).
    int32_t cursorVisible = 1;
    // The canvas holding the pointer (-1: none) and its window's event source.
    int32_t trackedCanvas = -1;
    EventSource trackedSource = nullptr;
};

// The one WebSystemState (web_system.cpp).
extern WebSystemState webSystem;
