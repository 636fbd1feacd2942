// The particle record, its numbering and the world's constant table.

#include <gtest/gtest.h>

#include <cmath>

#include "sph/sph.h"

namespace {

using C = TSPHConstants;

TEST(Constants, DerivedValuesFollowFromTheirInputsInSinglePrecision) {
    EXPECT_EQ(C::TIMESTEP_SQ, C::TIMESTEP * C::TIMESTEP);
    EXPECT_EQ(C::INV_TIMESTEP, 1.0f / C::TIMESTEP);
    EXPECT_EQ(C::INV_UNIT_SCALE, 1.0f / C::UNIT_SCALE);
    EXPECT_EQ(C::INV_WORLD_SCALE, 1.0f / C::WORLD_SCALE);
    EXPECT_EQ(C::INV_REPULSIVE_DISTANCE, 1.0f / C::REPULSIVE_DISTANCE);
    EXPECT_EQ(C::REPULSIVE_DIST_SQ, C::REPULSIVE_DISTANCE * C::REPULSIVE_DISTANCE);
    EXPECT_EQ(C::SMOOTHING_LENGTH_SQ, C::SMOOTHING_LENGTH * C::SMOOTHING_LENGTH);
    EXPECT_EQ(C::INV_SMOOTHING_LENGTH, 1.0f / C::SMOOTHING_LENGTH);
    EXPECT_EQ(C::INV_REST_DENSITY, 1.0f / C::REST_DENSITY);
    EXPECT_EQ(1.0f - C::DAMPING, 0.99849999f);
    // Screen to world is 0.4, world to screen 2.5.
    EXPECT_EQ(C::UNIT_SCALE * C::INV_WORLD_SCALE, 0.4f);
    EXPECT_FLOAT_EQ(C::INV_UNIT_SCALE * C::WORLD_SCALE, 2.5f);
    EXPECT_EQ(C::REST_DENSITY * C::PARTICLE_AREA, 1.46683693f);
}

TEST(Constants, KernelFactorsMatchTheirFormulas) {
    const double pi = 3.14159265358979323846;
    const double h = C::SMOOTHING_LENGTH;
    EXPECT_FLOAT_EQ(C::D_KERNEL_FACTOR, static_cast<float>(315.0 / (64.0 * pi * std::pow(h, 9))));
    EXPECT_FLOAT_EQ(C::P_KERNEL_FACTOR, static_cast<float>(-45.0 / (pi * std::pow(h, 6))));
    EXPECT_FLOAT_EQ(C::D_KERNEL_FACTOR_GRADIENT, static_cast<float>(-945.0 / (32.0 * pi * std::pow(h, 9))));
    EXPECT_FLOAT_EQ(C::PARTICLE_AREA, static_cast<float>(pi * (0.3 * h) * (0.3 * h)));
}

TEST(Particle, CreateNumbersParticlesAndStartsAtRest) {
    ParticleCount = 0;
    auto a = TParticle::Create(10.0f, 20.0f);
    auto b = TParticle::Create(320.0f, 240.0f);
    EXPECT_EQ(a->ID, 0);
    EXPECT_EQ(b->ID, 1);
    EXPECT_EQ(ParticleCount, 2);

    EXPECT_EQ(a->PositionX, 10.0f);
    EXPECT_EQ(a->OldX, 10.0f);
    EXPECT_EQ(a->OldY, 20.0f);
    EXPECT_EQ(a->Density, 0.349999994f);
    EXPECT_EQ(a->Mass, 1.46683693f);
    for (float f : {a->VelocityX, a->VelocityY, a->ForceX, a->ForceY, a->DeltaVelocityX, a->DeltaVelocityY,
                    a->DeltaDensity, a->InvDensity, a->InvDensitySq, a->Pressure, a->SoundSpeed})
        EXPECT_EQ(f, 0.0f);
    EXPECT_EQ(a->Succ, nullptr);

    EXPECT_EQ(b->ScreenX, 800.0f);
    EXPECT_EQ(b->ScreenY, 600.0f);
}

TEST(Particle, FluidAndBoundaryShareTheCounter) {
    ParticleCount = 0;
    TSPH world;
    world.AddParticle(1.0f, 1.0f);
    world.AddBoundaryParticle(2.0f, 2.0f);
    world.AddParticle(3.0f, 3.0f);
    EXPECT_EQ(world.Particles[0]->ID, 0);
    EXPECT_EQ(world.BoundaryParticles[0]->ID, 1);
    EXPECT_EQ(world.Particles[1]->ID, 2);
}

}  // namespace
