#pragma once
// Small helpers shared by the simulation suites.

#include <memory>

#include "sph/sph.h"

// A fluid particle placed directly at world (x, y).
inline TParticle& PlaceFluid(TSPH& world, float x, float y) {
    world.Particles.push_back(TParticle::Create(x, y));
    return *world.Particles.back();
}

// A boundary particle placed directly at world (x, y).
inline TParticle& PlaceBoundary(TSPH& world, float x, float y) {
    world.BoundaryParticles.push_back(TParticle::Create(x, y));
    return *world.BoundaryParticles.back();
}
