#pragma once
// Small helpers shared by the simulation suites.

#include <cstdio>
#include <memory>
#include <vector>

#include "sph/lane_set.h"
#include "sph/sph.h"

// Every lane set this build and processor have, the plain one last; the
// first call says which sets it skips and why.
inline std::vector<TLaneSet> AvailableLaneSets() {
    static const std::vector<TLaneSet> sets = [] {
        std::vector<TLaneSet> have;
        for (TLaneSet set : {TLaneSet::Avx512, TLaneSet::Avx2, TLaneSet::Simd128, TLaneSet::Plain}) {
            if (LaneSetAvailable(set))
                have.push_back(set);
            else
                std::printf("[ SKIPPED  ] lane set %s: not in this build or on this processor\n", LaneSetName(set));
        }
        return have;
    }();
    return sets;
}

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
