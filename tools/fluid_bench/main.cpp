// fluid-bench [--steps N] [--scene initial|full] [--dump FILE] [--repeat R]
//             [--threads T] [--lanes SET] [--compare]
//
// Runs N steps of Update on a fresh scene, R times, and prints the median and
// minimum time of one Update and the fluid particle-steps per second.
// --compare times the literal reference world on the same scene in the same
// run, alternating with the world under test in blocks of a few dozen steps
// (so that both see the same load on a shared machine, while neither finds
// its data pushed out of the caches by the other at every step), and prints
// the ratios.
// --lanes forces the lane set of the step's kernels (one this processor and
// build have); the set that ran is printed either way.
// --dump writes the state after the last repeat, little-endian.
// --replay plays a recording of the program's frame loop on the initial
// scene instead (pours, walls, pause, steps, resets, as the program plays
// them), and --dump writes the state it reaches.

#include <algorithm>
#include <chrono>
#include <cerrno>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <string>
#include <vector>

#include "app/play.h"
#include "app/recording.h"
#include "app/scene.h"
#include "app/state_dump.h"
#include "sph/reference/reference_sph.h"
#include "sph/lane_set.h"
#include "sph/sph.h"
#include "runtime/startup.h"
#include "runtime/tool.h"
#include "stream/replacing_file.h"
#include "tools/fluid_bench/step_times.h"

namespace {

const char* const kUsage =
    "usage: fluid-bench [--steps N] [--scene initial|full] [--dump FILE] [--repeat R] [--threads T] [--lanes SET]\n"
    "                   [--compare]\n"
    "       fluid-bench --replay FILE [--dump FILE] [--threads T] [--lanes SET]\n"
    "  --steps N     Update steps per repeat (default 1000; 0: the scene as built)\n"
    "  --scene S     initial: the start scene; full: fluid over the whole window\n"
    "  --dump FILE   write the state after the last repeat (little-endian)\n"
    "  --repeat R    runs from a fresh scene (default 1, R >= 1)\n"
    "  --threads T   threads of a step, 1 or 2 (default: what the program uses)\n"
    "  --lanes SET   lane set of the step: plain, avx2, avx512 or simd128 (default: the widest available)\n"
    "  --compare     also time the literal reference world and print the ratio\n"
    "  --replay FILE play the frames recorded by fluid --record on the initial scene\n"
    "  --version     print the version\n";

// Steps each world runs in turn under --compare.
const long kCompareBlock = 50;

// Upper bound of steps x repeats.
const long kMaxSamples = 100000000;

struct Options {
    long steps = 1000;
    long repeat = 1;
    long threads = 0;  // 0: the world's own default
    bool compare = false;
    TLaneSet lanes = BestLaneSet();
    std::string scene = "initial";
    std::string dump;
    std::string replay;
    bool timing = false;  // one of --steps, --scene, --repeat, --compare given
};

// args: the command line after the program name.
Options ParseArguments(const std::vector<std::string>& args) {
    Options o;
    const size_t argc = args.size();
    for (size_t i = 0; i < argc; ++i) {
        const std::string& arg = args[i];
        ExitWithUsageIfAsked(arg, kUsage);
        o.timing = o.timing || arg == "--steps" || arg == "--scene" || arg == "--repeat" || arg == "--compare";
        if (arg == "--compare") {
            o.compare = true;
            continue;
        }
        if (arg != "--steps" && arg != "--scene" && arg != "--dump" && arg != "--repeat" && arg != "--threads" &&
            arg != "--replay" && arg != "--lanes")
            ExitWithUsage("unknown argument '" + arg + "'", kUsage);
        if (i + 1 >= argc) ExitWithUsage("missing value for " + arg, kUsage);
        const std::string& value = args[++i];
        if (arg == "--steps") {
            o.steps = OptionNumber("--steps", value, 0, kMaxSamples, kUsage);
        } else if (arg == "--repeat") {
            o.repeat = OptionNumber("--repeat", value, 1, kMaxSamples, kUsage);
        } else if (arg == "--threads") {
            o.threads = OptionNumber("--threads", value, 1, TSPH::MAX_STEP_THREADS, kUsage);
        } else if (arg == "--lanes") {
            std::string why;
            if (!LaneSetForOption(value, o.lanes, why)) ExitWithUsage(why, kUsage);
        } else if (arg == "--scene") {
            o.scene = value;
            if (o.scene != "initial" && o.scene != "full") ExitWithUsage("unknown scene '" + o.scene + "'", kUsage);
        } else if (arg == "--replay") {
            o.replay = value;
            if (o.replay.empty()) ExitWithUsage("empty recording file name", kUsage);
        } else {
            o.dump = value;
            if (o.dump.empty()) ExitWithUsage("empty dump file name", kUsage);
        }
    }
    if (!o.replay.empty() && o.timing)
        ExitWithUsage("--replay plays the recording's frames: it takes --dump and --threads only", kUsage);
    if (o.steps > kMaxSamples / o.repeat) ExitWithUsage("--steps times --repeat must not exceed 100000000", kUsage);
    return o;
}

// Fluid only, on the 5.25-pixel lattice over the whole window, jittered
// like the liquid column of the initial scene.
std::shared_ptr<TSPH> BuildFullScene() {
    auto world = std::make_shared<TSPH>();
    for (float y = 1.0f; y <= 600.0f; y += TSPH::PARTICLE_SPACING) {
        for (float x = 1.0f; x <= 799.0f; x += TSPH::PARTICLE_SPACING) {
            const double jy = RandomRange(-0.5, 0.5);
            const double jx = RandomRange(-0.5, 0.5);
            world->AddParticle(static_cast<float>(x + jx), static_cast<float>(y + jy));
        }
    }
    return world;
}

// Runs one Update of a world and counts its time.
template <typename World>
void TimeStep(World& world, StepTimes& times) {
    const auto t0 = std::chrono::steady_clock::now();
    world.Update();
    times.Add(std::chrono::steady_clock::now() - t0);
}

// A fresh scene (the initial one, as the program starts from, or the full
// one), with the random generator and the IDs restarted and the threads asked for.
std::shared_ptr<TSPH> FreshScene(const Options& o, bool full) {
    RandomState = kInitialRandomState;
    ParticleCount = 0;
    std::shared_ptr<TSPH> world = full ? BuildFullScene() : BuildScene();
    if (o.threads > 0) world->SetStepThreads(static_cast<int>(o.threads));
    world->SetStepLanes(o.lanes);  // available: checked with the options
    return world;
}

// The recording's frames played on the initial scene up to its Escape, if any.
std::shared_ptr<TSPH> Replay(const Options& o, const TRecording& recording) {
    std::shared_ptr<TSPH> world = FreshScene(o, false);
    TPlayState play;
    long frames = 0, steps = 0;
    for (const TFrameInput& frame : recording.frames) {
        const TFramePlayed played = PlayFrame(*world, play, frame);
        if (played == TFramePlayed::Ended) break;
        ++frames;
        steps += played == TFramePlayed::Stepped;
    }
    std::printf("replayed %ld frames of %s: %ld steps; %zu fluid, %zu boundary particles\n", frames, o.replay.c_str(),
                steps, world->Particles.size(), world->BoundaryParticles.size());
    return world;
}

}  // namespace

