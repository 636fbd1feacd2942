// render-bench [--repeat K] [--steps N] [--lanes SET]
//
// Opens the demo's 800 x 600 OpenGL window, builds the initial scene, runs N
// steps of Update, then prints medians over K repeats of
//   - the smooth-mode field: the literal per-sample loops against the
//     renderer's, and the ratio (the fields are checked bit for bit);
//   - Render + FlipPage in each mode against a bare path that issues the
//     same primitives from arrays made once beforehand, and the ratio.
// --lanes forces the lane set of the step and of the smooth field's sums
// (one this processor and build have); the set that ran is printed either way.
// Measure under a private Xvfb with LIBGL_ALWAYS_SOFTWARE=1.

#include <GL/gl.h>

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <exception>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "app/scene.h"
#include "graphics/gl/gl_graphics.h"
#include "graphics/graphics.h"
#include "render/fluid_renderer.h"
#include "render/smooth_fields.h"
#include "runtime/tool.h"
#include "tests/render/reference_render.h"

namespace {

const char* const kUsage =
    "usage: render-bench [--repeat K] [--steps N] [--lanes SET]\n"
    "  --repeat K   timed repeats per figure (default 101, 1 <= K <= 100000)\n"
    "  --steps N    Update steps before measuring (default 100, 0 <= N <= 100000)\n"
    "  --lanes SET  lane set of the step and the smooth field: plain, avx2, avx512 or simd128\n"
    "               (default: the widest available)\n";

struct Options {
    long repeat = 101;
    long steps = 100;
    TLaneSet lanes = BestLaneSet();
};

Options ParseArguments(int argc, char** argv) {
    Options o;
    for (int i = 1; i < argc; ++i) {
        const std::string arg = argv[i];
        ExitWithUsageIfAsked(arg, kUsage);
        if (arg != "--repeat" && arg != "--steps" && arg != "--lanes")
            ExitWithUsage("unknown argument '" + arg + "'", kUsage);
        if (i + 1 >= argc) ExitWithUsage("missing value for " + arg, kUsage);
        if (arg == "--repeat") {
            o.repeat = OptionNumber("--repeat", argv[++i], 1, 100000, kUsage);
        } else if (arg == "--lanes") {
            std::string why;
            if (!LaneSetForOption(argv[++i], o.lanes, why)) ExitWithUsage(why, kUsage);
        } else {
            o.steps = OptionNumber("--steps", argv[++i], 0, 100000, kUsage);
        }
    }
    return o;
}

double MillisOf(const std::function<void()>& work) {
    const auto t0 = std::chrono::steady_clock::now();
    work();
    return std::chrono::duration<double, std::milli>(std::chrono::steady_clock::now() - t0).count();
}

double Median(std::vector<double> v) {
    std::sort(v.begin(), v.end());
    const std::size_t n = v.size();
    return n % 2 ? v[n / 2] : 0.5 * (v[n / 2 - 1] + v[n / 2]);
}

// Times a and b alternately, K times each, so that drift hits both alike;
// returns their medians.
std::pair<double, double> TimeBoth(long repeat, const std::function<void()>& a, const std::function<void()>& b) {
    std::vector<double> ta, tb;
    for (long k = 0; k < repeat; ++k) {
        ta.push_back(MillisOf(a));
        tb.push_back(MillisOf(b));
    }
    return {Median(ta), Median(tb)};
}

// The state the frame loop gives Render: pixel projection, alpha test, a
// cleared frame with the colour white.
void SetUpLikeTheMainProgram() {
    glMatrixMode(GL_PROJECTION);
    glLoadIdentity();
    glOrtho(0, 800, 600, 0, -1, 1);
    glMatrixMode(GL_MODELVIEW);
    glLoadIdentity();
    glEnable(GL_ALPHA_TEST);
    glAlphaFunc(GL_GREATER, 0.0f);
}

void StartFrame() {
    glClear(GL_COLOR_BUFFER_BIT);
    glColor4f(1.0f, 1.0f, 1.0f, 1.0f);
}

void CompareFields(long repeat, const TSPH& world, TLaneSet lanes) {
    TSmoothFields literal;
    TSmoothFieldMaker maker;
    maker.SetLanes(lanes);
    LiteralSmoothFields(world, literal);
    const TSmoothFields& ours = maker.Compute(world);
    const bool same = literal.Density == ours.Density && literal.White == ours.White && literal.Alpha == ours.Alpha;
    const auto [tLiteral, tOurs] = TimeBoth(
        repeat, [&] { LiteralSmoothFields(world, literal); }, [&] { maker.Compute(world); });
    std::printf("smooth field   literal %8.3f ms   ours %8.3f ms   speed-up %6.2fx   bit-identical: %s\n", tLiteral,
                tOurs, tLiteral / tOurs, same ? "yes" : "NO");
}

void CompareFrames(long repeat, TRenderedSPH& world, int mode, TLaneSet lanes) {
    world.NiceRender = mode;
    // The floor: the same primitives from arrays made once.
    TFluidFrame ready;
    if (mode == 0) {
        BuildSpriteQuads(world, ready);
    } else {
        TSmoothFieldMaker fields;
        fields.SetLanes(lanes);
        BuildSmoothStrips(fields.Compute(world), ready);
    }
    BuildBoundarySquares(world, ready);
    auto floor = [&] {
        if (mode == 0) {
            DrawSpriteQuads(ready, world.ParticleTex);
        } else {
            DrawSmoothStrips(ready);
        }
        DrawBoundarySquares(ready);
        FlipPage(0);
    };
    auto ours = [&] {
        world.Render();
        FlipPage(0);
    };
    // Warm-up frames of both, then alternate; each frame starts cleared,
    // outside the timing, as in the frame loop.
    for (int k = 0; k < 5; ++k) {
        StartFrame();
        ours();
        StartFrame();
        floor();
    }
    std::vector<double> tOurs, tFloor;
    for (long k = 0; k < repeat; ++k) {
        StartFrame();
        tOurs.push_back(MillisOf(ours));
        StartFrame();
        tFloor.push_back(MillisOf(floor));
    }
    const double o = Median(tOurs), f = Median(tFloor);
    std::printf("%-6s mode    Render+Flip %8.3f ms   bare arrays+Flip %8.3f ms   ratio %5.3f\n",
                mode == 0 ? "sprite" : "smooth", o, f, o / f);
}

// The simulation step as the frame loop runs it before Render, the same in
// both modes; the world moves on by repeat steps.
void TimeUpdate(long repeat, TSPH& world) {
    std::vector<double> t;
    for (long k = 0; k < repeat; ++k) t.push_back(MillisOf([&] { world.Update(); }));
    std::printf("update         Update %8.3f ms (the step before either mode's Render)\n", Median(t));
}

int Run(const Options& o) {
    if (!OpenGLGraphics(800, 600, 0, 60, 10)) {
        std::fputs("render-bench: cannot open an 800x600 OpenGL window (no X display?)\n", stderr);
        return 1;
    }
    SetUpLikeTheMainProgram();
    auto world = std::make_shared<TRenderedSPH>();
    world->ParticleTex = static_cast<std::int32_t>(MakeParticleTexture());
    BuildScene(world);
    // Available: checked with the options.
    world->SetStepLanes(o.lanes);
    world->SetFieldLanes(o.lanes);
    for (long k = 0; k < o.steps; ++k) world->Update();
    std::printf(
        "render-bench: initial scene after %ld steps, %zu fluid and %zu boundary particles, "
        "%s lanes, medians of %ld repeats\n",
        o.steps, world->Particles.size(), world->BoundaryParticles.size(), LaneSetName(o.lanes), o.repeat);
    std::printf("GL renderer: %s\n", reinterpret_cast<const char*>(glGetString(GL_RENDERER)));
    CompareFields(o.repeat, *world, o.lanes);
    CompareFrames(o.repeat, *world, 0, o.lanes);
    CompareFrames(o.repeat, *world, 1, o.lanes);
    TimeUpdate(o.repeat, *world);
    EndOpenedGraphics();
    return 0;  // whether the figures arrived is checked at exit
}

}  // namespace

int main(int argc, char** argv) {
    return RunTool("render-bench", [&] { return Run(ParseArguments(argc, argv)); });
}
