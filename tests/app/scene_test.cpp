// The seeded random generator and the initial scene.

#include <gtest/gtest.h>

#include <cstdint>

#include "app/scene.h"
#include "sph/sph.h"

namespace {

TEST(Random, GeneratorSequenceFromTheInitialState) {
    RandomState = 4660;
    EXPECT_NEAR(RandomUnit(), 0.418988727, 1e-9);
    EXPECT_NEAR(RandomUnit(), 0.212563117, 1e-9);
    EXPECT_NEAR(RandomUnit(), 0.694284713, 1e-9);

    // Two steps per draw: the first two states from 4660.
    RandomState = 4660;
    RandomUnit();
    EXPECT_EQ(RandomState, 539475828);
    RandomState = 4660;
    const double first = RandomUnit();
    EXPECT_EQ(first, ((224942860 & 0x1FFFFFFC) + (539475828 & 0x1FFFFFF8) / 134217728.0) / 536870912.0);
}

TEST(Random, StaysInRangeAndNeverGoesNegative) {
    RandomState = 4660;
    for (int i = 0; i < 100000; ++i) {
        const double u = RandomUnit();
        ASSERT_GE(u, 0.0);
        ASSERT_LT(u, 1.0);
        ASSERT_GT(RandomState, 0);
    }
    // The state right below the modulus wraps instead of overflowing.
    RandomState = 2147483646;
    RandomUnit();
    EXPECT_GT(RandomState, 0);
}

TEST(Random, RangeAcceptsItsBoundsInEitherOrder) {
    RandomState = 4660;
    const double a = RandomRange(-0.5, 0.5);
    RandomState = 4660;
    const double b = RandomRange(0.5, -0.5);
    EXPECT_NEAR(a, 0.418988727 - 0.5, 1e-9);
    EXPECT_NEAR(b, 0.418988727 - 0.5, 1e-9);
    RandomState = 4660;
    EXPECT_NEAR(RandomRange(10.0, 20.0), 14.18988727, 1e-7);
}

std::shared_ptr<TSPH> FreshScene() {
    RandomState = 4660;
    ParticleCount = 0;
    return BuildScene();
}

TEST(Scene, HoldsTheFourBlocksInOrder) {
    auto world = FreshScene();
    ASSERT_EQ(world->Particles.size(), 2999u);
    ASSERT_EQ(world->BoundaryParticles.size(), 750u);
    EXPECT_EQ(ParticleCount, 3749);
    EXPECT_EQ(RandomState, [] {
        RandomState = 4660;
        for (int i = 0; i < 5998; ++i) RandomUnit();
        return RandomState;
    }());

    // Liquid column IDs 0..2386, floor 2387..2674, walls 2675..3136, pool 3137..3748.
    EXPECT_EQ(world->Particles[0]->ID, 0);
    EXPECT_EQ(world->Particles[2386]->ID, 2386);
    EXPECT_EQ(world->Particles[2387]->ID, 3137);
    EXPECT_EQ(world->Particles[2998]->ID, 3748);
    EXPECT_EQ(world->BoundaryParticles[0]->ID, 2387);
    EXPECT_EQ(world->BoundaryParticles[288]->ID, 2675);
    EXPECT_EQ(world->BoundaryParticles[749]->ID, 3136);

    // The first fluid particle, jittered.
    EXPECT_EQ(world->Particles[0]->ScreenX, 99.7125626f);
    EXPECT_EQ(world->Particles[0]->ScreenY, 49.9189873f);

    // Floor: 3 rows of 96 from (50, 500) to (548.75, 510.5).
    EXPECT_EQ(world->BoundaryParticles[0]->ScreenX, 50.0f);
    EXPECT_EQ(world->BoundaryParticles[95]->ScreenX, 548.75f);
    EXPECT_FLOAT_EQ(world->BoundaryParticles[287]->ScreenY, 510.5f);
    // Walls: left particle of each pair first.
    EXPECT_EQ(world->BoundaryParticles[288]->ScreenX, 80.0f);
    EXPECT_EQ(world->BoundaryParticles[289]->ScreenX, 270.0f);
    EXPECT_EQ(world->BoundaryParticles[293]->ScreenX, 280.5f);
    EXPECT_EQ(world->BoundaryParticles[749]->ScreenY, 449.0f);

    // Pool: 4 rows of 153, the last column at x = 799 (before jitter).
    for (std::size_t i = 2387; i < 2999; ++i) {
        EXPECT_GE(world->Particles[i]->ScreenY, 579.5f);
        EXPECT_LE(world->Particles[i]->ScreenY, 596.25f);
    }
    EXPECT_NEAR(world->Particles[2387 + 152]->ScreenX, 799.0f, 0.5f);
    EXPECT_NEAR(world->Particles[2387 + 153]->ScreenX, 1.0f, 0.5f);
}

TEST(Scene, TwoBuildsAreIdenticalParticleForParticle) {
    auto a = FreshScene();
    auto b = FreshScene();
    ASSERT_EQ(a->Particles.size(), b->Particles.size());
    for (std::size_t i = 0; i < a->Particles.size(); ++i) {
        EXPECT_EQ(a->Particles[i]->PositionX, b->Particles[i]->PositionX);
        EXPECT_EQ(a->Particles[i]->PositionY, b->Particles[i]->PositionY);
        EXPECT_EQ(a->Particles[i]->ID, b->Particles[i]->ID);
    }
}

TEST(Scene, FillsAGivenWorld) {
    RandomState = 4660;
    ParticleCount = 0;
    auto world = std::make_shared<TSPH>();
    world->NiceRender = 1;
    auto filled = BuildScene(world);
    EXPECT_EQ(filled, world);
    EXPECT_EQ(filled->NiceRender, 1);
    EXPECT_EQ(filled->Particles.size(), 2999u);
    EXPECT_EQ(BuildScene(nullptr)->BoundaryParticles.size(), 750u);
}

}  // namespace
