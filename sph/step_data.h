#pragma once
// Internal to the sph library: the per-step working set of the passes.
//
// A step enumerates neighbour pairs once, in the exact order in which the
// density and force passes sum their contributions (particle in array order,
// the nine cells in their fixed order, each cell list from its head), and both
// passes walk that list. Hot per-particle values are kept in flat arrays
// indexed by "slot": slot i < F is Particles[i]; slots from F on hold
// particles that a stale grid still links although they left the array.

#include <algorithm>
#include <cstdint>
#include <cstring>
#include <memory>
#include <vector>

#include "sph/lane_set.h"
#include "sph/sph.h"
#include "sph/step_worker.h"

// One boundary push on p, applied just before p's pair with the absolute
// index At (so that it lands between the same pair terms as in a cell walk).
struct TBoundaryHit {
    std::int32_t At;
    double Gx;  // dx * G
    double Gy;  // dy * G
};

// A particle's operands of the force pass's pair terms, widened to double
// once per pass, and its position (as two floats in the last lane); one
// cache line, so that four rows transpose into four-lane vectors.
struct alignas(64) TOperandRow {
    double vx, vy;
    double pressure;  // Pressure * InvDensitySq
    double density;
    double sound;
    double kernelMass;  // -Mass * P_KERNEL_FACTOR
    double xsphMass;    // XSPH_EPSILON * Mass
    float x, y;
};

// The same for the density pass: four lanes in half a cache line.
struct alignas(32) TDensityRow {
    double vx, vy;
    double mass;
    float x, y;
};

// A pair's force term (single-precision force, widened) and XSPH products,
// as one four-lane record.
struct alignas(32) TForceTerm {
    double fx, fy, sx, sy;
};

// A particle's force and XSPH accumulators, as one four-lane record.
struct alignas(16) TForceSum {
    float fx, fy, dvx, dvy;
};

// Scratch of one unit of the pair search: the candidates of the cell being
// scanned, and the partners and boundary hits it found, in cell order.
struct TScanScratch {
    std::vector<float> candX, candY;
    std::vector<std::int32_t> candId, candSlot;
    std::vector<std::int32_t> rawQ;
    std::vector<TBoundaryHit> hits;
    // The lanes each round of the last candidate scan took.
    std::vector<int> roundMask;
};

// Fewest fluid particles for which a step hands work to its second thread;
// below it the handovers would cost more than they save.
constexpr std::size_t kThreadedMinParticles = 1024;

struct TSPHStepData {
    // The lane set of the pair search and the pair terms (every lane
    // performs the plain set's operations, so the results are the same bit
    // for bit). Starts as the widest the processor allows; tests and the
    // tools set another on one world (a set the processor lacks runs as
    // the plain one).
    TLaneSet lanes = BestLaneSet();
    // Threads of a step (1 or 2) and the second one, if any.
    int threads = 1;
    std::unique_ptr<TStepWorker> worker;

    // Snapshot of the last grid rebuild: the arrays and positions it binned.
    std::vector<TParticle*> fluidAt;
    std::vector<TParticle*> boundaryAt;
    std::vector<float> fluidX, fluidY, boundaryX, boundaryY;
    std::vector<std::int32_t> fluidId;
    std::vector<std::int32_t> fluidCell;     // padded cell index per fluid particle
    std::vector<std::int32_t> boundaryCell;  // same per boundary particle
    std::vector<std::int32_t> boundaryFlat;  // its cell's flat index in BoundaryGrid
    bool rebuilt = false;

    // Padded grid (one empty cell all round, so neighbour cells need no
    // range check); cell (x, y) is (x + 1) * paddedHeight + (y + 1).
    int paddedHeight = 0;
    int neighbourOffset[9] = {};
    // Cell contents in list order (latest in the array first).
    std::vector<std::int32_t> fluidStart, boundaryStart;
    // Fluid particles of all cells, cell by cell (16 entries of slack), and
    // each particle's place among them.
    std::vector<float> sortedX, sortedY;
    std::vector<std::int32_t> sortedId, sortedSlot;
    std::vector<std::int32_t> sortedPlace;
    std::vector<float> sortedBX, sortedBY;
    // Per padded cell: whether one of its nine cells holds boundary particles.
    std::vector<std::uint8_t> boundaryNear;
    std::int32_t maxFluidPerCell = 0;

    // Pair list of the current step.
    bool pairsReusable = false;
    std::vector<TParticle*> slotObject;
    // Each particle's pairs and boundary hits, in summing order; the
    // segments follow one another in array order (pairBegin[i + 1] is
    // pairEnd[i] for the array's particles).
    std::vector<std::int32_t> pairBegin, pairEnd, hitBegin, hitEnd;
    // Pair (p, q): both slots, used up to pairCount (the rest is slack). The
    // passes form the separation from the positions in the slots' rows,
    // which are those the pairs were built from.
    std::vector<std::int32_t> pairP, pairQ;
    std::size_t pairCount = 0;
    std::vector<TBoundaryHit> hits;
    // Count of pair lists built so far, naming the current one.
    std::uint64_t pairList = 0;
    // Each pair's distance sqrt(r^2) in single precision, as the density
    // pass found it for the list pairDistanceList names (0: none), so that
    // the force pass need not take the root again.
    std::vector<float> pairDistance;
    std::uint64_t pairDistanceList = 0;
    // Scratch of the pair search, one per unit of work (the first only, on
    // one thread); the first unit's list collects the others' partners
    // before they are put into array order.
    std::vector<TScanScratch> scan = std::vector<TScanScratch>(1);
    // Where the partners and hits of the particle at each place of the
    // cell-sorted copy end in the scan's lists (they begin where those of
    // the place before end). Kept by place, not by slot, so that the units
    // of two threads write apart.
    std::vector<std::int32_t> scanPairEnd, scanHitEnd;
    // Bounds of the units of work shared by the two threads: cells of the
    // padded grid in the pair search, particles in the pair terms; and the
    // partners each unit of the pair search found.
    std::vector<std::size_t> unitBound;
    std::vector<std::size_t> unitPairs;
    // Per unit of a shared sweep: whether its particles matched the grid.
    std::vector<std::uint8_t> unitMatches;
    // Per-slot operands of the pair terms, widened once per pass.
    std::vector<TOperandRow> rows;
    std::vector<TDensityRow> densityRows;
    // Per-pair terms, indexed like the pair list: the density pass's two
    // mass-weighted rates, the force pass's force (single precision) and
    // XSPH products.
    std::vector<double> termA, termB;
    std::vector<TForceTerm> forceTerms;
    // The density pass's new densities and their powers (Density / REST_DENSITY)^7.
    std::vector<float> newDensity;
    std::vector<double> seventhPower;
    // Lanes left to std::pow, per unit of the sweep that takes the powers.
    std::vector<std::vector<std::int32_t>> powerScratch;

