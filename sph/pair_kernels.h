#pragma once
// Internal to the sph library: the pair search and the pair terms, written
// once over a lane set L (sph/lanes.h, sph/lanes_avx2.h, ...) and built once
// per set: the plain set in pair_search.cpp and passes.cpp, each other set
// in its kernels' file (kernels_avx2.cpp, ...) under its target switch.
// Each file gets its own copies (the namespace has no name), so code built
// for AVX2 is never shared with the plain path.

#include <algorithm>
#include <cstdint>
#include <limits>
#include <vector>

#include "sph/constants.h"
#include "sph/step_data.h"

// The builds of the other sets, each in its kernels' file (for x86-64 or
// WebAssembly only).
extern const TLaneKernels kAvx2Kernels;
extern const TLaneKernels kAvx512Kernels;
extern const TLaneKernels kSimd128Kernels;
// The AVX2 set's force sums (their chain of additions gains nothing from
// wider lanes) and seventh powers, shared with the AVX-512 set.
void SumForcesAvx2(TSPHStepData& s, std::size_t i0, std::size_t i1);
std::size_t SeventhPowersAvx2(const float* density, double* out, std::size_t n, std::vector<std::int32_t>& slow);

namespace {

// The wall of boundary particles (Monaghan's boundary force, a Lennard-Jones
// form with powers 4 and 2). With r0 = REPULSIVE_DISTANCE (r0^2 =
// REPULSIVE_DIST_SQ) and D = REPULSIVE_D, the push along (dx, dy) from b to p
// has the magnitude
//     |F| = D ((r0/r)^4 - (r0/r)^2) / r,
// repulsive inside r0 and zero at r0. Written over r^2 only, no root:
//     u = 1/r^2,  s = r0^2 u = (r0/r)^2,  G = u D (s^2 - s),  F = (dx, dy) G,
// so that |F| = r G. It pushes the fluid particle only; boundary particles
// never move. There is no lower distance bound: at r^2 = 0 the direction has
// no value, and the partner is skipped.
// Boundary push on a fluid particle at (px, py); false when out of range
// (or exactly on the boundary particle, where the force has no value).
inline bool BoundaryPush(float px, float py, float bx, float by, TBoundaryHit& h) {
    using C = TSPHConstants;
    const double dx = static_cast<double>(px) - bx;
    const double dy = static_cast<double>(py) - by;
    const double r2 = dx * dx + dy * dy;
    if (!(r2 < static_cast<double>(C::REPULSIVE_DIST_SQ)) || r2 == 0.0) return false;
    const double u = 1.0 / r2;
    const double s = static_cast<double>(C::REPULSIVE_DIST_SQ) * u;
    const double g = u * (static_cast<double>(C::REPULSIVE_D) * (s * s - s));
    h.Gx = dx * g;
    h.Gy = dy * g;
    return true;
}

// Room for 'more' partners after the first np of a scan, plus a round's
// worth of slack.
inline void ReserveRaw(TScanScratch& w, std::size_t np, std::size_t more) {
    const std::size_t need = np + more + 16;
    if (w.rawQ.size() >= need) return;
    w.rawQ.resize(2 * need);
}

// Appends the slots of p's partners among the cell's 'count' candidates to
// the raw list at np without a branch per candidate: the pair window 0.1 < r^2 <
// SMOOTHING_LENGTH_SQ with dx, dy, r^2 in single precision, and the pair
// rule q.ID < p.ID. (The passes form dx, dy, r^2 again, the same way.) The
// round after the candidates is one that no particle takes (see
// ScanCells). Each round's lanes taken are kept in w.roundMask.
template <typename L>
std::size_t ScanCandidates(TScanScratch& w, std::int32_t count, float px, float py, std::int32_t pid, std::size_t np) {
    static_assert(sizeof(typename L::Mask) == sizeof(int), "masks are kept as int");
    using F = typename L::F;
    const F vpx = L::SplatF(px);
    const F vpy = L::SplatF(py);
    const typename L::I vpid = L::SplatI(pid);
    // In locals: the stores below may alias anything.
    std::int32_t* oq = w.rawQ.data();
    const float* cx = w.candX.data();
    const float* cy = w.candY.data();
    const std::int32_t* cid = w.candId.data();
    const std::int32_t* cslot = w.candSlot.data();
    int* roundMask = w.roundMask.data();
    for (std::int32_t k = 0; k < count; k += L::W) {
        const F dx = vpx - L::LoadF(cx + k);  // the same as rounding the double difference
        const F dy = vpy - L::LoadF(cy + k);
        const typename L::Mask take = L::Less(L::LoadI(cid + k), vpid) & L::InPairWindow(dx, dy);
        L::Compress(oq + np, L::LoadI(cslot + k), take);
        np += static_cast<std::size_t>(L::Count(take));
        *roundMask++ = take;
    }
    return np;
}

// How many of the candidates before 'end' the last scan took.
template <typename L>
std::int32_t TakenBefore(const TScanScratch& w, std::int32_t end) {
    std::int32_t taken = 0;
    const std::int32_t rounds = end / L::W;
    for (std::int32_t r = 0; r < rounds; ++r) taken += L::Count(w.roundMask[r]);
    if (end % L::W != 0) taken += L::Count(w.roundMask[rounds] & L::FirstLanes(end % L::W));
    return taken;
}

// Appends the entries [first, first + count) of the cell-sorted copy to the
// candidates at nc, in order, whole rounds at a time (the pair rule is left
// to the scan, which tests it anyway); returns the new candidate count. The
// cell-sorted arrays have a round's worth of readable entries past every
// cell, the candidates room for one.
template <typename L>
std::int32_t CopyCandidates(const TSPHStepData& s, TScanScratch& w, std::int32_t first, std::int32_t count,
                            std::int32_t nc) {
    float* cx = w.candX.data() + nc;
    float* cy = w.candY.data() + nc;
    std::int32_t* cid = w.candId.data() + nc;
    std::int32_t* cslot = w.candSlot.data() + nc;
    const float* sx = s.sortedX.data() + first;
    const float* sy = s.sortedY.data() + first;
    const std::int32_t* sid = s.sortedId.data() + first;
    const std::int32_t* sslot = s.sortedSlot.data() + first;
    // At least one round, even for an empty cell: most cells hold less
    // than a round, and a loop that always runs once is never mispredicted.
    std::int32_t j = 0;
    do {
        L::StoreF(cx + j, L::LoadF(sx + j));
        L::StoreF(cy + j, L::LoadF(sy + j));
        L::StoreI(cid + j, L::LoadI(sid + j));
        L::StoreI(cslot + j, L::LoadI(sslot + j));
        j += L::W;
    } while (j < count);
    return nc + count;
}

// The cell-order scan over the cells [c0, c1) of the padded grid: each of
// their particles' partners into w's raw list and its boundary hits into
// w's hits, in the order of their places in the cell-sorted copy, the ends
// at scanPairEnd and scanHitEnd of the place. All
// particles of one cell see the same nine cells in the same order, so the
// candidates are gathered once per cell and scanned by each of its
// particles. Returns the number of partners.
template <typename L>
std::size_t ScanCells(TSPHStepData& s, TScanScratch& w, std::int32_t c0, std::int32_t c1) {
    const std::int32_t* fstart = s.fluidStart.data();
    const std::int32_t* bstart = s.boundaryStart.data();
    std::size_t np = 0;
    w.hits.clear();
    for (std::int32_t c = c0; c < c1; ++c) {
        const std::int32_t members = fstart[c + 1] - fstart[c];
        if (members == 0) continue;
        // The nine cells' fluid particles, in visiting order.
        std::int32_t segEnd[9];
        std::int32_t nc = 0;
        for (int o = 0; o < 9; ++o) {
            const std::int32_t cell = c + s.neighbourOffset[o];
            const std::int32_t first = fstart[cell];
            nc = CopyCandidates<L>(s, w, first, fstart[cell + 1] - first, nc);
            segEnd[o] = nc;
        }
        // A round that the pair rule refuses to every particle ends the
        // candidates, so that the scan's last round needs no mask of its own.
        L::StoreI(w.candId.data() + nc, L::SplatI(std::numeric_limits<std::int32_t>::max()));
        // Those of the nine cells that hold boundary particles: the
        // candidates before each one's end, and its stretch of the
        // cell-sorted boundary copy.
        struct {
            std::int32_t candidates, first, end;
        } walls[9];
        int wallCells = 0;
        for (int o = 0; s.boundaryNear[static_cast<std::size_t>(c)] != 0 && o < 9; ++o) {
            const std::int32_t cell = c + s.neighbourOffset[o];
            if (bstart[cell] != bstart[cell + 1]) walls[wallCells++] = {segEnd[o], bstart[cell], bstart[cell + 1]};
        }
        ReserveRaw(w, np, static_cast<std::size_t>(nc) * members);
        for (std::int32_t m = fstart[c]; m < fstart[c + 1]; ++m) {
            const float px = s.sortedX[m];
            const float py = s.sortedY[m];
            const std::size_t first = np;
            np = ScanCandidates<L>(w, nc, px, py, s.sortedId[m], np);
            // A boundary push lands after the pair terms of the cells
            // visited before its own.
            for (int b = 0; b < wallCells; ++b) {
                const auto at = static_cast<std::int32_t>(first) + TakenBefore<L>(w, walls[b].candidates);
                for (std::int32_t k = walls[b].first; k < walls[b].end; ++k) {
                    TBoundaryHit h;
                    if (BoundaryPush(px, py, s.sortedBX[k], s.sortedBY[k], h)) {
                        h.At = at;
                        w.hits.push_back(h);
                    }
                }
            }
            s.scanPairEnd[m] = static_cast<std::int32_t>(np);
            s.scanHitEnd[m] = static_cast<std::int32_t>(w.hits.size());
        }
    }
    return np;
}

// The density sum. The density follows the continuity equation
//     d(rho_i)/dt = sum_j m_j (v_i - v_j) . grad_i W(x_i - x_j),
// with the poly6 kernel W = D_KERNEL_FACTOR (h^2 - r^2)^3, h^2 =
// SMOOTHING_LENGTH_SQ. Its derivative along r is -6 D_KERNEL_FACTOR r
// (h^2 - r^2)^2, and D_KERNEL_FACTOR_GRADIENT is -6 D_KERNEL_FACTOR. The
// system takes the gradient along the unit separation (dx, dy) / r, so with
//     t = h^2 - r^2,  vr = (v_p - v_q) . (dx, dy),
// a pair's term is w = t^2 vr / r, evaluated as t (vr t) / r. The constant
// factor and the step itself are applied once per particle after the sum
// (AdvanceDensities in passes.cpp: rho += D_KERNEL_FACTOR_GRADIENT sum, no
// TIMESTEP factor). Swapping p and q flips both differences, so vr and w
// are the same for both sides: p gains m_q w, q gains m_p w, each pair
// found once (q.ID < p.ID). The factor is negative, so approaching
// neighbours (vr < 0) raise the density.
//
// Density rate of pairs [from, to), whole rounds only: w = t (vr t) / r,
// weighted by the other particle's mass for each side; the root r is kept
// for the force pass. Returns where it stopped.
template <typename L>
std::size_t DensityTerms(TSPHStepData& s, std::size_t from, std::size_t to) {
    using D = typename L::D;
    const D h2 = L::Splat(TSPHConstants::SMOOTHING_LENGTH_SQ);
    double* intoP = s.termA.data();
    double* intoQ = s.termB.data();
    float* distance = s.pairDistance.data();
    const TDensityRow* rows = s.densityRows.data();
    std::size_t k = from;
    for (; k + L::N <= to; k += L::N) {
        const typename L::DensityRows p = L::LoadDensityRows(rows, s.pairP.data() + k);
        const typename L::DensityRows q = L::LoadDensityRows(rows, s.pairQ.data() + k);
        D dx, dy, r2;
        L::Separate(p.xy, q.xy, dx, dy, r2);
        const D r = L::Sqrt(r2);
        L::StoreFloats(distance + k, r);
        const D t = h2 - r2;
        const D vr = (p.vx - q.vx) * dx + (p.vy - q.vy) * dy;
        const D w = t * (vr * t) / r;
        L::Store(intoP + k, q.mass * w);
        L::Store(intoQ + k, p.mass * w);
    }
    return k;
}

// The pair force. The symmetric SPH pressure force with the spiky kernel
// W = (15 / (pi h^6)) (h - r)^3, whose gradient is -45 / (pi h^6) (h - r)^2
// (x_p - x_q) / r = P_KERNEL_FACTOR (h - r)^2 (dx, dy) / r:
//     F_p = -sum_q m (P_p/rho_p^2 + P_q/rho_q^2 + Pi_pq) grad_p W
//         = sum_q (dx, dy) A K,
//     A = P_p/rho_p^2 + P_q/rho_q^2 (+ Pi_pq),  K = -m P_KERNEL_FACTOR (h - r)^2 / r.
// P/rho^2 comes ready in the rows (pressure), and so does -m P_KERNEL_FACTOR
// (kernelMass), with m the mass of q, the lower-ID particle: the pair's one
// term goes to p with + and to q with -, so the two get equal and opposite
// forces. K > 0: a positive pressure pushes p away from q. r and h - r are
// rounded to float as stored.
//
// Monaghan's artificial viscosity, only while the two approach
// (vr = (v_p - v_q) . (x_p - x_q) < 0; it is formed for every pair and kept
// only there):
//     mu = h vr / (r^2 + 20),
//     Pi = (-alpha mu cbar + beta mu^2) / rhobar,
// with alpha = V_ALPHA, beta = V_BETA, cbar = (c_p + c_q) / 2 (half), 1/rhobar
// = 2 / (rho_p + rho_q) (b). The 20 (VISCOSITY_R2_OFFSET) keeps the
// denominator away from zero; it stands where the textbook has 0.01 h^2.
//
// The XSPH correction, which moves each particle's velocity towards its
// neighbours' mean and keeps the flow orderly:
//     dV_p = eps sum_q (m / rhobar) (v_q - v_p) W_poly6,
//     W_poly6 = D_KERNEL_FACTOR (h^2 - r^2)^3,
// with eps = XSPH_EPSILON folded into the rows (xsphMass = eps m), evaluated
// as ((eps m) w w) w D_KERNEL_FACTOR b, w = h^2 - r^2; q gets the opposite.
//
// Pressure, viscosity and XSPH terms of pairs [from, to), whole rounds
// only; the viscosity is formed for every pair and kept where vr < 0 (the
// particles approach). Returns where it stopped.
template <typename L>
std::size_t ForceTerms(TSPHStepData& s, std::size_t from, std::size_t to, bool haveDistance) {
    using C = TSPHConstants;
    using D = typename L::D;
    const D h = L::Splat(C::SMOOTHING_LENGTH);
    const D h2 = L::Splat(C::SMOOTHING_LENGTH_SQ);
    const D two = L::Splat(2.0);
    const D offset = L::Splat(TSPHFormula::VISCOSITY_R2_OFFSET);
    const D half = L::Splat(0.5);
    const D alpha = L::Splat(-static_cast<double>(C::V_ALPHA));
    const D beta = L::Splat(C::V_BETA);
    const D kernel = L::Splat(C::D_KERNEL_FACTOR);
    const TOperandRow* rows = s.rows.data();
    const float* distance = s.pairDistance.data();
    TForceTerm* out = s.forceTerms.data();
    std::size_t k = from;
    for (; k + L::N <= to; k += L::N) {
        const typename L::ForceRows p = L::LoadForceRows(rows, s.pairP.data() + k);
        const typename L::ForceRows q = L::LoadForceRows(rows, s.pairQ.data() + k);
        D dx, dy, r2;
        L::Separate(p.xy, q.xy, dx, dy, r2);
        const D r = haveDistance ? L::LoadFloats(distance + k) : L::RoundToFloat(L::Sqrt(r2));
        const D hr = L::RoundToFloat(h - r);
        const D ddx = q.vx - p.vx;
        const D ddy = q.vy - p.vy;
        const D a0 = p.pressure + q.pressure;
        const D b = two / (p.density + q.density);
        const D vr = -dx * ddx - dy * ddy;
        const D mu = vr * h / (r2 + offset);
        const D pi = (alpha * mu * (p.sound + q.sound) * half + mu * (beta * mu)) * b;
        const D a = L::IfNegative(vr, a0 + pi, a0);
        const D kk = q.kernelMass * hr * hr / r;
        const D w = h2 - r2;
        const D sxs = q.xsphMass * w * w * w * kernel * b;
        L::StoreTerms(out + k, L::RoundToFloat(dx * (a * kk)), L::RoundToFloat(dy * (a * kk)), ddx * sxs, ddy * sxs);
    }
    return k;
}

// The container walls. For the distance d of p from a wall (clamped at 0,
// rounded to float) and r0 = REPULSIVE_DISTANCE, the push into the container
// is
//     F = rho_p (1 - sqrt(d / r0)),   d < r0,
// rho_p at the wall, falling to 0 at r0, steepest right at the wall, so a
// particle is stopped before it reaches the container's edge (the
// integration step's clamp is the last resort). Right, bottom, left, top, in
// this order; 1 / r0 is INV_REPULSIVE_DISTANCE.
//
// Container walls for particle i, after its pairs: a push of Density at
// the wall, none at REPULSIVE_DISTANCE.
inline void ApplyWalls(TSPHStepData& s, std::size_t i) {
    using C = TSPHConstants;
    TForceSum& a = s.forceSums[i];
    float fx = a.fx, fy = a.fy;
    const float px = s.x[i];
    const float py = s.y[i];
    // Further in than REPULSIVE_DISTANCE from every wall (with a margin for
    // the rounding of the distances below), as most particles are: no push.
    constexpr float margin = 1.0f / 1024.0f;
    constexpr float nearRight = C::CONTAINER_WIDTH - C::REPULSIVE_DISTANCE - margin;
    constexpr float nearBottom = C::CONTAINER_HEIGHT - C::REPULSIVE_DISTANCE - margin;
    if (px >= C::REPULSIVE_DISTANCE && py >= C::REPULSIVE_DISTANCE && px <= nearRight && py <= nearBottom) return;
    const double pd = s.rows[i].density;
    const double right = static_cast<double>(C::CONTAINER_WIDTH) - px;
    const double bottom = static_cast<double>(C::CONTAINER_HEIGHT) - py;
    const float dR = static_cast<float>(right > 0.0 ? right : 0.0);
    const float dB = static_cast<float>(bottom > 0.0 ? bottom : 0.0);
    const float dL = px > 0.0f ? px : 0.0f;
    const float dT = py > 0.0f ? py : 0.0f;
    const double inv = C::INV_REPULSIVE_DISTANCE;
    if (dR < C::REPULSIVE_DISTANCE) fx = static_cast<float>(fx - pd * (1.0 - std::sqrt(static_cast<double>(dR) * inv)));
    if (dB < C::REPULSIVE_DISTANCE) fy = static_cast<float>(fy - pd * (1.0 - std::sqrt(static_cast<double>(dB) * inv)));
    if (dL < C::REPULSIVE_DISTANCE) fx = static_cast<float>(fx + pd * (1.0 - std::sqrt(static_cast<double>(dL) * inv)));
    if (dT < C::REPULSIVE_DISTANCE) fy = static_cast<float>(fy + pd * (1.0 - std::sqrt(static_cast<double>(dT) * inv)));
    a.fx = fx;
    a.fy = fy;
}

// The force sums of particles [i0, i1), each in order: its pair terms and,
// before the pair they were met before, its boundary pushes; then its
// walls. A pair's terms go to both particles with opposite signs. Every
// field is widened, added to and rounded back on its own.
template <typename L>
void SumForces(TSPHStepData& s, std::size_t i0, std::size_t i1) {
    using Sum = typename L::Sum;
    TForceSum* sums = s.forceSums.data();
    const std::int32_t* pq = s.pairQ.data();
    const TForceTerm* terms = s.forceTerms.data();
    const TBoundaryHit* hits = s.hits.data();
    for (std::size_t i = i0; i < i1; ++i) {
        Sum own = L::LoadSum(sums + i);
        auto addPair = [&](std::int32_t k) {
            const typename L::Term t = L::LoadTerm(terms + k);
            own = L::AddTerm(own, t);
            TForceSum* q = sums + pq[k];
            L::StoreSum(q, L::SubtractTerm(L::LoadSum(q), t));
        };
        std::int32_t hit = s.hitBegin[i];
        const std::int32_t hitEnd = s.hitEnd[i];
        const std::int32_t begin = s.pairBegin[i];
        const std::int32_t end = s.pairEnd[i];
        if (hit == hitEnd) {
            // Away from the boundary (most particles): the pairs alone.
            for (std::int32_t k = begin; k < end; ++k) addPair(k);
        } else {
            for (std::int32_t k = begin; k < end; ++k) {
                for (; hit < hitEnd && hits[hit].At == k; ++hit) own = L::AddPush(own, hits[hit]);
                addPair(k);
            }
            for (; hit < hitEnd; ++hit) own = L::AddPush(own, hits[hit]);
        }
        L::StoreSum(sums + i, own);
        ApplyWalls(s, i);
    }
}

}  // namespace
