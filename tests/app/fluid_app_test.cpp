// The main program's pieces that need no window: the status line, the
// options, the controls fed with the events a window would emit, and the
// frame loop's exit test.
#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <string>
#include <tuple>
#include <utility>
#include <vector>

#include "app/fluid_app.h"
#include "app/scene.h"
#include "system/event.h"
#include "system/polled_input.h"

namespace {

// Emits what a window would for input at client pixel (x, y).
void Emit(int32_t id, int32_t data, int32_t x = 0, int32_t y = 0) { SendEvent(MakeEvent(id, nullptr, data, 0, x, y)); }

void PressKey(int32_t key) {
    Emit(EVENT_KEY_DOWN, key);
    Emit(EVENT_KEY_UP, key);
}

void Click(int32_t button, int32_t x, int32_t y) {
    Emit(EVENT_MOUSE_MOVE, 0, x, y);
    Emit(EVENT_MOUSE_DOWN, button, x, y);
    Emit(EVENT_MOUSE_UP, button, x, y);
}

// Screen positions of the particles in one of the world's arrays.
std::vector<std::pair<float, float>> Points(const std::vector<std::shared_ptr<TParticle>>& particles) {
    std::vector<std::pair<float, float>> out;
    for (const auto& p : particles)
        if (p) out.emplace_back(p->ScreenX, p->ScreenY);
    return out;
}

class FluidControls : public ::testing::Test {
protected:
    void SetUp() override {
        StartPolledInput(nullptr);
        ResetKeys();
        ResetMouse();
    }
    void TearDown() override { StopPolledInput(); }
    TSPH world;
};

}  // namespace

TEST(FluidStatusLine, MeasurementsAreCutOrPaddedToTheirWidths) {
    EXPECT_EQ(HudText(5, 16, 58, 3749), "Updatezeit: 5  ms  Renderzeit: 16  ms  FPS: 58   Partikel: 3749");
    EXPECT_EQ(HudText(1234, 123456, 12345, 17595), "Updatezeit: 123ms  Renderzeit: 1234ms  FPS: 1234 Partikel: 17595");
    // A clock stepping back shows its sign, still within the width.
    EXPECT_EQ(HudText(-7, -12345, 0, 0), "Updatezeit: -7 ms  Renderzeit: -123ms  FPS: 0    Partikel: 0");
}

TEST(FluidOptions, AcceptTheDocumentedFormsAndRefuseTheRest) {
    using Parsed = std::tuple<int64_t, std::string, bool, bool>;  // frames, screenshot, smooth, help
    const std::pair<std::vector<std::string>, Parsed> good[] = {
        {{}, {-1, "", false, false}},
        {{"--frames", "600", "--screenshot", "out.png", "--smooth"}, {600, "out.png", true, false}},
        {{"--frames", "0"}, {0, "", false, false}},
        {{"--help"}, {-1, "", false, true}}};
    for (const auto& [args, want] : good) {
        TFluidOptions options;
        std::string error;
        ASSERT_TRUE(ParseFluidOptions(args, options, error)) << error;
        EXPECT_EQ(Parsed(options.frames, options.screenshot, options.smooth, options.help), want);
    }
    const std::vector<std::vector<std::string>> bad = {{"--frames"},        {"--frames", "-1"},
                                                       {"--frames", "ten"}, {"--frames", "5x"},
                                                       {"--frames", ""},    {"--frames", "99999999999999999999"},
                                                       {"--screenshot"},    {"--screenshot", ""},
                                                       {"--fast"},          {"frames"}};
    for (const auto& args : bad) {
        TFluidOptions refused;
        std::string error;
        EXPECT_FALSE(ParseFluidOptions(args, refused, error)) << args[0];
        EXPECT_NE(error, "") << args[0];
    }
}

TEST(FluidOptions, FilesToRecordReplayAndDumpNeedANameEach) {
    TFluidOptions options;
    std::string error;
    ASSERT_TRUE(ParseFluidOptions({"--record", "a.rec", "--replay", "b.rec", "--dump", "c.bin"}, options, error));
    EXPECT_EQ(options.record + options.replay + options.dump, "a.recb.recc.bin");
    for (const char* option : {"--record", "--replay", "--dump"}) {
        TFluidOptions refused;
        EXPECT_FALSE(ParseFluidOptions({option}, refused, error));
        EXPECT_EQ(error, std::string(option) + " needs a file name");
        EXPECT_FALSE(ParseFluidOptions({option, ""}, refused, error));
    }
}

