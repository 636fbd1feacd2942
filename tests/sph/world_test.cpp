// The world: adding and removing particles, grid rebuilds and which pairs
// the passes see.

#include <gtest/gtest.h>

#include <cmath>
#include <limits>

#include "sph/sph.h"
#include "tests/sph/support.h"

namespace {

TEST(World, StartsEmptyWithAn84By63Grid) {
    TSPH world;
    EXPECT_EQ(world.GridWidth, 84);
    EXPECT_EQ(world.GridHeight, 63);
    EXPECT_EQ(world.FluidGrid.Width(), 84);
    EXPECT_EQ(world.BoundaryGrid.Height(), 63);
    EXPECT_EQ(world.ParticleTex, 0);
    EXPECT_EQ(world.NiceRender, 0);
    EXPECT_TRUE(world.Particles.empty());
    EXPECT_TRUE(world.BoundaryParticles.empty());
    world.Update();  // an empty world only rebuilds its empty grids
    EXPECT_TRUE(world.Particles.empty());
}

TEST(World, AddConvertsScreenPixelsToWorldUnits) {
    TSPH world;
    world.AddParticle(800.0f, 600.0f);
    world.AddBoundaryParticle(250.0f, 125.0f);
    EXPECT_EQ(world.Particles[0]->PositionX, 320.0f);
    EXPECT_EQ(world.Particles[0]->PositionY, 240.0f);
    EXPECT_EQ(world.Particles[0]->ScreenX, 800.0f);
    EXPECT_EQ(world.BoundaryParticles[0]->PositionX, 100.0f);
    EXPECT_EQ(world.BoundaryParticles[0]->PositionY, 50.0f);
    // Each product is rounded to single precision in turn.
    const float x = 123.456f;
    EXPECT_EQ((world.AddParticle(x, 0.0f), world.Particles.back()->PositionX),
              static_cast<float>(static_cast<float>(x * TSPH::UNIT_SCALE) * TSPH::INV_WORLD_SCALE));
}

TEST(World, RedistributeBinsCornersAndKeepsReverseArrayOrder) {
    TSPH world;
    TParticle& far = PlaceFluid(world, 320.0f, 240.0f);
    TParticle& origin = PlaceFluid(world, 0.0f, 0.0f);
    TParticle& a = PlaceFluid(world, 10.0f, 10.0f);
    TParticle& b = PlaceFluid(world, 10.5f, 10.5f);
    TParticle& c = PlaceFluid(world, 11.0f, 11.0f);
    TParticle& wall = PlaceBoundary(world, 10.0f, 10.0f);
    world.RedistributeGrid();
    EXPECT_EQ(world.FluidGrid(83, 62), &far);
    EXPECT_EQ(world.FluidGrid(0, 0), &origin);
    // Cell (2, 2) runs from the latest particle of the array to the earliest.
    EXPECT_EQ(world.FluidGrid(2, 2), &c);
    EXPECT_EQ(c.Succ, &b);
    EXPECT_EQ(b.Succ, &a);
    EXPECT_EQ(a.Succ, nullptr);
    EXPECT_EQ(world.BoundaryGrid(2, 2), &wall);
    EXPECT_EQ(world.FluidGrid(1, 1), nullptr);
}

TEST(World, RebuildsFollowBoundaryParticlesThatWereMovedOrReplaced) {
    // Unchanged boundary particles are relinked as they were; one whose
    // position was changed in place, or a replaced one, is binned afresh.
    TSPH world;
    TParticle& wall = PlaceBoundary(world, 10.0f, 10.0f);
    TParticle& other = PlaceBoundary(world, 10.5f, 10.5f);
    TParticle& fluid = PlaceFluid(world, 100.0f, 100.0f);
    world.Update();
    world.Update();
    EXPECT_EQ(world.BoundaryGrid(2, 2), &other);
    EXPECT_EQ(other.Succ, &wall);
    EXPECT_EQ(wall.Succ, nullptr);
    wall.PositionX = 101.0f;  // next to the fluid particle, cell (26, 25)
    wall.PositionY = 100.0f;
    world.RedistributeGrid();
    EXPECT_EQ(world.BoundaryGrid(2, 2), &other);
    EXPECT_EQ(other.Succ, nullptr);
    EXPECT_EQ(world.BoundaryGrid(26, 25), &wall);
    world.CalcForces();
    EXPECT_LT(fluid.ForceX, 0.0f);  // pushed away from the moved wall particle
    world.BoundaryParticles[1] = TParticle::Create(200.0f, 200.0f);
    world.RedistributeGrid();
    EXPECT_EQ(world.BoundaryGrid(2, 2), nullptr);
    EXPECT_EQ(world.BoundaryGrid(51, 51), world.BoundaryParticles[1].get());
    EXPECT_EQ(world.BoundaryGrid(26, 25), &wall);
}

TEST(World, PositionsOutsideTheContainerAreBinnedIntoTheEdgeCells) {
    TSPH world;
    TParticle& left = PlaceFluid(world, -50.0f, 1000.0f);
    TParticle& right = PlaceFluid(world, 1.0e9f, -3.0f);
    TParticle& nan = PlaceFluid(world, std::numeric_limits<float>::quiet_NaN(), 5.0f);
    world.AddBoundaryParticle(-4000.0f, 9000.0f);
    world.RedistributeGrid();
    EXPECT_EQ(world.FluidGrid(0, 62), &left);
    EXPECT_EQ(world.FluidGrid(83, 0), &right);
    EXPECT_EQ(world.FluidGrid(0, 1), &nan);
    EXPECT_EQ(world.BoundaryGrid(0, 62), world.BoundaryParticles[0].get());
    // The passes run on such a world without touching memory outside the
    // grid (the sanitizer build watches), and the clamp pulls the particles
    // towards the container at the speed limit.
    world.Update();
    EXPECT_GT(left.VelocityX, 0.0f);
    EXPECT_LT(left.VelocityY, 0.0f);
    EXPECT_NEAR(std::hypot(left.VelocityX, left.VelocityY), 2.0f, 1e-6f);
    world.Update();
    EXPECT_EQ(world.FluidGrid(0, 62), &left);
}

TEST(World, FreeRectRemovesEveryParticleInTheClosedRectangle) {
    ParticleCount = 0;
    TSPH world;
    for (float x : {10.0f, 20.0f, 30.0f, 40.0f, 50.0f}) world.AddParticle(x, 100.0f);
    world.AddBoundaryParticle(30.0f, 100.0f);
    world.AddBoundaryParticle(60.0f, 100.0f);
    world.AddParticle(std::numeric_limits<float>::quiet_NaN(), 100.0f);
    ASSERT_EQ(ParticleCount, 8);
    // Three consecutive fluid particles, two of them exactly on the edges.
    world.FreeRect(20.0f, 100.0f, 40.0f, 100.0f);
    ASSERT_EQ(world.Particles.size(), 3u);
    EXPECT_EQ(world.Particles[0]->ScreenX, 10.0f);
    EXPECT_EQ(world.Particles[1]->ScreenX, 50.0f);
    EXPECT_TRUE(std::isnan(world.Particles[2]->ScreenX));  // never removed
    ASSERT_EQ(world.BoundaryParticles.size(), 1u);
    EXPECT_EQ(world.BoundaryParticles[0]->ScreenX, 60.0f);
    EXPECT_EQ(ParticleCount, 4);
    // An empty rectangle removes nothing.
    world.FreeRect(60.0f, 0.0f, 0.0f, 600.0f);
    EXPECT_EQ(world.Particles.size(), 3u);
    // IDs are handed out again from the lowered count.
    world.AddParticle(5.0f, 5.0f);
    EXPECT_EQ(world.Particles.back()->ID, 4);
}

TEST(World, ParticlesRemovedBetweenStepsStayValidUntilTheNextRebuild) {
    TSPH world;
    for (int i = 0; i < 20; ++i) world.AddParticle(100.0f + 3.0f * i, 100.0f);
    world.Update();
    std::weak_ptr<TParticle> gone = world.Particles[5];
    world.FreeRect(110.0f, 90.0f, 120.0f, 110.0f);
    EXPECT_FALSE(gone.expired());  // still linked by the grid
    world.Update();
    EXPECT_TRUE(gone.expired());
}

// The pair window and the pair rule, seen through the density pass: a pair
// that is handled moves both densities when the particles approach.
float DensityChangeOfPair(float separation, bool equalIds) {
    TSPH world;
    TParticle& a = PlaceFluid(world, 100.0f, 100.0f);
    TParticle& b = PlaceFluid(world, 100.0f + separation, 100.0f);
    if (equalIds) b.ID = a.ID;
    b.VelocityX = -0.5f;
    world.RedistributeGrid();
    world.UpdateDensity();
    return a.DeltaDensity;
}

TEST(World, PairsAreHandledOnlyInsideTheWindowAndForDistinctIds) {
    EXPECT_EQ(DensityChangeOfPair(0.3f, false), 0.0f);      // r^2 = 0.09
    EXPECT_NE(DensityChangeOfPair(0.31625f, false), 0.0f);  // r^2 just above 0.1
    EXPECT_NE(DensityChangeOfPair(3.849f, false), 0.0f);
    EXPECT_EQ(DensityChangeOfPair(3.8501f, false), 0.0f);  // r^2 > SMOOTHING_LENGTH_SQ
    EXPECT_EQ(DensityChangeOfPair(2.0f, true), 0.0f);
}

TEST(World, NeighboursAreFoundAcrossCellsAndAtTheGridEdges) {
    // Pairs straddling a cell border, at the left and the right edge.
    for (float x : {0.5f, 7.5f, 319.5f}) {
        TSPH world;
        TParticle& a = PlaceFluid(world, x, 120.0f);
        TParticle& b = PlaceFluid(world, x + (x > 300.0f ? -2.0f : 2.0f), 121.0f);
        b.VelocityX = x > 300.0f ? 0.5f : -0.5f;
        world.RedistributeGrid();
        world.UpdateDensity();
        EXPECT_LT(a.DeltaDensity, 0.0f) << x;
        EXPECT_EQ(a.DeltaDensity, b.DeltaDensity) << x;
    }
}

}  // namespace
