#pragma once
// Internal to the renderer: the particles and kernel sums of one block of
// smooth-field samples, written once over a lane set L (sph/lanes.h, sph/lanes_avx2.h,
// ...) and built once per set: the plain set in smooth_fields.cpp, each
// other set in its own file (smooth_sums_avx2.cpp, ...) under its target
// switch. Each file gets its own copies (the namespace has no name).

#include <cstdint>

#include "sph/sph.h"

// The samples of one block, four columns by up to four rows taken row by
// row as sixteen slots (slots past the block's own columns or rows hold
// other samples' coordinates and are summed but never stored), and the
// particles of the nine cells around it.
struct TSmoothBlockVisits {
    const float* slotX;  // 16 sample x coordinates
    const float* slotY;  // 16 sample y coordinates
    int rows;            // rows of the block (1 to 4)
    // Particle positions, cell by cell, with a round of 16 readable past the
    // end; the nine cells' stretches of them in visiting order.
    const float* xs;
    const float* ys;
    std::int32_t from[9], to[9];
    int ranges;
    // A particle outside this box, or outside the box turned by 45 degrees
    // (bounds of x + y and x - y), reaches none of the block's samples.
    float left, right, top, bottom;
    float sumLow, sumHigh, differenceLow, differenceHigh;
    // Room for the particles that the samples visit, and a round of 16 more.
    float* visitX;
    float* visitY;
};

// Sums the block: sums[slot] = the slot's kernel sum, before scaling (the
// visit arrays are used as scratch).
using TSmoothSums = void (*)(const TSmoothBlockVisits& block, float* sums);

// The builds of the other sets (for x86-64 or WebAssembly only).
extern const TSmoothSums kSmoothSumsAvx2;
extern const TSmoothSums kSmoothSumsAvx512;
extern const TSmoothSums kSmoothSumsSimd128;

namespace {

// Copies the particles inside the block's two boxes to the visit arrays, in
// visiting order, a round at a time; returns how many. One left out would
// add nothing (and a kept one that reaches no sample adds +0).
template <typename L>
std::int32_t CollectVisits(const TSmoothBlockVisits& b) {
    using F = typename L::F;
    const F left = L::SplatF(b.left), right = L::SplatF(b.right);
    const F top = L::SplatF(b.top), bottom = L::SplatF(b.bottom);
    const F sumLow = L::SplatF(b.sumLow), sumHigh = L::SplatF(b.sumHigh);
    const F differenceLow = L::SplatF(b.differenceLow), differenceHigh = L::SplatF(b.differenceHigh);
    // In locals: the stores below may alias anything.
    const float* xs = b.xs;
    const float* ys = b.ys;
    float* visitX = b.visitX;
    float* visitY = b.visitY;
    std::int32_t kept = 0;
    for (int k = 0; k < b.ranges; ++k) {
        const std::int32_t end = b.to[k];
        for (std::int32_t p = b.from[k]; p < end; p += L::W) {
            const F x = L::LoadF(xs + p);
            const F y = L::LoadF(ys + p);
            const F sum = x + y, difference = x - y;
            const typename L::Mask in = L::FirstLanes(end - p) & L::Less(left, x) & L::Less(x, right) &
                                        L::Less(top, y) & L::Less(y, bottom) & L::Less(sumLow, sum) &
                                        L::Less(sum, sumHigh) & L::Less(differenceLow, difference) &
                                        L::Less(difference, differenceHigh);
            L::CompressF(visitX + kept, x, in);
            L::CompressF(visitY + kept, y, in);
            kept += L::Count(in);
        }
    }
    return kept;
}

// Each slot's sum, particle by particle in visiting order: q = r^2 - d^2
// rounded to float, q^3 added in double and the sum rounded to float. A
// particle out of reach (d^2 >= r^2, or NaN) gets q = +0, and adding +0
// leaves a non-negative float sum as it was, bit for bit. Groups: rounds
// of L::N slots that cover the block's rows.
template <typename L, int Groups>
void SumSlotGroups(const TSmoothBlockVisits& b, std::int32_t count, float* sums) {
    using D = typename L::D;
    // Every round of four or eight lanes sees the same four columns.
    constexpr bool sameColumns = L::N % 4 == 0;
    D sx[Groups], sy[Groups], acc[Groups];
    for (int g = 0; g < Groups; ++g) {
        sx[g] = L::LoadFloats(b.slotX + g * L::N);
        sy[g] = L::LoadFloats(b.slotY + g * L::N);
        acc[g] = L::Splat(0.0);
    }
    const D radiusSq = L::Splat(TSPH::SMOOTHING_LENGTH_SQ);
    for (std::int32_t p = 0; p < count; ++p) {
        const D px = L::Splat(b.visitX[p]);
        const D py = L::Splat(b.visitY[p]);
        D dx2[Groups];
        for (int g = 0; g < Groups; ++g) {
            if (sameColumns && g > 0) {
                dx2[g] = dx2[0];
                continue;
            }
            const D dx = px - sx[g];
            dx2[g] = dx * dx;
        }
        for (int g = 0; g < Groups; ++g) {
            const D dy = py - sy[g];
            const D q = L::AtLeastZero(L::RoundToFloat(radiusSq - (dx2[g] + dy * dy)));
            acc[g] = L::RoundToFloat(acc[g] + q * q * q);
        }
    }
    for (int g = 0; g < Groups; ++g) L::StoreFloats(sums + g * L::N, acc[g]);
}

// The block's sums with as few rounds as its rows need (most blocks have
// three rows; the rare shorter ones at the bottom run as four).
template <typename L>
void SumSmoothBlock(const TSmoothBlockVisits& b, float* sums) {
    constexpr int three = (12 + L::N - 1) / L::N;
    const std::int32_t count = CollectVisits<L>(b);
    if (b.rows == 3) return SumSlotGroups<L, three>(b, count, sums);
    SumSlotGroups<L, 16 / L::N>(b, count, sums);
}

}  // namespace
