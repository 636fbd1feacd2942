#include "app/scene.h"

std::int32_t RandomState = kInitialRandomState;

namespace {

// One step of the minimal standard generator (48271, 2^31 - 1) by Schrage's
// decomposition, so that nothing overflows 32 bits.
void RandomStep() {
    std::int32_t s = (RandomState % 44488) * 48271 - (RandomState / 44488) * 3399;
    if (s < 0) s += 2147483647;
    RandomState = s;
}

// A lattice coordinate plus its jitter, rounded once.
float Jittered(float v, double jitter) { return static_cast<float>(static_cast<double>(v) + jitter); }

}  // namespace

double RandomUnit() {
    RandomStep();
    const std::int32_t a = RandomState & 0x1FFFFFFC;
    RandomStep();
    const std::int32_t b = RandomState & 0x1FFFFFF8;
    return (static_cast<double>(a) + static_cast<double>(b) / 134217728.0) / 536870912.0;
}

double RandomRange(double min, double max) {
    const double r = RandomUnit();
    if (max > min) return (max - min) * r + min;
    return (min - max) * r + max;
}

std::shared_ptr<TSPH> BuildScene(std::shared_ptr<TSPH> world) {
    if (!world) world = std::make_shared<TSPH>();
    BuildScene(*world);
    return world;
}

void BuildScene(TSPH& world) {
    const float fluid = TSPH::PARTICLE_SPACING;
    const float wall = TSPH::BOUNDARY_SPACING;
    // 1. Liquid column.
    for (float y = 50.0f; y <= 450.0f; y += fluid) {
        for (float x = 100.0f; x <= 260.0f; x += fluid) {
            const double jy = RandomRange(-0.5, 0.5);
            const double jx = RandomRange(-0.5, 0.5);
            world.AddParticle(Jittered(x, jx), Jittered(y, jy));
        }
    }
    // 2. Floor.
    for (float y = 500.0f; y <= 515.0f; y += wall)
        for (float x = 50.0f; x <= 550.0f; x += wall) world.AddBoundaryParticle(x, y);
    // 3. Side walls, left particle of each pair first.
    for (float y = 50.0f; y <= 450.0f; y += wall) {
        for (float d = 0.0f; d <= 15.0f; d += wall) {
            world.AddBoundaryParticle(80.0f + d, y);
            world.AddBoundaryParticle(270.0f + d, y);
        }
    }
    // 4. Pool along the bottom edge.
    for (float y = 580.0f; y <= 599.0f; y += fluid) {
        for (float x = 1.0f; x <= 799.0f; x += fluid) {
            const double jy = RandomRange(-0.5, 0.5);
            const double jx = RandomRange(-0.5, 0.5);
            world.AddParticle(Jittered(x, jx), Jittered(y, jy));
        }
    }
}

std::shared_ptr<TSPH> BuildScene() { return BuildScene(std::make_shared<TSPH>()); }