static std::shared_ptr<TSPH> TimeSteps(const Options& o) {
    StepTimes stepTimes, literalTimes;
    std::shared_ptr<TSPH> world;
    for (long r = 0; r < o.repeat; ++r) {
        // Every repeat starts from the same fresh scene.
        world.reset();
        world = FreshScene(o, o.scene == "full");
        if (r == 0)
            std::printf("scene %s: %zu fluid, %zu boundary particles; %d step thread(s), %s lanes\n", o.scene.c_str(),
                        world->Particles.size(), world->BoundaryParticles.size(), world->StepThreads(),
                        LaneSetName(world->StepLanes()));
        // The literal world starts from a copy of the same scene.
        std::unique_ptr<ReferenceWorld> literal = o.compare ? std::make_unique<ReferenceWorld>(*world) : nullptr;
        for (long done = 0; done < o.steps;) {
            const long block = std::min(o.steps - done, kCompareBlock);
            for (long i = 0; i < block; ++i) TimeStep(*world, stepTimes);
            for (long i = 0; literal && i < block; ++i) TimeStep(*literal, literalTimes);
            done += block;
        }
    }
    std::printf("steps %ld x %ld repeats\n", o.steps, o.repeat);
    if (stepTimes.Count() > 0) {
        const StepTimes::Median ours = stepTimes.MedianMs();
        const double rate = static_cast<double>(world->Particles.size()) / (ours.ms / 1000.0);
        std::printf("Update median %.*f ms, min %.4f ms\n", ours.decimals, ours.ms, stepTimes.MinimumMs());
        std::printf("fluid particle-steps per second (median) %.4g\n", rate);
        if (o.compare) {
            const StepTimes::Median literal = literalTimes.MedianMs();
            std::printf("literal Update median %.*f ms, min %.4f ms\n", literal.decimals, literal.ms,
                        literalTimes.MinimumMs());
            std::printf("speed-up over the literal world: median %.2fx, min %.2fx\n", literal.ms / ours.ms,
                        literalTimes.MinimumMs() / stepTimes.MinimumMs());
        }
    }
    return world;
}

static int Bench(int argc, char** argv) {
    const std::vector<std::string> args = CommandLineArguments(argc, argv);
    const Options o = ParseArguments(std::vector<std::string>(args.begin() + (args.empty() ? 0 : 1), args.end()));
    // A recording that is none fails before anything is written.
    TRecording recording;
    if (!o.replay.empty() && !LoadReplay("fluid-bench", o.replay, recording)) return 1;
    // Start the dump file first, so that a bad path fails before the run; it
    // replaces an old one only once written whole.
    std::shared_ptr<TReplacingFile> dump;
    std::string why;
    if (!o.dump.empty() && !(dump = TReplacingFile::Create(o.dump, &why))) {
        std::fprintf(stderr, "fluid-bench: cannot write dump file '%s': %s\n", o.dump.c_str(), why.c_str());
        return 1;
    }
    const std::shared_ptr<TSPH> world = o.replay.empty() ? TimeSteps(o) : Replay(o, recording);
    if (dump) {
        if (!WriteStateDump(*dump, *world, why)) {
            std::fprintf(stderr, "fluid-bench: cannot write dump file '%s': %s\n", o.dump.c_str(), why.c_str());
            return 1;
        }
        std::printf("state written to %s\n", o.dump.c_str());
    }
    return 0;
}

int main(int argc, char** argv) {
    return RunTool("fluid-bench", [&] { return Bench(argc, argv); });
}
