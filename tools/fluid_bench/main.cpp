// fluid-bench [--steps N] [--scene initial|full] [--dump FILE] [--repeat R]
//
// Runs N steps of Update on a fresh scene, R times, and prints the median and
// minimum time of one Update and the fluid particle-steps per second.
// --dump writes the state after the last repeat, little-endian.

#include <chrono>
#include <cerrno>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <string>
#include <vector>

#include "app/scene.h"
#include "sph/sph.h"
#include "runtime/tool.h"
#include "tools/fluid_bench/step_times.h"

namespace {

const char* const kUsage =
    "usage: fluid-bench [--steps N] [--scene initial|full] [--dump FILE] [--repeat R]\n"
    "  --steps N     Update steps per repeat (default 1000, N >= 1)\n"
    "  --scene S     initial: the start scene; full: fluid over the whole window\n"
    "  --dump FILE   write the state after the last repeat (little-endian)\n"
    "  --repeat R    runs from a fresh scene (default 1, R >= 1)\n";

// Upper bound of steps x repeats (one timing sample each).
const long kMaxSamples = 100000000;

struct Options {
    long steps = 1000;
    long repeat = 1;
    std::string scene = "initial";
    std::string dump;
};

[[noreturn]] void BadArguments(const std::string& why) {
    std::fprintf(stderr, "fluid-bench: %s\n%s", why.c_str(), kUsage);
    std::exit(2);
}

long PositiveNumber(const char* option, const char* text) {
    char* end = nullptr;
    errno = 0;
    const long v = std::strtol(text, &end, 10);
    if (errno != 0 || end == text || *end != '\0' || v < 1)
        BadArguments(std::string("invalid value '") + text + "' for " + option);
    return v;
}

Options ParseArguments(int argc, char** argv) {
    Options o;
    for (int i = 1; i < argc; ++i) {
        const std::string arg = argv[i];
        if (arg == "--help" || arg == "-h") {
            std::fputs(kUsage, stdout);
            std::exit(0);
        }
        if (arg != "--steps" && arg != "--scene" && arg != "--dump" && arg != "--repeat")
            BadArguments("unknown argument '" + arg + "'");
        if (i + 1 >= argc) BadArguments("missing value for " + arg);
        const char* value = argv[++i];
        if (arg == "--steps") {
            o.steps = PositiveNumber("--steps", value);
        } else if (arg == "--repeat") {
            o.repeat = PositiveNumber("--repeat", value);
        } else if (arg == "--scene") {
            o.scene = value;
            if (o.scene != "initial" && o.scene != "full") BadArguments("unknown scene '" + o.scene + "'");
        } else {
            o.dump = value;
            if (o.dump.empty()) BadArguments("empty dump file name");
        }
    }
    if (o.steps > kMaxSamples / o.repeat) BadArguments("--steps times --repeat must not exceed 100000000");
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

void PutInt(std::vector<unsigned char>& out, std::int32_t v) {
    const auto u = static_cast<std::uint32_t>(v);
    for (int b = 0; b < 4; ++b) out.push_back(static_cast<unsigned char>(u >> (8 * b)));
}

void PutFloat(std::vector<unsigned char>& out, float f) {
    std::int32_t v;
    std::memcpy(&v, &f, sizeof v);
    PutInt(out, v);
}

bool WriteDump(std::FILE* f, const TSPH& world) {
    std::vector<unsigned char> out;
    PutInt(out, static_cast<std::int32_t>(world.Particles.size()));
    PutInt(out, static_cast<std::int32_t>(world.BoundaryParticles.size()));
    for (const auto& p : world.Particles) {
        for (float f : {p->PositionX, p->PositionY, p->OldX, p->OldY, p->VelocityX, p->VelocityY, p->Density,
                        p->Pressure})
            PutFloat(out, f);
    }
    for (const auto& p : world.BoundaryParticles) {
        PutFloat(out, p->PositionX);
        PutFloat(out, p->PositionY);
    }
    const bool written = std::fwrite(out.data(), 1, out.size(), f) == out.size();
    return CloseOutputFile(f) && written;
}

}  // namespace

static int Bench(int argc, char** argv) {
    const Options o = ParseArguments(argc, argv);
    // Open the dump file first, so that a bad path fails before the run.
    std::FILE* dump = nullptr;
    if (!o.dump.empty()) {
        dump = std::fopen(o.dump.c_str(), "wb");
        if (dump == nullptr) {
            std::fprintf(stderr, "fluid-bench: cannot write dump file '%s': %s\n", o.dump.c_str(),
                         std::strerror(errno));
            return 1;
        }
    }
    StepTimes stepTimes;
    std::shared_ptr<TSPH> world;
    for (long r = 0; r < o.repeat; ++r) {
        // Every repeat starts from the same fresh scene.
        RandomState = 4660;
        ParticleCount = 0;
        world.reset();
        world = o.scene == "full" ? BuildFullScene() : BuildScene();
        if (r == 0)
            std::printf("scene %s: %zu fluid, %zu boundary particles\n", o.scene.c_str(), world->Particles.size(),
                        world->BoundaryParticles.size());
        for (long i = 0; i < o.steps; ++i) {
            const auto t0 = std::chrono::steady_clock::now();
            world->Update();
            const auto t1 = std::chrono::steady_clock::now();
            stepTimes.Add(t1 - t0);
        }
    }
    const StepTimes::Median median = stepTimes.MedianMs();
    const double minimum = stepTimes.MinimumMs();
    const double rate = static_cast<double>(world->Particles.size()) / (median.ms / 1000.0);
    std::printf("steps %ld x %ld repeats\n", o.steps, o.repeat);
    std::printf("Update median %.*f ms, min %.4f ms\n", median.decimals, median.ms, minimum);
    std::printf("fluid particle-steps per second (median) %.4g\n", rate);
    if (dump != nullptr) {
        if (!WriteDump(dump, *world)) {
            std::fprintf(stderr, "fluid-bench: cannot write dump file '%s': %s\n", o.dump.c_str(),
                         std::strerror(errno));
            return 1;
        }
        std::printf("state written to %s\n", o.dump.c_str());
    }
    return 0;
}

int main(int argc, char** argv) {
    return RunTool("fluid-bench", [&] { return Bench(argc, argv); });
}
