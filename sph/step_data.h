#pragma once
// Internal to the sph library: the per-step working set of the passes.
//
// A step enumerates neighbour pairs once, in the exact order in which the
// density and force passes sum their contributions (particle in array order,
// the nine cells in their fixed order, each cell list from its head), and both
// passes walk that list. Hot per-particle values are kept in flat arrays
// indexed by "slot": slot i < F is Particles[i]; slots from F on hold
// particles that a stale grid still links although they left the array.

#include <cstdint>
#include <vector>

#include "sph/sph.h"

// One handled fluid pair (p, q): q's slot and the single-precision
// separation p - q with its squared length.
struct TPairEntry {
    std::int32_t q;
    float dx;
    float dy;
    float r2;
};

// One boundary push on p, applied just before p's pair with the absolute
// index At (so that it lands between the same pair terms as in a cell walk).
struct TBoundaryHit {
    std::int32_t At;
    double Gx;  // dx * G
    double Gy;  // dy * G
};

struct TSPHStepData {
    // Snapshot of the last grid rebuild: the arrays and positions it binned.
    std::vector<TParticle*> fluidAt;
    std::vector<TParticle*> boundaryAt;
    std::vector<float> fluidX, fluidY, boundaryX, boundaryY;
    std::vector<std::int32_t> fluidCell;  // padded cell index per fluid particle
    bool rebuilt = false;

    // Padded grid (one empty cell all round, so neighbour cells need no
    // range check); cell (x, y) is (x + 1) * paddedHeight + (y + 1).
    int paddedHeight = 0;
    int neighbourOffset[9] = {};
    // Cell contents in list order (latest in the array first).
    std::vector<std::int32_t> fluidStart, boundaryStart;
    std::vector<float> sortedX, sortedY;
    std::vector<std::int32_t> sortedId, sortedSlot;
    std::vector<float> sortedBX, sortedBY;

    // Pair list of the current step.
    bool pairsReusable = false;
    std::vector<TParticle*> slotObject;
    std::vector<std::int32_t> pairIds;  // IDs the list was built from
    std::vector<std::int32_t> pairStart, hitStart;
    std::vector<TPairEntry> pairs;
    std::vector<TBoundaryHit> hits;

    // Slot arrays.
    std::vector<float> x, y, vx, vy, mass, dens, dd, pres, invDensSq, sound;
    std::vector<float> forceX, forceY, dvx, dvy;
    std::vector<std::int32_t> cellScratch;
};
