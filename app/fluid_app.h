#pragma once
// The main program `fluid` in pieces: its options, the display set-up, the
// particle texture, the controls, the status line and the frame loop. main()
// only calls FluidMain; the tests drive the pieces one by one.

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "image/pixmap.h"
#include "sph/sph.h"

// The window the program draws into.
inline constexpr int32_t kFluidWindowWidth = 800;
inline constexpr int32_t kFluidWindowHeight = 600;

// What one run asks for. With no arguments the program is exactly the demo.
struct TFluidOptions {
    int64_t frames = -1;     // end after this many frames; -1 runs until Escape or close
    std::string screenshot;  // PNG file for the last frame drawn ("" for none)
    bool smooth = false;     // start in smooth mode instead of sprite mode
    bool help = false;       // print the usage and end
    bool version = false;    // print the version and end
};

// The usage text printed by --help and after a bad option.
extern const char* const kFluidUsage;

// Reads the arguments after the program name; false with the reason when
// one is unknown or malformed.
bool ParseFluidOptions(const std::vector<std::string>& args, TFluidOptions& options,
                       std::string& error);

// The status line: the three measurements cut or padded to 3, 4 and 4
// characters, and the particle count.
std::string HudText(int32_t updateMillis, int32_t renderMillis, int32_t framesPerSecond,
                    int32_t particles);

// One frame's controls: Space toggles the render mode once per press, a left
// click pours a block of liquid, a right click builds a block of wall.
void HandleInput(TSPH& world);

// Opens the 800 by 600 window and sets the pixel projection and the alpha
// test; false with the platform's reason when no window could be opened.
bool InitDisplay(std::string& error);

// The full path of the particle image beside the program.
std::string ParticleImagePath();

// The particle image at path as a mipmapped texture; raises TRuntimeError
// "<path>: <what is wrong>" when the file is missing, unreadable or damaged.
int32_t LoadParticleTexture(const std::string& path);

// What a run of the frame loop leaves behind.
struct TFrameLoopResult {
    int64_t frames = 0;                  // frames drawn and flipped
    std::string lastHud;                 // status line of the last frame drawn
    std::shared_ptr<TPixmap> lastFrame;  // its back buffer (RGB24, top row first), when asked
};

// Runs frames until Escape, a close request or options.frames; keeps the last
// frame's pixels when options.screenshot is set.
TFrameLoopResult RunFrameLoop(TSPH& world, const TFluidOptions& options);

// The whole program; returns the exit status (stdout is checked at exit, see runtime/tool.h).
int FluidMain(int argc, char** argv);