TEST_F(FluidControls, SpaceTogglesOncePerPressAndAnEvenCountChangesNothing) {
    struct Step {
        int presses;
        int32_t mode;
    };
    for (const Step step : {Step{1, 1}, Step{2, 1}, Step{3, 0}, Step{0, 0}, Step{4, 0}, Step{1, 1}}) {
        for (int i = 0; i < step.presses; ++i) PressKey(32);
        HandleInput(world);
        EXPECT_EQ(world.NiceRender, step.mode) << step.presses << " presses";
    }
    // Any non-zero mode counts as smooth; a press brings it back to sprites.
    world.NiceRender = 7;
    PressKey(32);
    HandleInput(world);
    EXPECT_EQ(world.NiceRender, 0);
}

TEST_F(FluidControls, ClicksPourAndBuildClampedLatticesOncePerFrame) {
    struct Case {
        int32_t button, x, y;
        size_t fluid, walls;
        float left, right, top, bottom;  // lattice bounds
    };
    const Case cases[] = {
        {1, 400, 100, 256, 0, 360, 438.75f, 60, 138.75f},  // open space: 16 x 16
        {2, 400, 300, 0, 16, 390, 405.75f, 290, 305.75f},  // 4 x 4
        {1, 5, 5, 81, 0, 0, 42, 0, 42},                    // clamped at the top left
        {1, 798, 598, 81, 0, 758, 800, 558, 600},          // both far ends included
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(testing::Message() << "button " << c.button << " at " << c.x << "," << c.y);
        TSPH fresh;
        const int32_t before = ParticleCount;
        // Three clicks within one frame give one block.
        for (int i = 0; i < 3; ++i) Click(c.button, c.x, c.y);
        HandleInput(fresh);
        const auto fluid = Points(fresh.Particles), walls = Points(fresh.BoundaryParticles);
        EXPECT_EQ(fluid.size(), c.fluid);
        EXPECT_EQ(walls.size(), c.walls);
        EXPECT_EQ(ParticleCount - before, static_cast<int32_t>(c.fluid + c.walls));
        const auto& placed = c.button == 1 ? fluid : walls;
        ASSERT_FALSE(placed.empty());
        // Screen positions go through world units and back; compare to a hair.
        float left = 1e9f, right = -1e9f, top = 1e9f, bottom = -1e9f;
        for (auto [x, y] : placed)
            left = std::min(left, x), right = std::max(right, x), top = std::min(top, y), bottom = std::max(bottom, y);
        for (auto [got, want] : {std::pair{left, c.left}, {right, c.right}, {top, c.top}, {bottom, c.bottom}})
            EXPECT_NEAR(got, want, 1e-3);
        // The lattice runs x outside, y inside.
        EXPECT_NEAR(placed[1].second - placed[0].second, 5.25f, 1e-3);
    }
}

TEST_F(FluidControls, PouringClearsTheSquareAroundThePointerWallsIncluded) {
    std::shared_ptr<TSPH> scene = BuildScene();
    TSPH& built = *scene;
    // A click on the floor (y 500 to 510.5) cuts through it: the 82-pixel
    // square is cleared of walls and liquid, then 256 particles are poured.
    // A right click in the same frame acts at the same pointer position,
    // after the pour: its 18-pixel square takes 4 x 4 of the poured
    // particles, and 16 wall particles stand in their place.
    const size_t walls = Points(built.BoundaryParticles).size();
    Click(1, 300, 505);
    Click(2, 300, 505);
    HandleInput(built);
    auto inSquare = [](const std::vector<std::pair<float, float>>& points) {
        return std::count_if(points.begin(), points.end(), [](auto p) {
            return p.first >= 259 && p.first <= 341 && p.second >= 464 && p.second <= 546;
        });
    };
    EXPECT_EQ(inSquare(Points(built.BoundaryParticles)), 16);
    EXPECT_EQ(Points(built.BoundaryParticles).size(), walls - 16 * 3 + 16);  // 16 floor columns of 3
    EXPECT_EQ(inSquare(Points(built.Particles)), 256 - 16);
}

TEST_F(FluidControls, EscapeCountedBeforeTheFirstFrameDrawsNothing) {
    // No window and no GL context: the loop must leave at its first test.
    PressKey(27);
    TFluidOptions options;
    options.screenshot = "never.png";
    const TFrameLoopResult result = RunFrameLoop(world, options);
    EXPECT_EQ(result.frames, 0);
    EXPECT_EQ(result.lastHud, "");
    EXPECT_EQ(result.lastFrame, nullptr);
    // A close request counts the same way; --frames 0 needs no input at all.
    Emit(EVENT_APP_TERMINATE, 0);
    EXPECT_EQ(RunFrameLoop(world, TFluidOptions{}).frames, 0);
    options.frames = 0;
    EXPECT_EQ(RunFrameLoop(world, options).frames, 0);
}
