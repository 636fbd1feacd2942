#pragma once
// The play controls below the window: one frame's input as the frame loop
// reads it, and what it does to the world (pour, wall, Space, pause, single
// step, reset). The program feeds it the polled input or a recording;
// fluid-bench and the tests feed it recordings with no window at all.

#include <cstdint>

#include "sph/sph.h"

// The window the program draws into; pours and walls are clamped to it.
inline constexpr std::int32_t kFluidWindowWidth = 800;
inline constexpr std::int32_t kFluidWindowHeight = 600;

// What the frame loop read in one frame. Hit counts are presses since the
// previous frame; the pointer is in client-area pixels.
struct TFrameInput {
    std::int32_t escapeHits = 0;  // Escape: ends the run
    std::int32_t spaceHits = 0;   // Space: toggles the drawing once per press
    std::int32_t pauseHits = 0;   // P: pauses or resumes once per press
    std::int32_t stepHits = 0;    // N: while paused, one step (however many presses)
    std::int32_t resetHits = 0;   // R: back to the initial scene
    std::int32_t leftHits = 0;    // left button: pours a block of liquid
    std::int32_t rightHits = 0;   // right button: builds a block of wall
    std::int32_t leftDown = 0;    // 1 while the left button is held
    std::int32_t rightDown = 0;   // 1 while the right button is held
    std::int32_t pointerX = 0;    // pointer position
    std::int32_t pointerY = 0;
};

// What the controls carry from frame to frame.
struct TPlayState {
    bool paused = false;  // Update is not called while set (but for single steps)
};

// Clears the 82-pixel square around (mx, my) and fills the 80-pixel one,
// clamped to the window, with fluid particles 5.25 pixels apart.
void Pour(TSPH& world, std::int32_t mx, std::int32_t my);

// Clears the 18-pixel square around (mx, my) and fills the 20-pixel one,
// clamped to the window, with boundary particles 5.25 pixels apart.
void BuildWall(TSPH& world, std::int32_t mx, std::int32_t my);

// Empties world and builds the initial scene in it again, with the random
// generator and the particle count (the source of IDs) restarted, so that it
// holds the bits of the scene at start-up. The drawing mode stays.
void ResetScene(TSPH& world);

// Applies one frame's input, in this order: R resets, Space toggles the
// drawing, a left click pours, a right click builds wall, P toggles the
// pause. Returns whether this frame's Update runs: when not paused, or when
// N was pressed while paused.
bool ApplyFrameInput(TSPH& world, TPlayState& play, const TFrameInput& input);

// How a frame played without a window went.
enum class TFramePlayed {
    Ended,    // the input ended the run (Escape); nothing was done
    Held,     // input applied, no step (paused)
    Stepped,  // input applied and one Update run
};

// One whole frame without a window: ApplyFrameInput and, when it says so,
// Update; nothing at all when the input ends the run.
TFramePlayed PlayFrame(TSPH& world, TPlayState& play, const TFrameInput& input);
