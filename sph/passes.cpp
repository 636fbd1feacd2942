// The density and force passes. Each pass first computes every pair's
// terms (independent of one another, so they run four lanes at a time
// where the processor allows) and then sums them into the particles in
// the fixed order, particle by particle.

#include <algorithm>
#include <cmath>
#include <cstring>
#include <vector>

#include "sph/lanes.h"
#include "sph/pair_kernels.h"
#include "sph/sph.h"
#include "sph/step_data.h"

#if defined(__x86_64__) && defined(__GNUC__)
#define FK_SPH_X86 1  // the AVX2 and AVX-512 builds exist (kernels_avx2.cpp, kernels_avx512.cpp)
#endif

namespace {

using C = TSPHConstants;
using F = TSPHFormula;

// Pairs per chunk of terms: the chunk's terms stay in the first-level cache
// between being computed and being summed.
constexpr std::int32_t kChunkPairs = 1024;

// Room for the terms of every pair of the list.
void ResizeTerms(TSPHStepData& s) {
    const std::size_t n = s.pairCount + 8;
    if (s.termA.size() >= n) return;
    s.termA.resize(2 * n);
    s.termB.resize(2 * n);
    s.forceTerms.resize(2 * n);
}

// The chunk of particles from i0: whole particles, up to about 'pairs'
// pairs (one particle's pairs always lie in one chunk).
std::size_t ChunkEnd(const TSPHStepData& s, std::size_t i0, std::size_t n, std::int32_t pairs = kChunkPairs) {
    const std::int32_t first = s.pairBegin[i0];
    std::size_t i1 = i0;
    do ++i1;
    while (i1 < n && s.pairEnd[i1 - 1] - first < pairs);
    return i1;
}

const TLaneKernels kPlainKernels = {ScanCells<TPlainLanes>, DensityTerms<TPlainLanes>, ForceTerms<TPlainLanes>,
                                    SumForces<TPlainLanes>, nullptr};

// Terms of the pairs [from, to): whole rounds on the step's lanes, the rest
// one by one (so that nothing is written outside the range, which the
// other thread may be filling).
void DensityTermsOf(TSPHStepData& s, std::size_t from, std::size_t to) {
    from = KernelsOf(s.lanes).densityTerms(s, from, to);
    DensityTerms<TPlainLanes>(s, from, to);
}

void ForceTermsOf(TSPHStepData& s, std::size_t from, std::size_t to, bool haveDistance) {
    from = KernelsOf(s.lanes).forceTerms(s, from, to, haveDistance);
    ForceTerms<TPlainLanes>(s, from, to, haveDistance);
}

// The pair terms and their sums, a chunk of particles at a time, the terms
// just before they are summed. With two threads the worker computes the
// terms of chunks from the back of the list meanwhile, and the sums catch
// up with it. terms(from, to) fills the terms of pairs [from, to);
// sums(i0, i1) sums those of particles [i0, i1) in order.
template <typename Terms, typename Sums>
void TermsAndSums(TSPHStepData& s, std::size_t n, Terms terms, Sums sums) {
    ResizeTerms(s);
    auto chunkTerms = [&](std::size_t i0, std::size_t i1) {
        terms(static_cast<std::size_t>(s.pairBegin[i0]), static_cast<std::size_t>(s.pairEnd[i1 - 1]));
    };
    if (!Threaded(s, n)) {
        for (std::size_t i0 = 0; i0 < n;) {
            const std::size_t i1 = ChunkEnd(s, i0, n);
            chunkTerms(i0, i1);
            sums(i0, i1);
            i0 = i1;
        }
        return;
    }
    // Chunks as units of work, no more of them than a round takes.
    const auto perUnit =
        static_cast<std::int32_t>(std::max<std::size_t>(kChunkPairs, s.pairCount / (TStepWorker::MAX_UNITS - 1) + 1));
    std::vector<std::size_t>& bound = s.unitBound;
    bound.assign(1, 0);
    while (bound.back() < n) bound.push_back(ChunkEnd(s, bound.back(), n, perUnit));
    auto run = [&](int u) { chunkTerms(bound[u], bound[u + 1]); };
    s.worker->Share(static_cast<int>(bound.size()) - 1, run, [&](int u) { sums(bound[u], bound[u + 1]); });
}

// Density rates of the particles [i0, i1), each pair's two terms in order.
void SumDensityRates(TSPHStepData& s, std::size_t i0, std::size_t i1) {
    float* dd = s.dd.data();
    const std::int32_t* pq = s.pairQ.data();
    const double* intoP = s.termA.data();
    const double* intoQ = s.termB.data();
    for (std::size_t i = i0; i < i1; ++i) {
        float acc = dd[i];
        for (std::int32_t k = s.pairBegin[i], end = s.pairEnd[i]; k < end; ++k) {
            acc = static_cast<float>(acc + intoP[k]);
            dd[pq[k]] = static_cast<float>(dd[pq[k]] + intoQ[k]);
        }
        dd[i] = acc;
    }
}

// Sums of the particles [i0, i1) of a chunk, then their walls.
void SumForcesOf(TSPHStepData& s, std::size_t i0, std::size_t i1) { KernelsOf(s.lanes).sumForces(s, i0, i1); }

}  // namespace

