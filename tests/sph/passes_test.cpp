// The density pass, the force pass and the integration step on small
// hand-made worlds with known results.

#include <gtest/gtest.h>

#include <cmath>
#include <limits>
#include <vector>

#include "sph/sph.h"
#include "sph/step_data.h"
#include "tests/sph/support.h"

namespace {

// ---- Density pass ---------------------------------------------------------

TEST(Density, ALoneParticleKeepsItsDensity) {
    TSPH world;
    TParticle& p = PlaceFluid(world, 100.0f, 100.0f);
    world.RedistributeGrid();
    world.UpdateDensity();
    EXPECT_EQ(p.Density, 0.349999994f);
    EXPECT_EQ(p.Mass, 1.46683693f);
    EXPECT_EQ(p.Pressure, 0.0f);
    EXPECT_EQ(p.SoundSpeed, 0.0f);
    EXPECT_EQ(p.InvDensity, 1.0f / 0.349999994f);
}

TEST(Density, WorkedPairOfApproachingParticles) {
    ParticleCount = 0;
    TSPH world;
    TParticle& rest = PlaceFluid(world, 100.0f, 100.0f);
    TParticle& moving = PlaceFluid(world, 102.0f, 100.0f);
    moving.VelocityX = -0.1f;
    world.RedistributeGrid();
    world.UpdateDensity();
    for (TParticle* p : {&rest, &moving}) {
        EXPECT_EQ(p->DeltaDensity, -17.1805458f);
        EXPECT_EQ(p->Density, 0.350869f);
        EXPECT_EQ(p->InvDensity, 2.85006666f);
        EXPECT_EQ(p->InvDensitySq, 8.12287998f);
        EXPECT_EQ(p->Mass, 1.47047889f);
        EXPECT_EQ(p->Pressure, 0.030964531f);
        EXPECT_EQ(p->SoundSpeed, 0.297070652f);
    }
}

TEST(Density, EqualVelocitiesChangeNothing) {
    TSPH world;
    TParticle& a = PlaceFluid(world, 100.0f, 100.0f);
    TParticle& b = PlaceFluid(world, 101.0f, 101.0f);
    a.VelocityX = b.VelocityX = 0.7f;
    a.VelocityY = b.VelocityY = -0.2f;
    world.RedistributeGrid();
    world.UpdateDensity();
    EXPECT_EQ(a.Density, 0.349999994f);
    EXPECT_EQ(b.Density, 0.349999994f);
}

// Density after one pass of a lone particle whose accumulator was preset.
TParticle DensityAfter(float density) {
    TSPH world;
    TParticle& p = PlaceFluid(world, 50.0f, 50.0f);
    p.Density = density;
    world.RedistributeGrid();
    world.UpdateDensity();
    return p;
}

TEST(Density, TheGuardResetsOutOfRangeDensitiesButKeepsTheBounds) {
    EXPECT_EQ(DensityAfter(0.2999f).Density, 0.38499999f);
    EXPECT_EQ(DensityAfter(0.4001f).Density, 0.38499999f);
    EXPECT_EQ(DensityAfter(0.41f).Density, 0.38499999f);  // a reset, not a clamp
    EXPECT_EQ(DensityAfter(std::numeric_limits<float>::quiet_NaN()).Density, 0.38499999f);

    const TParticle reset = DensityAfter(1.0f);
    EXPECT_EQ(reset.InvDensity, 2.59740257f);
    EXPECT_EQ(reset.Mass, 1.61352062f);
    EXPECT_EQ(reset.Pressure, 1.84089041f);
    EXPECT_EQ(reset.SoundSpeed, 2.18667173f);

    const TParticle low = DensityAfter(0.3f);
    EXPECT_EQ(low.Density, 0.3f);
    EXPECT_EQ(low.Pressure, -0.998045802f);
    EXPECT_EQ(low.SoundSpeed, 1.82395709f);

    const TParticle high = DensityAfter(0.4f);
    EXPECT_EQ(high.Density, 0.4f);
    EXPECT_EQ(high.Pressure, 3.11774445f);
    EXPECT_EQ(high.SoundSpeed, 2.79183841f);
}

TEST(Density, CoincidentParticlesDoNotDivideByZero) {
    TSPH world;
    TParticle& a = PlaceFluid(world, 30.0f, 30.0f);
    TParticle& b = PlaceFluid(world, 30.0f, 30.0f);
    b.VelocityX = 1.0f;
    world.RedistributeGrid();
    world.UpdateDensity();
    EXPECT_EQ(a.DeltaDensity, 0.0f);
    EXPECT_EQ(b.Density, 0.349999994f);
}

// ---- Force pass -----------------------------------------------------------

TEST(Forces, ALoneParticleFeelsOnlyGravity) {
    TSPH world;
    TParticle& p = PlaceFluid(world, 100.0f, 100.0f);
    p.DeltaDensity = 5.0f;  // cleared by the pass
    world.RedistributeGrid();
    world.CalcForces();
    EXPECT_EQ(p.ForceX, 0.0f);
    EXPECT_EQ(p.ForceY, 0.0171499997f);
    EXPECT_EQ(p.DeltaVelocityX, 0.0f);
    EXPECT_EQ(p.DeltaVelocityY, 0.0f);
    EXPECT_EQ(p.DeltaDensity, 0.0f);
}

// Two particles of the worked pair, 2 units apart along x, after the force pass.
struct PairResult {
    TParticle low;   // lower ID, at x = 100
    TParticle high;  // higher ID, at x = 102
};

PairResult WorkedPair(float lowVelocityX) {
    ParticleCount = 0;
    TSPH world;
    TParticle& low = PlaceFluid(world, 100.0f, 100.0f);
    TParticle& high = PlaceFluid(world, 102.0f, 100.0f);
    for (TParticle* p : {&low, &high}) {
        p->Density = 0.385f;
        p->Pressure = 1.84089041f;
        p->InvDensitySq = 6.74650002f;
        p->Mass = 1.61352062f;
    }
    low.VelocityX = lowVelocityX;
    world.RedistributeGrid();
    world.CalcForces();
    return {low, high};
}

TEST(Forces, WorkedPairPushesTheParticlesApart) {
    const PairResult r = WorkedPair(0.0f);
    const float gravityY = 0.0489999987f * 0.385f;
    EXPECT_EQ(r.high.ForceX, 0.603326976f);
    EXPECT_EQ(r.low.ForceX, -0.603326976f);
    EXPECT_EQ(r.high.ForceY, gravityY);
    EXPECT_EQ(r.high.DeltaVelocityX, 0.0f);  // equal velocities: no XSPH
}

TEST(Forces, AParticleMovedAfterTheDensityPassIsSeenWhereItIsNow) {
    // The force pass must not reuse what the density pass measured at the
    // old place: the worked pair's push, on every lane set.
    for (const TLaneSet lanes : AvailableLaneSets()) {
        ParticleCount = 0;
        TSPH world;
        StepDataOf(world).lanes = lanes;
        TParticle& low = PlaceFluid(world, 100.0f, 100.0f);
        TParticle& high = PlaceFluid(world, 101.0f, 100.0f);
        world.RedistributeGrid();
        world.UpdateDensity();
        high.PositionX = 102.0f;
        for (TParticle* p : {&low, &high}) {
            p->Density = 0.385f;
            p->Pressure = 1.84089041f;
            p->InvDensitySq = 6.74650002f;
            p->Mass = 1.61352062f;
            p->SoundSpeed = 0.0f;
            p->VelocityX = p->VelocityY = 0.0f;
        }
        world.CalcForces();
        EXPECT_EQ(high.ForceX, 0.603326976f) << LaneSetName(lanes);
        EXPECT_EQ(low.ForceX, -0.603326976f) << LaneSetName(lanes);
    }
}

TEST(Forces, ApproachingParticlesGetViscosityAndXsph) {
    const PairResult r = WorkedPair(0.1f);  // the lower one moves towards the other
    EXPECT_EQ(r.high.DeltaVelocityX, 0.00223924057f);
    EXPECT_EQ(r.low.DeltaVelocityX, -0.00223924057f);
    EXPECT_GT(r.high.ForceX, 0.603326976f);  // viscosity adds to the push
    EXPECT_EQ(r.low.ForceX, -r.high.ForceX);
    // Receding: the same XSPH magnitude, no viscosity.
    const PairResult away = WorkedPair(-0.1f);
    EXPECT_EQ(away.high.ForceX, 0.603326976f);
    EXPECT_EQ(away.high.DeltaVelocityX, -0.00223924057f);
}

TEST(Forces, PairsAtRestAtTheRestDensityExertNothing) {
    TSPH world;
    TParticle& a = PlaceFluid(world, 100.0f, 100.0f);
    TParticle& b = PlaceFluid(world, 101.5f, 100.5f);
    world.Update();
    EXPECT_EQ(a.ForceX, 0.0f);
    EXPECT_EQ(b.ForceX, 0.0f);
    EXPECT_EQ(a.DeltaVelocityY, 0.0f);
}

// ForceX of a fluid particle at rest 'distance' units right of a boundary particle.
float BoundaryPush(float distance) {
    TSPH world;
    TParticle& p = PlaceFluid(world, 100.0f + distance, 100.0f);
    PlaceBoundary(world, 100.0f, 100.0f);
    world.RedistributeGrid();
    world.CalcForces();
    return p.ForceX;
}

TEST(Forces, BoundaryParticlesRepelOnlyWithinTheirRange) {
    EXPECT_FLOAT_EQ(BoundaryPush(1.0f), 7.519048f);
    EXPECT_FLOAT_EQ(BoundaryPush(1.5f), 0.6271997f);
    EXPECT_FLOAT_EQ(BoundaryPush(2.0f), 0.02825152f);
    EXPECT_EQ(BoundaryPush(3.0f), 0.0f);
    {
        // Exactly REPULSIVE_DISTANCE apart (2.1f and 4.2f are both exact).
        TSPH world;
        TParticle& p = PlaceFluid(world, 2.1f, 100.0f);
        PlaceBoundary(world, 4.2f, 100.0f);
        world.RedistributeGrid();
        world.CalcForces();
        EXPECT_EQ(p.ForceX, 0.0f);
    }
    // Exactly on the boundary particle: skipped, nothing undefined.
    EXPECT_EQ(BoundaryPush(0.0f), 0.0f);
}

// Force of a lone particle at rest at the rest density at (x, y).
TParticle WallForce(float x, float y) {
    TSPH world;
    TParticle& p = PlaceFluid(world, x, y);
    world.RedistributeGrid();
    world.CalcForces();
    return p;
}

TEST(Forces, ContainerWallsPushInwards) {
    const float d = 0.349999994f;
    const float g = WallForce(100.0f, 100.0f).ForceY;
    EXPECT_EQ(WallForce(0.0f, 100.0f).ForceX, d);
    EXPECT_FLOAT_EQ(WallForce(0.525f, 100.0f).ForceX, 0.5f * d);
    EXPECT_FLOAT_EQ(WallForce(1.05f, 100.0f).ForceX, 0.2928932f * d);
    EXPECT_EQ(WallForce(2.1f, 100.0f).ForceX, 0.0f);
    EXPECT_EQ(WallForce(320.0f, 100.0f).ForceX, -d);
    EXPECT_NEAR(WallForce(320.0f - 1.05f, 100.0f).ForceX, -0.2928932f * d, 1e-5f);  // 318.95 is not exact
    EXPECT_FLOAT_EQ(WallForce(100.0f, 0.0f).ForceY, g + d);
    EXPECT_FLOAT_EQ(WallForce(100.0f, 240.0f).ForceY, g - d);
    // A corner gets both pushes.
    const TParticle corner = WallForce(0.0f, 240.0f);
    EXPECT_EQ(corner.ForceX, d);
    EXPECT_FLOAT_EQ(corner.ForceY, g - d);
}

TEST(Forces, EveryPairChangesBothForcesByOppositeAmounts) {
    // A moving, compressed pair: its pressure, viscosity and XSPH terms land
    // on the two particles with opposite signs.
    TSPH world;
    TParticle& a = PlaceFluid(world, 100.0f, 100.0f);
    TParticle& b = PlaceFluid(world, 103.0f, 101.0f);
    a.Density = b.Density = 0.39f;
    a.Pressure = b.Pressure = 2.5f;
    a.InvDensitySq = b.InvDensitySq = 6.5746222f;
    a.Mass = 1.6f;
    b.Mass = 1.4f;
    a.SoundSpeed = b.SoundSpeed = 2.3f;
    a.VelocityX = 0.3f;
    b.VelocityY = -0.2f;
    world.RedistributeGrid();
    world.CalcForces();
    EXPECT_NE(a.ForceX, 0.0f);
    EXPECT_EQ(a.ForceX, -b.ForceX);
    EXPECT_EQ(a.DeltaVelocityX, -b.DeltaVelocityX);
}

// ---- Integration ----------------------------------------------------------

TEST(Integrate, ALoneParticleFallsUnderGravity) {
    TSPH world;
    TParticle& p = PlaceFluid(world, 100.0f, 100.0f);
    world.Update();
    EXPECT_EQ(p.PositionX, 100.0f);
    EXPECT_EQ(p.VelocityX, 0.0f);
    // A displacement of 0.00274400015 (velocity 0.00686000055), stored at
    // the particle's height.
    EXPECT_EQ(static_cast<float>(static_cast<double>(TSPH::TIMESTEP_SQ) * p.ForceY), 0.00274400015f);
    EXPECT_EQ(static_cast<float>(0.00274400015f * 2.5), 0.00686000055f);
    EXPECT_EQ(p.PositionY, static_cast<float>(100.0 + 0.00274400015));
    EXPECT_EQ(p.VelocityY, static_cast<float>((static_cast<double>(p.PositionY) - 100.0) * 2.5));
    EXPECT_EQ(p.OldY, 100.0f);
    EXPECT_EQ(p.ScreenY, static_cast<float>(static_cast<double>(p.PositionY) * 2.5));
}

// A particle at x whose XSPH displacement alone moves it by dx this step.
TParticle Step(float x, float dvx, float y = 100.0f) {
    TSPH world;
    TParticle& p = PlaceFluid(world, x, y);
    p.DeltaVelocityX = dvx;
    world.Integrate();
    return p;
}

TEST(Integrate, TheContainerClampsAndTheSpeedCapLimitsTheStep) {
    const TParticle clamped = Step(319.5f, 13.75f);  // to 325
    EXPECT_EQ(clamped.PositionX, 320.0f);
    EXPECT_EQ(clamped.VelocityX, 1.25f);
    EXPECT_EQ(clamped.OldX, 319.5f);

    const TParticle capped = Step(318.0f, 17.5f);  // to 325, clamped to 320: speed 5
    EXPECT_EQ(capped.PositionX, 318.799988f);
    EXPECT_EQ(capped.VelocityX, 2.0f);
    EXPECT_EQ(capped.OldX, 318.0f);

    const TParticle fast = Step(100.0f, 2.5f);  // +1.0: speed 2.5
    EXPECT_EQ(fast.PositionX, 100.800003f);
    EXPECT_EQ(fast.VelocityX, 2.0f);
    EXPECT_EQ(fast.ScreenX, static_cast<float>(static_cast<double>(100.800003f) * 2.5));

    const TParticle limit = Step(100.0f, 2.0f);  // +0.8: speed exactly 2
    EXPECT_EQ(limit.VelocityX, 2.0f);
    EXPECT_EQ(limit.PositionX, 100.800003f);

    const TParticle left = Step(0.5f, -2.5f);  // to -0.5, clamped to 0
    EXPECT_EQ(left.PositionX, 0.0f);
    EXPECT_EQ(left.VelocityX, -1.25f);
}

TEST(Integrate, ANanCoordinateGoesToTheFarEdgeAndIsCapped) {
    TSPH world;
    TParticle& p = PlaceFluid(world, 200.0f, 100.0f);
    p.ForceX = std::numeric_limits<float>::quiet_NaN();
    world.Integrate();
    EXPECT_EQ(p.PositionX, 200.800003f);  // towards 320, at the speed limit
    EXPECT_EQ(p.VelocityX, 2.0f);
    EXPECT_EQ(p.PositionY, 100.0f);
}

TEST(Integrate, BoundaryParticlesNeverMove) {
    TSPH world;
    TParticle& wall = PlaceBoundary(world, 10.0f, 230.0f);
    PlaceFluid(world, 10.5f, 230.0f);
    for (int i = 0; i < 20; ++i) world.Update();
    EXPECT_EQ(wall.PositionX, 10.0f);
    EXPECT_EQ(wall.PositionY, 230.0f);
    EXPECT_EQ(wall.ScreenX, 25.0f);
    EXPECT_EQ(wall.ForceX, 0.0f);
}

}  // namespace

namespace {

// ---- Equation of state ----------------------------------------------------

TEST(Density, SeventhPowersMatchPowForEveryDensityTheGuardLetsThrough) {
    // Every single-precision density in [0.3, 0.4], on every lane set.
    std::vector<float> densities;
    for (float d = 0.3f; d <= 0.4f; d = std::nextafter(d, 1.0f)) densities.push_back(d);
    densities.push_back(0.349999994f);  // x = 1 exactly
    std::vector<double> powers(densities.size());
    std::vector<std::int32_t> scratch;
    for (const TLaneSet lanes : AvailableLaneSets()) {
        SeventhPowers(densities.data(), powers.data(), densities.size(), scratch, lanes);
        std::size_t wrong = 0;
        for (std::size_t i = 0; i < densities.size(); ++i)
            wrong += powers[i] != std::pow(static_cast<double>(densities[i]) / TSPH::REST_DENSITY, 7.0);
        EXPECT_EQ(wrong, 0u) << LaneSetName(lanes);
    }
    EXPECT_EQ(densities.size(), 3355444u + 1u);
}

}  // namespace
