#pragma once
// The scene every run starts from, and the runtime's seeded random generator.

#include <cstdint>
#include <memory>

#include "sph/sph.h"

// The random generator's state at start-up.
inline constexpr std::int32_t kInitialRandomState = 4660;

// Whole state of the random generator; starts at kInitialRandomState and is
// never reseeded (but by a reset of the scene).
extern std::int32_t RandomState;

// A double in [0, 1); advances RandomState by two steps.
double RandomUnit();

// A double between min and max (in either order).
double RandomRange(double min, double max);

// Fills an empty world with the initial scene: a liquid column between two
// short walls above a floor, and a pool along the bottom edge (2999 fluid and
// 750 boundary particles). Returns the world (a new plain one when null).
std::shared_ptr<TSPH> BuildScene(std::shared_ptr<TSPH> world);

// Fills world, which must be empty, with the initial scene.
void BuildScene(TSPH& world);

// A new plain world filled with the initial scene.
std::shared_ptr<TSPH> BuildScene();
