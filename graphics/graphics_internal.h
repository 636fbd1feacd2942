#pragma once
// Internal seams of the graphics manager, for its own tests: the clock used by
// calibration and pacing, the pointer placement for fullscreen graphics, and a
// view of the pacing state. Programs never include this header.

#include <cstdint>
#include <memory>

class TGraphics;

// The manager's clock and the actions it takes on the system.
struct GraphicsSystemHooks {
    int32_t (*now)();                            // wrapping millisecond clock
    void (*sleep)(int32_t ms);                   // sleeps ms milliseconds (negative: nothing)
    void (*placePointer)(int32_t x, int32_t y);  // moves the pointer to client x, y
};

// Replaces the clock and system actions; returns the previous ones.
GraphicsSystemHooks SetGraphicsSystemHooks(const GraphicsSystemHooks& hooks);
// The defaults: CurrentMillis, SleepMillis and PlacePointer of the system layer.
GraphicsSystemHooks DefaultGraphicsSystemHooks();

// The pacing state as the manager holds it.
struct GraphicsPacingState {
    int32_t softSync = 0;
    int32_t syncHertz = 0;
    int32_t periodMs = 0;
    int32_t periodRemainder = 0;
    int32_t remainderAccumulator = 0;
    int32_t nextFlipTime = 0;
};

// A copy of the current pacing state.
GraphicsPacingState ReadGraphicsPacingState();
// The graphics made by the last OpenGraphics, or null.
std::shared_ptr<TGraphics> OpenedGraphics();