    // Slot arrays.
    std::vector<float> x, y, dd;  // positions the pairs were built from; density rate
    std::vector<TForceSum> forceSums;
    std::vector<std::int32_t> cellScratch;
};

// Bitwise equality of two floats (a NaN equals the same NaN).
inline bool SameBits(float a, float b) {
    std::uint32_t ua, ub;
    std::memcpy(&ua, &a, sizeof ua);
    std::memcpy(&ub, &b, sizeof ub);
    return ua == ub;
}

// Whether the boundary array holds the same particles at the same places as
// the last rebuild binned (boundary particles do not move, so this is the
// rule).
bool BoundaryMatches(const std::vector<std::shared_ptr<TParticle>>& array, const TSPHStepData& s);

// First half of the check that the grid's cell-sorted copy still mirrors
// the world: the last rebuild binned arrays of the same sizes and the same
// boundary particles at the same places.
bool GridMayMatch(const TSPH& world, const TSPHStepData& s);

// Second half, for fluid particle i (done while the passes read it anyway).
inline bool FluidMatches(const TSPHStepData& s, std::size_t i, const TParticle& p) {
    return &p == s.fluidAt[i] && SameBits(p.PositionX, s.fluidX[i]) && SameBits(p.PositionY, s.fluidY[i]) &&
           p.ID == s.fluidId[i];
}

// Makes the step's pair list current. 'matches': both halves of the check
// held, so the cell-sorted copy is used (and a list built from it this step
// is reused); otherwise the list is built by walking the grid's own cell
// lists. Slots 0 to Particles.size() - 1 are the fluid particles either way.
void EnsurePairs(const TSPH& world, TSPHStepData& s, bool matches);

// out[i] = std::pow(double(density[i]) / REST_DENSITY, 7.0), bit for bit, for
// densities in [0.3, 0.4] (the only ones the density guard lets through;
// other values are right too, just slower): four at a time on the x86 lane
// sets and two on the WebAssembly one, where a double-double power settles
// all but the rare lanes close to a rounding tie. 'scratch' holds the indices of the lanes left to std::pow.
void SeventhPowers(const float* density, double* out, std::size_t n, std::vector<std::int32_t>& scratch,
                   TLaneSet lanes);

// The kernels of one lane set, over whole rounds of its lanes (the callers
// finish the rest on the plain set); see sph/pair_kernels.h.
struct TLaneKernels {
    std::size_t (*scanCells)(TSPHStepData& s, TScanScratch& w, std::int32_t c0, std::int32_t c1);
    std::size_t (*densityTerms)(TSPHStepData& s, std::size_t from, std::size_t to);
    std::size_t (*forceTerms)(TSPHStepData& s, std::size_t from, std::size_t to, bool haveDistance);
    void (*sumForces)(TSPHStepData& s, std::size_t i0, std::size_t i1);
    // SeventhPowers for whole groups; returns how many it did (none: null).
    std::size_t (*seventhPowers)(const float* density, double* out, std::size_t n, std::vector<std::int32_t>& slow);
};

// The kernels of a lane set; the plain ones for a set this build or
// processor does not have.
const TLaneKernels& KernelsOf(TLaneSet lanes);

// The world's per-step working set.
TSPHStepData& StepDataOf(TSPH& world);

// Whether this step hands work to the second thread.
inline bool Threaded(const TSPHStepData& s, std::size_t particles) {
    return s.worker != nullptr && particles >= kThreadedMinParticles;
}

// Fluid particles per unit of the sweeps over particles shared by two threads.
constexpr std::size_t kParticlesPerSweepUnit = 256;

// Runs sweep(u, i0, i1) over pieces [i0, i1) of [0, n) (u numbers the
// piece), shared with the worker when the step has two threads; the pieces
// must touch disjoint data, and all but the last start and end at
// multiples of 'grain'. Returns the number of pieces.
template <typename Sweep>
int ShareSweep(TSPHStepData& s, std::size_t n, Sweep sweep, std::size_t grain = 1) {
    if (!Threaded(s, n)) {
        sweep(0, std::size_t{0}, n);
        return 1;
    }
    const int units = static_cast<int>(std::min<std::size_t>(n / kParticlesPerSweepUnit + 1, TStepWorker::MAX_UNITS));
    auto bound = [&](int u) { return u == units ? n : n * u / units / grain * grain; };
    auto run = [&](int u) { sweep(u, bound(u), bound(u + 1)); };
    s.worker->Share(units, run, [](int) {});
    return units;
}

// Makes room for n slots, keeping what the first ones hold.
void ResizeSlots(TSPHStepData& s, std::size_t n);