const TLaneKernels& KernelsOf(TLaneSet lanes) {
    if (!LaneSetAvailable(lanes)) return kPlainKernels;
    switch (lanes) {
#ifdef FK_SPH_X86
    case TLaneSet::Avx2: return kAvx2Kernels;
    case TLaneSet::Avx512: return kAvx512Kernels;
#endif
#ifdef __wasm_simd128__
    case TLaneSet::Simd128: return kSimd128Kernels;
#endif
    default: return kPlainKernels;
    }
}

void SeventhPowers(const float* density, double* out, std::size_t n, std::vector<std::int32_t>& scratch,
                   TLaneSet lanes) {
    const double rest = TSPHConstants::REST_DENSITY;
    const auto powers = KernelsOf(lanes).seventhPowers;
    std::size_t i = powers != nullptr ? powers(density, out, n, scratch) : 0;
    for (; i < n; ++i) out[i] = std::pow(static_cast<double>(density[i]) / rest, F::STATE_EXPONENT);
}

namespace {

using TParticleArray = std::vector<std::shared_ptr<TParticle>>;

// The density pass's operands of one slot, widened once.
void GatherDensityRow(TSPHStepData& s, std::size_t k, const TParticle& p) {
    TDensityRow& row = s.densityRows[k];
    row.vx = p.VelocityX;
    row.vy = p.VelocityY;
    row.mass = p.Mass;
    row.x = p.PositionX;
    row.y = p.PositionY;
    s.dd[k] = p.DeltaDensity;
}

// Whether the grid's cell-sorted copy mirrors the world: the boundary and
// the array sizes, and every unit of the sweep that checked the particles.
bool AllUnitsMatch(const TSPH& world, const TSPHStepData& s, int units) {
    bool matches = GridMayMatch(world, s);
    for (int u = 0; u < units; ++u) matches = matches && s.unitMatches[u] != 0;
    return matches;
}

// One sweep over the fluid particles: row(i, p) reads particle p's
// operands into slot i, and the sweep checks that the grid's cell-sorted
// copy still mirrors the particles. Then the pair list, and extra(k, p) for
// the slots of linked particles that left the array.
template <typename Row, typename Extra>
void GatherOperands(const TSPH& world, TSPHStepData& s, Row row, Extra extra) {
    const TParticleArray& particles = world.Particles;
    const std::size_t n = particles.size();
    if (s.rows.size() < n) ResizeSlots(s, n);
    s.unitMatches.resize(TStepWorker::MAX_UNITS);
    const int units = ShareSweep(s, n, [&](int u, std::size_t i0, std::size_t i1) {
        bool matches = true;
        for (std::size_t i = i0; i < i1; ++i) {
            const TParticle& p = *particles[i];
            matches = matches && FluidMatches(s, i, p);
            row(i, p);
        }
        s.unitMatches[u] = matches;
    });
    EnsurePairs(world, s, AllUnitsMatch(world, s, units));
    for (std::size_t k = n; k < s.slotObject.size(); ++k) extra(k, *s.slotObject[k]);
}

// The density pass's operands, and the densities it advances.
void GatherDensityOperands(const TSPH& world, TSPHStepData& s) {
    s.newDensity.resize(world.Particles.size());
    GatherOperands(
        world, s,
        [&s](std::size_t i, const TParticle& p) {
            GatherDensityRow(s, i, p);
            s.newDensity[i] = p.Density;
        },
        [&s](std::size_t k, const TParticle& p) { GatherDensityRow(s, k, p); });
}

// The equation of state and what follows from the density:
//     1/rho, 1/rho^2 (from the stored float 1/rho), m = rho PARTICLE_AREA,
//     P = (P_B rho) ((rho / REST_DENSITY)^7 - 1),
//     c = sqrt(|HEAT_RATIO P / rho|).
// P is a Tait equation (stiffness B = P_B, exponent 7, STATE_EXPONENT) with
// an extra factor rho; it is zero at the rest density and negative below
// it, which holds the liquid together. c is the adiabatic sound speed
// c^2 = gamma P / rho with gamma = HEAT_RATIO, taken of |P| since P may be
// negative; the viscosity uses it. The mass follows the density over the
// particle's fixed area pi (0.3 h)^2 (PARTICLE_AREA), so it is not
// conserved per particle.
// The density of particles [i0, i1) and what the force pass derives from
// it, stored into the particles.
void StoreDensityState(TSPHStepData& s, std::size_t i0, std::size_t i1) {
    for (std::size_t i = i0; i < i1; ++i) {
        TParticle& p = *s.slotObject[i];
        const float density = s.newDensity[i];
        p.DeltaDensity = s.dd[i];
        p.Density = density;
        p.InvDensity = static_cast<float>(1.0 / density);
        p.InvDensitySq = static_cast<float>(static_cast<double>(p.InvDensity) * p.InvDensity);
        p.Mass = static_cast<float>(static_cast<double>(density) * C::PARTICLE_AREA);
        // (P_B * Density) * ((Density / REST_DENSITY)^7 - 1)
        p.Pressure = static_cast<float>((static_cast<double>(C::P_B) * density) * (s.seventhPower[i] - 1.0));
        p.SoundSpeed =
            static_cast<float>(std::sqrt(std::fabs(static_cast<double>(C::HEAT_RATIO) * p.Pressure * p.InvDensity)));
    }
}

// The density step: rho += D_KERNEL_FACTOR_GRADIENT sum_q m_q t^2 vr / r
// (the pair sums of DensityTerms, pair_kernels.h), with no TIMESTEP factor.
// The guard keeps every density within [DENSITY_GUARD_LOW, DENSITY_GUARD_HIGH]
// = [0.3, 0.4] around the rest density 0.35: anything outside, or NaN, is
// reset to DENSITY_RESET (0.385), not clamped, so 1/rho, P and c are always
// finite.
// Phase 2: each particle's density advanced by its rate and guarded, the
// powers of the equation of state (four at a time, so the pieces of a
// shared sweep start at multiples of four), and the density and what the
// force pass derives from it stored into the particle.
void AdvanceDensities(TSPHStepData& s, std::size_t n) {
    s.seventhPower.resize(n);
    s.powerScratch.resize(TStepWorker::MAX_UNITS);
    constexpr std::size_t kPowerLanes = 4;
    ShareSweep(
        s, n,
        [&s](int u, std::size_t i0, std::size_t i1) {
            for (std::size_t i = i0; i < i1; ++i) {
                float density = static_cast<float>(static_cast<double>(s.newDensity[i]) +
                                                   static_cast<double>(s.dd[i]) * C::D_KERNEL_FACTOR_GRADIENT);
                if (!(density >= F::DENSITY_GUARD_LOW && density <= F::DENSITY_GUARD_HIGH)) density = F::DENSITY_RESET;
                s.newDensity[i] = density;
            }
            SeventhPowers(s.newDensity.data() + i0, s.seventhPower.data() + i0, i1 - i0, s.powerScratch[u], s.lanes);
            StoreDensityState(s, i0, i1);
        },
        kPowerLanes);
}

// Gravity enters scaled by the density, F = rho g (GRAVITY_X, GRAVITY_Y),
// not by the mass: the force sums are used as accelerations by the
// integration step (times TIMESTEP_SQ, never divided by a mass). The rows
// carry the pair force's per-particle factors ready: P/rho^2, -m
// P_KERNEL_FACTOR and XSPH_EPSILON m (see ForceTerms, pair_kernels.h).
// The force pass's operands of one slot, widened once, and its sums'
// starting values: for the array's particles gravity scaled by density and
// zero (phase 1), for linked particles that left it what they hold.
void GatherForceRow(TSPHStepData& s, std::size_t k, const TParticle& p, bool inArray) {
    TOperandRow& row = s.rows[k];
    row.vx = p.VelocityX;
    row.vy = p.VelocityY;
    row.pressure = static_cast<double>(p.Pressure) * p.InvDensitySq;
    row.density = p.Density;
    row.sound = p.SoundSpeed;
    row.kernelMass = (-static_cast<double>(p.Mass)) * C::P_KERNEL_FACTOR;
    row.xsphMass = static_cast<double>(C::XSPH_EPSILON) * p.Mass;
    row.x = p.PositionX;
    row.y = p.PositionY;
    if (inArray) {
        s.forceSums[k] = TForceSum{static_cast<float>(static_cast<double>(C::GRAVITY_X) * p.Density),
                                   static_cast<float>(static_cast<double>(C::GRAVITY_Y) * p.Density), 0.0f, 0.0f};
    } else {
        s.forceSums[k] = TForceSum{p.ForceX, p.ForceY, p.DeltaVelocityX, p.DeltaVelocityY};
    }
}

// The force pass's operands and the starting values of its sums.
void GatherForceOperands(const TSPH& world, TSPHStepData& s) {
    GatherOperands(
        world, s, [&s](std::size_t i, const TParticle& p) { GatherForceRow(s, i, p, true); },
        [&s](std::size_t k, const TParticle& p) { GatherForceRow(s, k, p, false); });
}

// The sums into the particles; the array's particles' density rates are
// cleared for the next density pass.
void StoreForces(TSPHStepData& s, std::size_t n) {
    ShareSweep(s, s.slotObject.size(), [&s, n](int, std::size_t k0, std::size_t k1) {
        for (std::size_t k = k0; k < k1; ++k) {
            TParticle& p = *s.slotObject[k];
            const TForceSum& a = s.forceSums[k];
            p.ForceX = a.fx;
            p.ForceY = a.fy;
            p.DeltaVelocityX = a.dvx;
            p.DeltaVelocityY = a.dvy;
            if (k < n) p.DeltaDensity = 0.0f;
        }
    });
}

}  // namespace

