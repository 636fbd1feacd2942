// The smooth-mode field against the literal sampling, bit for bit: the
// initial scene with clicks over hundreds of steps, and hand-made worlds that
// probe the kernel's edge and particles the grid holds where they are not.

#include <gtest/gtest.h>

#include <cmath>
#include <cstring>
#include <limits>
#include <map>

#include "render/smooth_fields.h"
#include "tests/render/reference_render.h"
#include "tests/render/support.h"
#include "tests/sph/support.h"

namespace {

// Index of the first sample where the fields differ in any bit, or -1.
long FirstDifference(const TSmoothFields& a, const TSmoothFields& b) {
    for (std::size_t k = 0; k < TSmoothFields::SIZE; ++k) {
        if (std::memcmp(&a.Density[k], &b.Density[k], sizeof(float)) != 0 ||
            std::memcmp(&a.White[k], &b.White[k], sizeof(float)) != 0 ||
            std::memcmp(&a.Alpha[k], &b.Alpha[k], sizeof(float)) != 0)
            return static_cast<long>(k);
    }
    return -1;
}

// Computes the fields on every lane set this build and processor have (the
// first call says which it skips) and the literal way; fails with the first
// differing sample.
TSmoothFields ExpectSameAsLiteral(const TSPH& world, TSmoothFieldMaker& maker) {
    TSmoothFields fast, literal;
    LiteralSmoothFields(world, literal);
    const TLaneSet best = maker.Lanes();
    for (const TLaneSet lanes : AvailableLaneSets()) {
        EXPECT_TRUE(maker.SetLanes(lanes));
        fast = maker.Compute(world);
        const long k = FirstDifference(fast, literal);
        EXPECT_EQ(k, -1) << LaneSetName(lanes) << " lanes, sample (" << k % TSmoothFields::COLUMNS << ", "
                         << k / TSmoothFields::COLUMNS << "): density " << fast.Density[k] << " vs "
                         << literal.Density[k];
    }
    maker.SetLanes(best);
    return fast;
}

std::size_t NonZeroSamples(const TSmoothFields& f) {
    std::size_t n = 0;
    for (float d : f.Density) n += d != 0.0f;
    return n;
}

TEST(SmoothFields, MatchTheLiteralSamplingOverManyStepsWithClicks) {
    auto world = InitialScene();
    TSmoothFieldMaker maker;
    // Clicks as a user makes them, corners and edges included; the clearing
    // squares cut through walls and the pool.
    const int clicks[][3] = {{1, 400, 200}, {2, 150, 300}, {1, 5, 5},    {1, 798, 598}, {2, 0, 300},
                             {1, 700, 100}, {2, 400, 590}, {1, 200, 60}, {2, 800, 0},   {1, 400, 560}};
    int next = 0;
    for (int step = 1; step <= 300; ++step) {
        if (step % 25 == 0 && next < 10) {
            const int* c = clicks[next++];
            Click(*world, c[0], c[1], c[2]);
        }
        world->Update();
        if (step % 3 == 0 || step > 280) {
            const TSmoothFields f = ExpectSameAsLiteral(*world, maker);
            ASSERT_GT(NonZeroSamples(f), 5000u) << "step " << step;
            if (HasFailure()) return;
        }
    }
}

// The renderer walks the grid's lists after Update: every fluid particle sits
// in exactly one list, in the cell it was binned in, lists running from the
// latest particle of the array to the earliest.
TEST(SmoothFields, GridListsAfterUpdateHoldEveryFluidParticleOnce) {
    auto world = InitialScene();
    for (int step = 0; step < 5; ++step) world->Update();
    std::map<const TParticle*, std::size_t> index;
    for (std::size_t k = 0; k < world->Particles.size(); ++k) index[world->Particles[k].get()] = k;
    std::size_t seen = 0;
    for (int x = 0; x < world->GridWidth; ++x) {
        for (int y = 0; y < world->GridHeight; ++y) {
            std::size_t previous = world->Particles.size();
            for (const TParticle* p = world->FluidGrid(x, y); p != nullptr; p = p->Succ) {
                ASSERT_EQ(index.count(p), 1u) << "a list holds a particle that is not a fluid particle";
                ASSERT_LT(index[p], previous) << "cell (" << x << ", " << y << ")";
                previous = index[p];
                // Binned where it was before this step's integration moved it.
                EXPECT_EQ(static_cast<int>(static_cast<double>(p->OldX) * TSPH::INV_SMOOTHING_LENGTH), x);
                EXPECT_EQ(static_cast<int>(static_cast<double>(p->OldY) * TSPH::INV_SMOOTHING_LENGTH), y);
                ++seen;
            }
        }
    }
    EXPECT_EQ(seen, world->Particles.size());
}

TEST(SmoothFields, EmptyWorldIsWhiteAndTransparentEverywhere) {
    TSPH world;
    world.Update();
    TSmoothFieldMaker maker;
    const TSmoothFields f = ExpectSameAsLiteral(world, maker);
    for (std::size_t k = 0; k < TSmoothFields::SIZE; ++k) {
        ASSERT_EQ(f.Density[k], 0.0f);
        ASSERT_EQ(f.White[k], TSPH::MAX_WHITE);
        ASSERT_EQ(f.Alpha[k], 0.0f);
    }
}

TEST(SmoothFields, ParticleAtExactlyTheKernelRadiusAddsNothing) {
    // Find a point whose distance from sample (0, 0), squared in double as the
    // sampling takes it, is exactly SMOOTHING_LENGTH_SQ: x just inside the
    // radius on the axis, y made up for the rest, x one float step closer at a time.
    const double radiusSq = TSPH::SMOOTHING_LENGTH_SQ;
    float x = std::nextafter(static_cast<float>(std::sqrt(radiusSq)), 0.0f), y = 0.0f;
    for (int tries = 0; tries < 200000; ++tries, x = std::nextafter(x, 0.0f)) {
        const float guess = static_cast<float>(std::sqrt(radiusSq - static_cast<double>(x) * x));
        for (float c : {std::nextafter(guess, 0.0f), guess, std::nextafter(guess, 1.0f)})
            if (y == 0.0f && static_cast<double>(x) * x + static_cast<double>(c) * c == radiusSq) y = c;
        if (y != 0.0f) break;
    }
    ASSERT_GT(y, 0.0f);

    TSmoothFieldMaker maker;
    TSPH atRadius;
    atRadius.Particles.push_back(TParticle::Create(x, y));
    atRadius.RedistributeGrid();
    const TSmoothFields edge = ExpectSameAsLiteral(atRadius, maker);
    EXPECT_EQ(edge.Density[TSmoothFields::Index(0, 0)], 0.0f);
    EXPECT_EQ(edge.Alpha[TSmoothFields::Index(0, 0)], 0.0f);
    // Its neighbour sample (1, 0) is well inside.
    EXPECT_GT(edge.Density[TSmoothFields::Index(1, 0)], 0.0f);

    // One float step closer, it counts.
    TSPH inside;
    inside.Particles.push_back(TParticle::Create(std::nextafter(x, 0.0f), y));
    inside.RedistributeGrid();
    EXPECT_GT(ExpectSameAsLiteral(inside, maker).Density[TSmoothFields::Index(0, 0)], 0.0f);
}

TEST(SmoothFields, VisitParticlesByTheirCellListsNotTheirPositions) {
    TSPH world;
    const float nan = std::numeric_limits<float>::quiet_NaN();
    const float inf = std::numeric_limits<float>::infinity();
    // Outside the container: the grid clamps each into an edge cell, and the
    // samples around that cell reach the ones close enough.
    const float outside[][2] = {{-1.0f, 100.0f}, {322.0f, 100.5f}, {150.0f, 240.7f}, {160.0f, -2.0f},
                                {-1.5f, -1.5f},  {321.0f, 241.0f}, {330.0f, 50.0f},  {-30.0f, 30.0f},
                                {nan, 10.0f},    {10.0f, inf},     {1e30f, -1e30f},  {320.0f, 240.0f}};
    for (const auto& p : outside) world.Particles.push_back(TParticle::Create(p[0], p[1]));
    // A clump inside, where several particles share cells and samples.
    for (int k = 0; k < 40; ++k)
        world.Particles.push_back(TParticle::Create(100.0f + 0.9f * (k % 7), 80.0f + 1.3f * (k / 7)));
    world.RedistributeGrid();
    TSmoothFieldMaker maker;
    const TSmoothFields binned = ExpectSameAsLiteral(world, maker);
    // The clamped particles near the edges do reach samples.
    EXPECT_GT(binned.Density[TSmoothFields::Index(0, 83)], 0.0f);     // (-1, 100)
    EXPECT_GT(binned.Density[TSmoothFields::Index(267, 84)], 0.0f);   // (322, 100.5)
    EXPECT_GT(binned.Density[TSmoothFields::Index(125, 199)], 0.0f);  // (150, 240.7)

    // Moved after binning, as the integration step does: the lists still
    // say where they were, so the samples around the old cells see them.
    for (std::size_t k = 12; k < world.Particles.size(); k += 3) {
        world.Particles[k]->PositionX += 4.5f;
        world.Particles[k]->PositionY -= 2.0f;
    }
    ExpectSameAsLiteral(world, maker);
    // Removed after binning: still linked until the next rebuild, and still summed.
    world.FreeRect(240.0f, 190.0f, 270.0f, 240.0f);
    ExpectSameAsLiteral(world, maker);
}

TEST(SmoothFields, ShadingFollowsTheWhiteLimit) {
    const float kNone = -1.0f;  // alpha compared to a hair instead
    const struct {
        float density, white, alpha;
    } table[] = {
        {0.1f, TSPH::MAX_WHITE, kNone}, {0.5f, 0.5f, 1.0f},
        {0.2f, TSPH::MAX_WHITE, 0.4f},                        // 1 - 0.2 rounds to exactly MAX_WHITE: no scaling
        {0.0f, TSPH::MAX_WHITE, 0.0f},  {1.5f, -0.5f, 3.0f},  // beyond 1: passed on for the GL to clamp
    };
    for (const auto& t : table) {
        float white = 0.0f, alpha = 0.0f;
        ShadeSmoothSample(t.density, white, alpha);
        EXPECT_EQ(white, t.white) << t.density;
        if (t.alpha == kNone)
            EXPECT_NEAR(alpha, 0.2 * 0.8 / 0.9, 1e-7);
        else
            EXPECT_EQ(alpha, t.alpha) << t.density;
    }
}

}  // namespace
