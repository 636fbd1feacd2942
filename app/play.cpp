#include "app/play.h"

#include <algorithm>

#include "app/scene.h"

namespace {

// A pour clears a square of 82 pixels and fills one of 80; a wall block
// clears 18 and fills 20, so it overlaps what it builds on.
constexpr std::int32_t kPourClearHalf = 41;
constexpr std::int32_t kPourFillHalf = 40;
constexpr std::int32_t kWallClearHalf = 9;
constexpr std::int32_t kWallFillHalf = 10;

// The lattice of a block: from the integer bounds of the square of
// half-width fillHalf around (mx, my), clamped to the window, in single
// precision, both ends included.
struct TLattice {
    float left, right, top, bottom;
};

TLattice LatticeAround(std::int32_t mx, std::int32_t my, std::int32_t fillHalf) {
    return {static_cast<float>(std::max(mx - fillHalf, 0)),
            static_cast<float>(std::min(mx + fillHalf, kFluidWindowWidth)),
            static_cast<float>(std::max(my - fillHalf, 0)),
            static_cast<float>(std::min(my + fillHalf, kFluidWindowHeight))};
}

// Removes every particle of the square of half-width clearHalf around (mx, my).
void ClearSquare(TSPH& world, std::int32_t mx, std::int32_t my, std::int32_t clearHalf) {
    world.FreeRect(static_cast<float>(mx - clearHalf), static_cast<float>(my - clearHalf),
                   static_cast<float>(mx + clearHalf), static_cast<float>(my + clearHalf));
}

}  // namespace

void Pour(TSPH& world, std::int32_t mx, std::int32_t my) {
    ClearSquare(world, mx, my, kPourClearHalf);
    const TLattice l = LatticeAround(mx, my, kPourFillHalf);
    for (float x = l.left; x <= l.right; x += TSPH::PARTICLE_SPACING)
        for (float y = l.top; y <= l.bottom; y += TSPH::PARTICLE_SPACING) world.AddParticle(x, y);
}

void BuildWall(TSPH& world, std::int32_t mx, std::int32_t my) {
    ClearSquare(world, mx, my, kWallClearHalf);
    const TLattice l = LatticeAround(mx, my, kWallFillHalf);
    for (float x = l.left; x <= l.right; x += TSPH::BOUNDARY_SPACING)
        for (float y = l.top; y <= l.bottom; y += TSPH::BOUNDARY_SPACING) world.AddBoundaryParticle(x, y);
}

void ResetScene(TSPH& world) {
    world.Particles.clear();
    world.BoundaryParticles.clear();
    // Empties the grids, whose lists still link the old particles, and lets
    // go of those a FreeRect kept alive for them.
    world.RedistributeGrid();
    RandomState = kInitialRandomState;
    ParticleCount = 0;
    BuildScene(world);
}

bool ApplyFrameInput(TSPH& world, TPlayState& play, const TFrameInput& input) {
    if (input.resetHits != 0) ResetScene(world);
    // An even number of presses since the last frame leaves the mode as it was.
    if (input.spaceHits % 2 != 0) world.NiceRender = world.NiceRender == 0 ? 1 : 0;
    // Any number of clicks within one frame gives one block.
    if (input.leftHits != 0) Pour(world, input.pointerX, input.pointerY);
    if (input.rightHits != 0) BuildWall(world, input.pointerX, input.pointerY);
    if (input.pauseHits % 2 != 0) play.paused = !play.paused;
    return !play.paused || input.stepHits != 0;
}

TFramePlayed PlayFrame(TSPH& world, TPlayState& play, const TFrameInput& input) {
    if (input.escapeHits != 0) return TFramePlayed::Ended;
    if (!ApplyFrameInput(world, play, input)) return TFramePlayed::Held;
    world.Update();
    return TFramePlayed::Stepped;
}