void TSPH::UpdateDensity() {
    TSPHStepData& s = *step_;
    const std::size_t n = Particles.size();
    GatherDensityOperands(*this, s);

    // Phase 1: density rate, each pair once, applied to both particles.
    // (The roots are kept for the force pass.)
    if (s.pairDistance.size() < s.pairCount + 8) s.pairDistance.resize(2 * s.pairCount + 8);
    s.pairDistanceList = 0;
    TermsAndSums(
        s, n, [&s](std::size_t from, std::size_t to) { DensityTermsOf(s, from, to); },
        [&s](std::size_t i0, std::size_t i1) { SumDensityRates(s, i0, i1); });
    // Every pair belongs to one of the array's particles, so all have a root.
    if (n > 0) s.pairDistanceList = s.pairList;
    for (std::size_t k = n; k < s.slotObject.size(); ++k) s.slotObject[k]->DeltaDensity = s.dd[k];

    // Phase 2: new density, guarded, and what the force pass derives from it.
    AdvanceDensities(s, n);
}

void TSPH::CalcForces() {
    TSPHStepData& s = *step_;
    const std::size_t n = Particles.size();
    GatherForceOperands(*this, s);
    // Phase 2: pair terms, then the sums in order: for each particle its
    // fluid pairs and boundary pushes cell by cell, then the walls.
    const bool haveDistance = s.pairDistanceList == s.pairList;
    TermsAndSums(
        s, n, [&s, haveDistance](std::size_t from, std::size_t to) { ForceTermsOf(s, from, to, haveDistance); },
        [&s](std::size_t i0, std::size_t i1) { SumForcesOf(s, i0, i1); });
    StoreForces(s, n);
}
