#pragma once
// The main program `fluid` in pieces: its options, the display set-up, the
// particle texture, the controls, the status line and the frame loop. main()
// only calls FluidMain; the tests drive the pieces one by one.

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "app/play.h"
#include "app/recording.h"
#include "image/pixmap.h"
#include "sph/sph.h"

// What one run asks for. With no arguments the program is exactly the demo.
struct TFluidOptions {
    int64_t frames = -1;     // end after this many frames; -1 runs until Escape or close
    std::string screenshot;  // PNG file for the last frame drawn ("" for none)
    bool smooth = false;     // start in smooth mode instead of sprite mode
    std::string record;      // recording of the frames' input to write ("" for none)
    std::string replay;      // recording to play before the live input ("" for none)
    std::string dump;        // file for the final simulation state ("" for none)
    bool help = false;       // print the usage and end
    bool version = false;    // print the version and end
};

// The usage text printed by --help and after a bad option.
extern const char* const kFluidUsage;

// Reads the arguments after the program name; false with the reason when
// one is unknown or malformed.
bool ParseFluidOptions(const std::vector<std::string>& args, TFluidOptions& options, std::string& error);

// The status line: the three measurements cut or padded to 3, 4 and 4
// characters, and the particle count.
std::string HudText(int32_t updateMillis, int32_t renderMillis, int32_t framesPerSecond, int32_t particles);

// Reads one frame's controls from the polled input, after the loop test
// (which reads Escape): Space, the pointer, the two buttons' hits, P, N, R,
// the buttons' down states.
void ReadFrameControls(TFrameInput& input);

// One frame's controls read and applied to a running world: Space toggles the
// render mode once per press, a left click pours a block of liquid, a right
// click builds a block of wall, R resets the scene.
void HandleInput(TSPH& world);

// Opens the 800 by 600 window and sets the pixel projection and the alpha
// test; false with the platform's reason when no window could be opened.
bool InitDisplay(std::string& error);

// The full path of the particle image beside the program.
std::string ParticleImagePath();

// The particle image at path as a mipmapped texture; raises TRuntimeError
// "<path>: <what is wrong>" when the file is missing, unreadable or damaged.
int32_t LoadParticleTexture(const std::string& path);

// Where the frames' input comes from besides the polled input, and where it goes.
struct TFrameFeed {
    const std::vector<TFrameInput>* replay = nullptr;  // played first, one a frame, then the live input
    TRecorder* recorder = nullptr;                     // gets what every frame read
};

// What a run of the frame loop leaves behind.
struct TFrameLoopResult {
    int64_t frames = 0;                  // frames drawn and flipped
    std::string lastHud;                 // status line of the last frame drawn
    std::shared_ptr<TPixmap> lastFrame;  // its back buffer (RGB24, top row first), when asked
    std::string recordFailure;           // why the recording stopped the run ("" when it did not)
};

// Runs frames until Escape, a close request or options.frames; keeps the last
// frame's pixels when options.screenshot is set. Each frame reads the polled
// input (a replayed frame still reads it, for Escape and the close box) and
// hands what it read to the recorder.
TFrameLoopResult RunFrameLoop(TSPH& world, const TFluidOptions& options, const TFrameFeed& feed = {});

// The whole program; returns the exit status (stdout is checked at exit, see runtime/tool.h).
int FluidMain(int argc, char** argv);
