// The step's neighbour-pair list: built once per step, in the order in
// which the density and force passes sum their contributions.

#include <algorithm>
#include <cmath>
#include <cstring>
#include <unordered_map>

#include "sph/sph.h"
#include "sph/step_data.h"

#if defined(__x86_64__) && defined(__GNUC__)
#include <immintrin.h>
#define FK_SPH_X86 1
#endif

namespace {

using C = TSPHConstants;
using F = TSPHFormula;

// Boundary push on a fluid particle at (px, py); false when out of range
// (or exactly on the boundary particle, where the force has no value).
inline bool BoundaryPush(float px, float py, float bx, float by, TBoundaryHit& h) {
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

}  // namespace

void ResizeSlots(TSPHStepData& s, std::size_t n) {
    for (auto* v : {&s.x, &s.y, &s.dd}) v->resize(n);
    s.forceSums.resize(n);
    s.rows.resize(n);
    s.densityRows.resize(n);
}

namespace {

void ResizeIndex(TSPHStepData& s, std::size_t n) {
    s.pairBegin.resize(n);
    s.pairEnd.resize(n);
    s.hitBegin.resize(n);
    s.hitEnd.resize(n);
}

// Room for 'more' pairs after the first np, plus a vector's worth of slack.
void ReservePairs(TSPHStepData& s, std::size_t np, std::size_t more) {
    const std::size_t need = np + more + 16;
    if (s.pairQ.size() >= need) return;
    const std::size_t size = 2 * need;
    s.pairP.resize(size);
    s.pairQ.resize(size);
}

// The same for the cell-order scan's partners.
void ReserveRaw(TScanScratch& w, std::size_t np, std::size_t more) {
    const std::size_t need = np + more + 16;
    if (w.rawQ.size() >= need) return;
    w.rawQ.resize(2 * need);
}

// Ends the list at np; the slack after it names slot 0, so that the pair
// terms may be computed a whole vector at a time.
void FinishPairs(TSPHStepData& s, std::size_t np) {
    ReservePairs(s, np, 0);
    s.pairCount = np;
    for (std::size_t k = np; k < np + 8; ++k) {
        s.pairP[k] = 0;
        s.pairQ[k] = 0;
    }
}

// Appends the slots of p's partners among candidates [from, to) to the raw
// list at np without a branch per candidate: the pair window 0.1 < r^2 <
// SMOOTHING_LENGTH_SQ with dx, dy, r^2 in single precision, and the pair
// rule q.ID < p.ID. (The passes form dx, dy, r^2 again, the same way.)
std::size_t ScanPlain(TScanScratch& w, std::int32_t from, std::int32_t to, float px, float py, std::int32_t pid,
                      std::size_t np) {
    std::int32_t* oq = w.rawQ.data();
    for (std::int32_t k = from; k < to; ++k) {
        const float dx = px - w.candX[k];  // the same as rounding the double difference
        const float dy = py - w.candY[k];
        const float r2 = static_cast<float>(static_cast<double>(dx) * dx + static_cast<double>(dy) * dy);
        oq[np] = w.candSlot[k];
        np += static_cast<std::size_t>(static_cast<int>(w.candId[k] < pid) & static_cast<int>(F::PAIR_WINDOW_MIN_SQ < r2) &
                                       static_cast<int>(r2 < C::SMOOTHING_LENGTH_SQ));
    }
    return np;
}

// Appends the entries [first, first + count) of the cell-sorted copy whose
// ID lies below 'limit' to the candidates at nc, in order; returns the new
// candidate count. (A candidate with a larger ID pairs with none of the
// cell's particles, by the pair rule.)
inline std::int32_t GatherPlain(const TSPHStepData& s, TScanScratch& w, std::int32_t first, std::int32_t count,
                                std::int32_t limit, std::int32_t nc) {
    for (std::int32_t j = first; j < first + count; ++j) {
        w.candX[nc] = s.sortedX[j];
        w.candY[nc] = s.sortedY[j];
        w.candId[nc] = s.sortedId[j];
        w.candSlot[nc] = s.sortedSlot[j];
        nc += static_cast<std::int32_t>(s.sortedId[j] < limit);
    }
    return nc;
}

#ifdef FK_SPH_X86
// Lane permutations that pack the selected lanes of an 8-lane vector first.
struct TCompressTable {
    alignas(32) std::int32_t lanes[256][8];
    TCompressTable() {
        for (int m = 0; m < 256; ++m) {
            int n = 0;
            for (int b = 0; b < 8; ++b)
                if (m & (1 << b)) lanes[m][n++] = b;
            while (n < 8) lanes[m][n++] = 0;
        }
    }
};
const TCompressTable kCompress;

// ScanPlain, eight candidates at a time. Every lane performs exactly the
// scalar operations (float subtraction, double squares and sum, one
// rounding), so the pairs are the same bit for bit. The candidate arrays
// have at least 8 readable entries past 'to'.
__attribute__((target("avx2,popcnt"))) std::size_t ScanAvx2(TScanScratch& w, std::int32_t from, std::int32_t to,
                                                             float px, float py, std::int32_t pid, std::size_t np) {
    const __m256 vpx = _mm256_set1_ps(px);
    const __m256 vpy = _mm256_set1_ps(py);
    const __m256i vpid = _mm256_set1_epi32(pid);
    const __m256 low = _mm256_set1_ps(F::PAIR_WINDOW_MIN_SQ);
    const __m256 high = _mm256_set1_ps(C::SMOOTHING_LENGTH_SQ);
    const __m256i iota = _mm256_setr_epi32(0, 1, 2, 3, 4, 5, 6, 7);
    std::int32_t* oq = w.rawQ.data();
    // In locals: the vector stores below may alias anything, so the
    // containers' pointers would be reloaded on every round otherwise.
    const float* cx = w.candX.data();
    const float* cy = w.candY.data();
    const std::int32_t* cid = w.candId.data();
    const std::int32_t* cslot = w.candSlot.data();
    for (std::int32_t k = from; k < to; k += 8) {
        const __m256 dx = _mm256_sub_ps(vpx, _mm256_loadu_ps(cx + k));
        const __m256 dy = _mm256_sub_ps(vpy, _mm256_loadu_ps(cy + k));
        const __m256d dxl = _mm256_cvtps_pd(_mm256_castps256_ps128(dx));
        const __m256d dxh = _mm256_cvtps_pd(_mm256_extractf128_ps(dx, 1));
        const __m256d dyl = _mm256_cvtps_pd(_mm256_castps256_ps128(dy));
        const __m256d dyh = _mm256_cvtps_pd(_mm256_extractf128_ps(dy, 1));
        const __m128 r2l = _mm256_cvtpd_ps(_mm256_add_pd(_mm256_mul_pd(dxl, dxl), _mm256_mul_pd(dyl, dyl)));
        const __m128 r2h = _mm256_cvtpd_ps(_mm256_add_pd(_mm256_mul_pd(dxh, dxh), _mm256_mul_pd(dyh, dyh)));
        const __m256 r2 = _mm256_insertf128_ps(_mm256_castps128_ps256(r2l), r2h, 1);
        const __m256 window = _mm256_and_ps(_mm256_cmp_ps(r2, low, _CMP_GT_OQ), _mm256_cmp_ps(r2, high, _CMP_LT_OQ));
        const __m256i slot = _mm256_loadu_si256(reinterpret_cast<const __m256i*>(cslot + k));
        const __m256i id = _mm256_loadu_si256(reinterpret_cast<const __m256i*>(cid + k));
        const __m256i rule = _mm256_and_si256(_mm256_cmpgt_epi32(vpid, id),
                                              _mm256_cmpgt_epi32(_mm256_set1_epi32(to - k), iota));
        const int mask = _mm256_movemask_ps(_mm256_and_ps(window, _mm256_castsi256_ps(rule)));
        const __m256i perm = _mm256_load_si256(reinterpret_cast<const __m256i*>(kCompress.lanes[mask]));
        _mm256_storeu_si256(reinterpret_cast<__m256i*>(oq + np), _mm256_permutevar8x32_epi32(slot, perm));
        np += static_cast<std::size_t>(_mm_popcnt_u32(static_cast<unsigned>(mask)));
    }
    return np;
}

// GatherPlain, eight entries at a time. The cell-sorted arrays have at
// least 8 readable entries past every cell, the candidates room for a
// vector past their end.
__attribute__((target("avx2,popcnt"))) inline std::int32_t GatherAvx2(const TSPHStepData& s, TScanScratch& w,
                                                                      std::int32_t first, std::int32_t count,
                                                                      std::int32_t limit, std::int32_t nc) {
    const __m256i iota = _mm256_setr_epi32(0, 1, 2, 3, 4, 5, 6, 7);
    const __m256i vlimit = _mm256_set1_epi32(limit);
    float* cx = w.candX.data();
    float* cy = w.candY.data();
    std::int32_t* cid = w.candId.data();
    std::int32_t* cslot = w.candSlot.data();
    const float* sx = s.sortedX.data() + first;
    const float* sy = s.sortedY.data() + first;
    const std::int32_t* sid = s.sortedId.data() + first;
    const std::int32_t* sslot = s.sortedSlot.data() + first;
    for (std::int32_t j = 0; j < count; j += 8) {
        const __m256i id = _mm256_loadu_si256(reinterpret_cast<const __m256i*>(sid + j));
        const __m256i keep = _mm256_and_si256(_mm256_cmpgt_epi32(vlimit, id),
                                              _mm256_cmpgt_epi32(_mm256_set1_epi32(count - j), iota));
        const int mask = _mm256_movemask_ps(_mm256_castsi256_ps(keep));
        const __m256i perm = _mm256_load_si256(reinterpret_cast<const __m256i*>(kCompress.lanes[mask]));
        _mm256_storeu_ps(cx + nc, _mm256_permutevar8x32_ps(_mm256_loadu_ps(sx + j), perm));
        _mm256_storeu_ps(cy + nc, _mm256_permutevar8x32_ps(_mm256_loadu_ps(sy + j), perm));
        _mm256_storeu_si256(reinterpret_cast<__m256i*>(cid + nc), _mm256_permutevar8x32_epi32(id, perm));
        _mm256_storeu_si256(reinterpret_cast<__m256i*>(cslot + nc),
                            _mm256_permutevar8x32_epi32(
                                _mm256_loadu_si256(reinterpret_cast<const __m256i*>(sslot + j)), perm));
        nc += _mm_popcnt_u32(static_cast<unsigned>(mask));
    }
    return nc;
}

#endif

using TGather = std::int32_t (*)(const TSPHStepData&, TScanScratch&, std::int32_t, std::int32_t, std::int32_t,
                                 std::int32_t);
using TScan = std::size_t (*)(TScanScratch&, std::int32_t, std::int32_t, float, float, std::int32_t, std::size_t);


// The cell-order scan over the cells [c0, c1) of the padded grid: each of
// their particles' partners into w's raw list, its segment at [pairBegin,
// pairEnd), its boundary hits at [hitBegin, hitEnd) of w's hits. Inlined
// into one plain and one AVX2 build, so that the candidate copies use the
// widest moves the processor has.
template <TScan Scan, TGather Gather>
__attribute__((always_inline)) inline std::size_t ScanCells(TSPHStepData& s, TScanScratch& w, std::int32_t c0,
                                                            std::int32_t c1) {
    const std::int32_t* fstart = s.fluidStart.data();
    const std::int32_t* bstart = s.boundaryStart.data();
    std::size_t np = 0;
    w.hits.clear();
    for (std::int32_t c = c0; c < c1; ++c) {
        const std::int32_t members = fstart[c + 1] - fstart[c];
        if (members == 0) continue;
        // The nine cells' fluid particles, in visiting order, without those
        // whose ID is too large to pair with any of this cell's particles.
        std::int32_t limit = s.sortedId[fstart[c]];
        for (std::int32_t m = fstart[c] + 1; m < fstart[c + 1]; ++m) limit = std::max(limit, s.sortedId[m]);
        std::int32_t segEnd[9];
        std::int32_t nc = 0;
        for (int o = 0; o < 9; ++o) {
            const std::int32_t cell = c + s.neighbourOffset[o];
            const std::int32_t first = fstart[cell];
            nc = Gather(s, w, first, fstart[cell + 1] - first, limit, nc);
            segEnd[o] = nc;
        }
        const bool boundary = s.boundaryNear[static_cast<std::size_t>(c)] != 0;
        ReserveRaw(w, np, static_cast<std::size_t>(nc) * members);
        for (std::int32_t m = fstart[c]; m < fstart[c + 1]; ++m) {
            const std::int32_t slot = s.sortedSlot[m];
            const float px = s.sortedX[m];
            const float py = s.sortedY[m];
            const std::int32_t pid = s.sortedId[m];
            const std::size_t i = static_cast<std::size_t>(slot);
            s.pairBegin[i] = static_cast<std::int32_t>(np);
            s.hitBegin[i] = static_cast<std::int32_t>(w.hits.size());
            if (!boundary) {
                np = Scan(w, 0, nc, px, py, pid, np);
            } else {
                // Boundary pushes land between the pair terms of the cells.
                std::int32_t from = 0;
                for (int o = 0; o < 9; ++o) {
                    np = Scan(w, from, segEnd[o], px, py, pid, np);
                    from = segEnd[o];
                    const std::int32_t cell = c + s.neighbourOffset[o];
                    for (std::int32_t k = bstart[cell]; k < bstart[cell + 1]; ++k) {
                        TBoundaryHit h;
                        if (BoundaryPush(px, py, s.sortedBX[k], s.sortedBY[k], h)) {
                            h.At = static_cast<std::int32_t>(np);
                            w.hits.push_back(h);
                        }
                    }
                }
            }
            s.pairEnd[i] = static_cast<std::int32_t>(np);
            s.hitEnd[i] = static_cast<std::int32_t>(w.hits.size());
        }
    }
    return np;
}

std::size_t ScanCellsPlain(TSPHStepData& s, TScanScratch& w, std::int32_t c0, std::int32_t c1) {
    return ScanCells<ScanPlain, GatherPlain>(s, w, c0, c1);
}

#ifdef FK_SPH_X86
__attribute__((target("avx2,popcnt"))) std::size_t ScanCellsAvx2(TSPHStepData& s, TScanScratch& w, std::int32_t c0,
                                                                 std::int32_t c1) {
    return ScanCells<ScanAvx2, GatherAvx2>(s, w, c0, c1);
}
#endif

// The scan of cells [c0, c1) on the step's lane path.
std::size_t ScanCellRange(TSPHStepData& s, TScanScratch& w, std::int32_t c0, std::int32_t c1) {
    const std::size_t scratch = 9 * (static_cast<std::size_t>(s.maxFluidPerCell) + 8) + 16;
    if (w.candX.size() < scratch) {
        w.candX.resize(scratch);
        w.candY.resize(scratch);
        w.candId.resize(scratch);
        w.candSlot.resize(scratch);
    }
#ifdef FK_SPH_X86
    if (s.avx2) return ScanCellsAvx2(s, w, c0, c1);
#endif
    return ScanCellsPlain(s, w, c0, c1);
}

// Appends the second scan's partners and hits to the first's, so that the
// segments of the particles of cells [c0, c1) (which the second scanned)
// point into the joint lists.
void JoinScans(TSPHStepData& s, TScanScratch& into, std::size_t np, const TScanScratch& from, std::size_t more,
               std::int32_t c0, std::int32_t c1) {
    ReserveRaw(into, np, more);
    std::memcpy(into.rawQ.data() + np, from.rawQ.data(), more * sizeof(std::int32_t));
    const std::int32_t pairShift = static_cast<std::int32_t>(np);
    const std::int32_t hitShift = static_cast<std::int32_t>(into.hits.size());
    for (TBoundaryHit h : from.hits) {
        h.At += pairShift;
        into.hits.push_back(h);
    }
    for (std::int32_t m = s.fluidStart[c0]; m < s.fluidStart[c1]; ++m) {
        const std::size_t i = static_cast<std::size_t>(s.sortedSlot[m]);
        s.pairBegin[i] += pairShift;
        s.pairEnd[i] += pairShift;
        s.hitBegin[i] += hitShift;
        s.hitEnd[i] += hitShift;
    }
}

// Fluid particles per unit of the pair search shared by two threads.
constexpr std::size_t kParticlesPerScanUnit = 256;

// The cell-order scan over all cells with fluid particles, into scan[0].
// With two threads, the cells are cut into units of about
// kParticlesPerScanUnit particles, each scanned into a scratch of its own
// and joined in order.
std::size_t ScanAllCells(TSPHStepData& s, std::size_t n) {
    const std::int32_t cells = static_cast<std::int32_t>(s.fluidStart.size()) - 1;
    if (!Threaded(s, n)) return ScanCellRange(s, s.scan[0], 0, cells);
    const std::size_t units = std::min<std::size_t>(n / kParticlesPerScanUnit + 1, TStepWorker::MAX_UNITS);
    std::vector<std::size_t>& bound = s.unitBound;
    bound.assign(1, 0);
    for (std::size_t u = 1; u < units; ++u) {
        const auto target = static_cast<std::int32_t>(n * u / units);
        const auto c = static_cast<std::size_t>(
            std::upper_bound(s.fluidStart.begin(), s.fluidStart.end(), target) - s.fluidStart.begin() - 1);
        if (c > bound.back()) bound.push_back(c);
    }
    bound.push_back(static_cast<std::size_t>(cells));
    if (s.scan.size() < bound.size()) s.scan.resize(bound.size());
    s.unitPairs.resize(bound.size());
    auto run = [&s, &bound](int u) {
        s.unitPairs[u] = ScanCellRange(s, s.scan[u], static_cast<std::int32_t>(bound[u]),
                                       static_cast<std::int32_t>(bound[u + 1]));
    };
    std::size_t np = 0;
    s.worker->Share(static_cast<int>(bound.size()) - 1, run, [&](int u) {
        if (u > 0)
            JoinScans(s, s.scan[0], np, s.scan[u], s.unitPairs[u], static_cast<std::int32_t>(bound[u]),
                      static_cast<std::int32_t>(bound[u + 1]));
        np += s.unitPairs[u];
    });
    return np;
}

// Moves the partners found by the cell-order scan (each particle's segment
// at [pairBegin, pairEnd) of the raw list) into the pair list in array
// order, so that the passes find the pairs of consecutive particles in one
// short stretch of the list. Boundary hits follow their pairs.
void ToArrayOrder(TSPHStepData& s, std::size_t n, std::size_t total) {
    ReservePairs(s, 0, total);
    std::int32_t* pairP = s.pairP.data();
    std::int32_t* pairQ = s.pairQ.data();
    const std::int32_t* rawQ = s.scan[0].rawQ.data();
    std::swap(s.hits, s.scan[0].hits);
    TBoundaryHit* hits = s.hits.data();
    std::int32_t np = 0;
    for (std::size_t i = 0; i < n; ++i) {
        const std::int32_t b = s.pairBegin[i];
        const std::int32_t count = s.pairEnd[i] - b;
        const std::int32_t shift = np - b;
        for (std::int32_t h = s.hitBegin[i]; h < s.hitEnd[i]; ++h) hits[h].At += shift;
#ifdef FK_SPH_X86
        const __m128i self = _mm_set1_epi32(static_cast<std::int32_t>(i));  // SSE2, always there
#endif
        // Eight at a time (a particle rarely has more partners); both lists
        // have room for a vector past their ends.
        std::int32_t j = 0;
        do {
            std::memcpy(pairQ + np + j, rawQ + b + j, 8 * sizeof(std::int32_t));
#ifdef FK_SPH_X86
            _mm_storeu_si128(reinterpret_cast<__m128i*>(pairP + np + j), self);
            _mm_storeu_si128(reinterpret_cast<__m128i*>(pairP + np + j + 4), self);
#else
            for (int v = 0; v < 8; ++v) pairP[np + j + v] = static_cast<std::int32_t>(i);
#endif
            j += 8;
        } while (j < count);
        s.pairBegin[i] = np;
        np += count;
        s.pairEnd[i] = np;
    }
    FinishPairs(s, static_cast<std::size_t>(np));
}

// Pair list from the cell-sorted copy of an up-to-date grid. All particles
// of one cell see the same nine cells in the same order, so the candidates
// are gathered once per cell and scanned by each of its particles; the
// partners are then put into array order.
void BuildPairsFast(const TSPH& world, TSPHStepData& s) {
    const std::size_t n = world.Particles.size();
    s.slotObject.assign(s.fluidAt.begin(), s.fluidAt.end());
    ResizeIndex(s, n);
    ResizeSlots(s, n);
    for (std::size_t i = 0; i < n; ++i) {
        s.x[i] = s.fluidX[i];
        s.y[i] = s.fluidY[i];
    }
    ToArrayOrder(s, n, ScanAllCells(s, n));
    s.pairsReusable = true;
}

// Pair list from walking the grid's own cell lists, for a grid that no
// longer matches the arrays (particles added, removed or moved since the
// rebuild). Linked particles missing from the array get slots of their own.
void BuildPairsFromLists(const TSPH& world, TSPHStepData& s) {
    const std::size_t n = world.Particles.size();
    s.slotObject.resize(n);
    std::unordered_map<const TParticle*, std::int32_t> slotOf;
    for (std::size_t i = 0; i < n; ++i) {
        s.slotObject[i] = world.Particles[i].get();
        slotOf.emplace(s.slotObject[i], static_cast<std::int32_t>(i));
    }
    ResizeIndex(s, n);
    s.hits.clear();
    std::size_t np = 0;
    for (std::size_t i = 0; i < n; ++i) {
        const TParticle& p = *s.slotObject[i];
        s.pairBegin[i] = static_cast<std::int32_t>(np);
        s.hitBegin[i] = static_cast<std::int32_t>(s.hits.size());
        const int hx = static_cast<int>(std::trunc(std::fmin(
            std::fmax(static_cast<double>(p.PositionX) * C::INV_SMOOTHING_LENGTH, 0.0), world.GridWidth - 1)));
        const int hy = static_cast<int>(std::trunc(std::fmin(
            std::fmax(static_cast<double>(p.PositionY) * C::INV_SMOOTHING_LENGTH, 0.0), world.GridHeight - 1)));
        for (const auto& off : F::NEIGHBOUR_OFFSETS) {
            const int cx = hx + off[0];
            const int cy = hy + off[1];
            if (cx < 0 || cx >= world.GridWidth || cy < 0 || cy >= world.GridHeight) continue;
            for (const TParticle* q = world.FluidGrid(cx, cy); q != nullptr; q = q->Succ) {
                if (!(p.ID > q->ID)) continue;
                const float dx = static_cast<float>(static_cast<double>(p.PositionX) - q->PositionX);
                const float dy = static_cast<float>(static_cast<double>(p.PositionY) - q->PositionY);
                const float r2 = static_cast<float>(static_cast<double>(dx) * dx + static_cast<double>(dy) * dy);
                if (!(F::PAIR_WINDOW_MIN_SQ < r2 && r2 < C::SMOOTHING_LENGTH_SQ)) continue;
                auto found = slotOf.find(q);
                if (found == slotOf.end()) {
                    found = slotOf.emplace(q, static_cast<std::int32_t>(s.slotObject.size())).first;
                    s.slotObject.push_back(const_cast<TParticle*>(q));
                }
                ReservePairs(s, np, 1);
                s.pairP[np] = static_cast<std::int32_t>(i);
                s.pairQ[np] = found->second;
                ++np;
            }
            for (const TParticle* b = world.BoundaryGrid(cx, cy); b != nullptr; b = b->Succ) {
                TBoundaryHit h;
                if (BoundaryPush(p.PositionX, p.PositionY, b->PositionX, b->PositionY, h)) {
                    h.At = static_cast<std::int32_t>(np);
                    s.hits.push_back(h);
                }
            }
        }
        s.pairEnd[i] = static_cast<std::int32_t>(np);
        s.hitEnd[i] = static_cast<std::int32_t>(s.hits.size());
    }
    FinishPairs(s, np);
    ResizeSlots(s, s.slotObject.size());
    for (std::size_t k = 0; k < s.slotObject.size(); ++k) {
        s.x[k] = s.slotObject[k]->PositionX;
        s.y[k] = s.slotObject[k]->PositionY;
    }
    s.pairsReusable = false;
}

}  // namespace

bool GridMayMatch(const TSPH& world, const TSPHStepData& s) {
    if (!s.rebuilt || world.Particles.size() != s.fluidAt.size() ||
        world.BoundaryParticles.size() != s.boundaryAt.size())
        return false;
    for (std::size_t i = 0; i < s.boundaryAt.size(); ++i) {
        const TParticle* p = world.BoundaryParticles[i].get();
        if (p != s.boundaryAt[i] || !SameBits(p->PositionX, s.boundaryX[i]) ||
            !SameBits(p->PositionY, s.boundaryY[i]))
            return false;
    }
    return true;
}

void EnsurePairs(const TSPH& world, TSPHStepData& s, bool fast) {
    if (fast && s.pairsReusable) return;
    ++s.pairList;
    if (fast)
        BuildPairsFast(world, s);
    else
        BuildPairsFromLists(world, s);
}

