// The main program's pieces that need no window: the status line, the
// options, the controls fed with the events a window would emit, and the
// frame loop's exit test.
#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <utility>
#include <vector>

#include "app/fluid_app.h"
#include "app/scene.h"
#include "system/event.h"
#include "system/polled_input.h"

namespace {

// Emits what a window would for input at client pixel (x, y).
void Emit(int32_t id, int32_t data, int32_t x = 0, int32_t y = 0) {
    SendEvent(MakeEvent(id, nullptr, data, 0, x, y));
}

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
    EXPECT_EQ(HudText(0, 0, 0, 3749),
              "Updatezeit: 0  ms  Renderzeit: 0   ms  FPS: 0    Partikel: 3749");
    EXPECT_EQ(HudText(5, 16, 58, 3749),
              "Updatezeit: 5  ms  Renderzeit: 16  ms  FPS: 58   Partikel: 3749");
    EXPECT_EQ(HudText(1234, 123456, 12345, 17595),
              "Updatezeit: 123ms  Renderzeit: 1234ms  FPS: 1234 Partikel: 17595");
    // A clock stepping back shows its sign, still within the width.
    EXPECT_EQ(HudText(-7, -12345, 0, 0), "Updatezeit: -7 ms  Renderzeit: -123ms  FPS: 0    Partikel: 0");
}

TEST(FluidOptions, AcceptTheDocumentedFormsAndRefuseTheRest) {
    TFluidOptions options;
    std::string error;
    ASSERT_TRUE(ParseFluidOptions({}, options, error));
    EXPECT_EQ(options.frames, -1);
    EXPECT_EQ(options.screenshot, "");
    EXPECT_FALSE(options.smooth || options.help);

    ASSERT_TRUE(ParseFluidOptions({"--frames", "600", "--screenshot", "out.png", "--smooth"}, options,
                                  error));
    EXPECT_EQ(options.frames, 600);
    EXPECT_EQ(options.screenshot, "out.png");
    EXPECT_TRUE(options.smooth);
    ASSERT_TRUE(ParseFluidOptions({"--frames", "0"}, options, error));
    EXPECT_EQ(options.frames, 0);

    const std::vector<std::vector<std::string>> bad = {
        {"--frames"}, {"--frames", "-1"}, {"--frames", "ten"}, {"--frames", "5x"}, {"--frames", ""},
        {"--frames", "99999999999999999999"}, {"--screenshot"}, {"--screenshot", ""}, {"--fast"},
        {"frames"}};
    for (const auto& args : bad) {
        TFluidOptions refused;
        error.clear();
        EXPECT_FALSE(ParseFluidOptions(args, refused, error)) << args[0];
        EXPECT_NE(error, "") << args[0];
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
        {1, 5, 5, 81, 0, 0, 42, 0, 42},                   // clamped at the top left
        {1, 798, 598, 81, 0, 758, 800, 558, 600},         // both far ends included
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
        auto [minX, maxX] = std::minmax_element(placed.begin(), placed.end());
        auto [minY, maxY] = std::minmax_element(placed.begin(), placed.end(),
                                                [](auto& a, auto& b) { return a.second < b.second; });
        EXPECT_NEAR(minX->first, c.left, 1e-3);
        EXPECT_NEAR(maxX->first, c.right, 1e-3);
        EXPECT_NEAR(minY->second, c.top, 1e-3);
        EXPECT_NEAR(maxY->second, c.bottom, 1e-3);
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
    size_t wallsInSquare = 0;
    for (const auto& [x, y] : Points(built.BoundaryParticles))
        if (x >= 259 && x <= 341 && y >= 464 && y <= 546) ++wallsInSquare;
    EXPECT_EQ(wallsInSquare, 16u);
    EXPECT_EQ(Points(built.BoundaryParticles).size(), walls - 16 * 3 + 16);  // 16 floor columns of 3
    size_t poured = 0;
    for (const auto& [x, y] : Points(built.Particles))
        if (x >= 259 && x <= 341 && y >= 464 && y <= 546) ++poured;
    EXPECT_EQ(poured, 256u - 16u);
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
