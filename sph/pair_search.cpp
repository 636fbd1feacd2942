// The step's neighbour-pair list: built once per step, in the order in
// which the density and force passes sum their contributions.

#include <algorithm>
#include <cmath>
#include <cstring>
#include <unordered_map>

#include "sph/lanes.h"
#include "sph/pair_kernels.h"
#include "sph/sph.h"
#include "sph/step_data.h"

#if defined(__x86_64__) && defined(__GNUC__)
#include <immintrin.h>
#define FK_SPH_X86 1
#endif

namespace {
using C = TSPHConstants;
using F = TSPHFormula;
}  // namespace

void ResizeSlots(TSPHStepData& s, std::size_t n) {
    for (auto* v : {&s.x, &s.y, &s.dd}) v->resize(n);
    s.forceSums.resize(n);
    s.rows.resize(n);
    s.densityRows.resize(n);
}

namespace {

void ResizeIndex(TSPHStepData& s, std::size_t n) {
    s.scanPairEnd.resize(n);
    s.scanHitEnd.resize(n);
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

// The scan of cells [c0, c1) on the step's lane path.
std::size_t ScanCellRange(TSPHStepData& s, TScanScratch& w, std::int32_t c0, std::int32_t c1) {
    // Each of the nine cells is copied in whole rounds of up to 16 lanes,
    // and a round of its own ends them.
    const std::size_t scratch = 9 * (static_cast<std::size_t>(s.maxFluidPerCell) + 16) + 16;
    if (w.candX.size() < scratch) {
        w.candX.resize(scratch);
        w.candY.resize(scratch);
        w.candId.resize(scratch);
        w.candSlot.resize(scratch);
        w.roundMask.resize(scratch);
    }
    return KernelsOf(s.lanes).scanCells(s, w, c0, c1);
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
        s.scanPairEnd[m] += pairShift;
        s.scanHitEnd[m] += hitShift;
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
        const auto c = static_cast<std::size_t>(std::upper_bound(s.fluidStart.begin(), s.fluidStart.end(), target) -
                                                s.fluidStart.begin() - 1);
        if (c > bound.back()) bound.push_back(c);
    }
    bound.push_back(static_cast<std::size_t>(cells));
    if (s.scan.size() < bound.size()) s.scan.resize(bound.size());
    s.unitPairs.resize(bound.size());
    auto run = [&s, &bound](int u) {
        s.unitPairs[u] =
            ScanCellRange(s, s.scan[u], static_cast<std::int32_t>(bound[u]), static_cast<std::int32_t>(bound[u + 1]));
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

// Moves the partners found by the cell-order scan (in the raw list in the
// order of the particles' places in the cell-sorted copy) into the pair
// list in array order, so that the passes find the pairs of consecutive
// particles in one short stretch of the list; each particle's segment at
// [pairBegin, pairEnd), its hits at [hitBegin, hitEnd). Boundary hits
// follow their pairs.
void ToArrayOrder(TSPHStepData& s, std::size_t n, std::size_t total) {
    ReservePairs(s, 0, total);
    std::int32_t* pairP = s.pairP.data();
    std::int32_t* pairQ = s.pairQ.data();
    const std::int32_t* rawQ = s.scan[0].rawQ.data();
    std::swap(s.hits, s.scan[0].hits);
    TBoundaryHit* hits = s.hits.data();
    std::int32_t np = 0;
    for (std::size_t i = 0; i < n; ++i) {
        const std::int32_t place = s.sortedPlace[i];
        const std::int32_t b = place > 0 ? s.scanPairEnd[place - 1] : 0;
        const std::int32_t count = s.scanPairEnd[place] - b;
        const std::int32_t shift = np - b;
        const std::int32_t hitBegin = place > 0 ? s.scanHitEnd[place - 1] : 0;
        const std::int32_t hitEnd = s.scanHitEnd[place];
        for (std::int32_t h = hitBegin; h < hitEnd; ++h) hits[h].At += shift;
        s.hitBegin[i] = hitBegin;
        s.hitEnd[i] = hitEnd;
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
    std::copy(s.fluidX.begin(), s.fluidX.end(), s.x.begin());
    std::copy(s.fluidY.begin(), s.fluidY.end(), s.y.begin());
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
        const int hx = static_cast<int>(
            std::trunc(std::fmin(std::fmax(static_cast<double>(p.PositionX) * C::INV_SMOOTHING_LENGTH, 0.0),
                                 world.GridWidth - 1)));
        const int hy = static_cast<int>(
            std::trunc(std::fmin(std::fmax(static_cast<double>(p.PositionY) * C::INV_SMOOTHING_LENGTH, 0.0),
                                 world.GridHeight - 1)));
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

bool BoundaryMatches(const std::vector<std::shared_ptr<TParticle>>& array, const TSPHStepData& s) {
    if (array.size() != s.boundaryAt.size()) return false;
    for (std::size_t i = 0; i < array.size(); ++i) {
        const TParticle* p = array[i].get();
        if (p != s.boundaryAt[i] || !SameBits(p->PositionX, s.boundaryX[i]) || !SameBits(p->PositionY, s.boundaryY[i]))
            return false;
    }
    return true;
}

bool GridMayMatch(const TSPH& world, const TSPHStepData& s) {
    return s.rebuilt && world.Particles.size() == s.fluidAt.size() && BoundaryMatches(world.BoundaryParticles, s);
}

void EnsurePairs(const TSPH& world, TSPHStepData& s, bool fast) {
    if (fast && s.pairsReusable) return;
    ++s.pairList;
    if (fast)
        BuildPairsFast(world, s);
    else
        BuildPairsFromLists(world, s);
}
