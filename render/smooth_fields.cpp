#include "render/smooth_fields.h"

#include <algorithm>
#include <cstring>

#if defined(__x86_64__) && defined(__GNUC__)
#include <immintrin.h>
#define FK_RENDER_X86 1
#define FK_AVX2 __attribute__((target("avx2")))
#endif

// The sampling, reorganised for speed. Each sample walks the nine cells
// around its home cell (the cell its position falls in), in the fixed offset
// order, each list from its head, adding q^3 for every particle within the
// kernel radius. All samples with the same home cell walk the same particles
// in the same order, so they are summed together: the particles of the nine
// cells are read once per home cell and added to its (at most 4 x 4) samples
// side by side. Every sample still receives exactly its own additions in its
// own order, so every float sum rounds as before, bit for bit. Home cells
// with no fluid around them are left at the empty value.

namespace {

using Fields = TSmoothFields;

// World units between samples: 3 pixels, SAMPLE_RATE * UNIT_SCALE *
// INV_WORLD_SCALE held in single precision (1.20000005).
constexpr float kSampleStep = static_cast<float>(static_cast<double>(TSPH::SAMPLE_RATE) * TSPH::UNIT_SCALE *
                                                 TSPH::INV_WORLD_SCALE);
constexpr double kRadiusSq = TSPH::SMOOTHING_LENGTH_SQ;
// A little more than the kernel radius, squared: a particle farther than this
// from all of a block's samples reaches none of them (the margin dwarfs the
// rounding of a float distance).
constexpr float kReachSq = 3.9f * 3.9f;
// Sample columns (and rows) whose home is one cell: a cell is 3.2 steps wide.
constexpr int kMostPerHome = 4;
static_assert(TSPH::SMOOTHING_LENGTH < (kMostPerHome - 0.5f) * kSampleStep, "a cell holds at most 4 x 4 samples");

// The cell offsets in the order in which a sample visits its neighbour cells.
constexpr int kOffsets[9][2] = {{-1, -1}, {-1, 1}, {1, -1}, {1, 1}, {-1, 0}, {1, 0}, {0, -1}, {0, 1}, {0, 0}};

// The samples of one home cell: columns i0 .. i0 + columns - 1, rows j0 .. j0 + rows - 1.
struct Block {
    int i0, columns, j0, rows;
};

// Kernel sums of one block, [row][column], before scaling.
using BlockSums = float[kMostPerHome][kMostPerHome];

// A block and the particles its samples visit: visitX/visitY[first ..
// first + count - 1] of the scratch.
struct Visits {
    Block block;
    std::int32_t first, count;
};

// Grid column (or row) of a sample at world coordinate v: the double
// product, truncated.
int HomeOf(float v) { return static_cast<int>(static_cast<double>(v) * TSPH::INV_SMOOTHING_LENGTH); }

// World coordinates of count samples (padded with zeros to a whole vector),
// and first[h] = the first sample whose home is h or later, for h = 0 .. last
// home + 1 (so home h holds the samples first[h] .. first[h + 1] - 1).
void PlaceSamples(int count, std::vector<float>& at, std::vector<std::int32_t>& first) {
    at.assign(count + kMostPerHome, 0.0f);
    for (int k = 0; k < count; ++k) at[k] = static_cast<float>(static_cast<double>(k) * kSampleStep);
    const int homes = HomeOf(at[count - 1]) + 1;
    first.assign(homes + 1, count);
    for (int k = count; k-- > 0;) {
        for (int h = HomeOf(at[k]); h >= 0 && first[h] > k; --h) first[h] = k;
    }
}

// Copies the fluid lists into flat arrays, cell by cell in list order, and
// marks the home cells that have fluid in one of their nine cells.
void GatherCells(const TSPH& world, TSmoothFieldScratch& s) {
    const int columnHomes = static_cast<int>(s.columnFirst.size()) - 1;
    const int rowHomes = static_cast<int>(s.rowFirst.size()) - 1;
    s.xs.clear();
    s.ys.clear();
    s.cellStart.resize(static_cast<std::size_t>(world.GridWidth) * world.GridHeight + 1);
    s.blockUsed.assign(static_cast<std::size_t>(columnHomes) * rowHomes, 0);
    std::size_t cell = 0;
    for (int x = 0; x < world.GridWidth; ++x) {
        for (int y = 0; y < world.GridHeight; ++y, ++cell) {
            s.cellStart[cell] = static_cast<std::int32_t>(s.xs.size());
            const TParticle* p = world.FluidGrid(x, y);
            if (p == nullptr) continue;
            for (; p != nullptr; p = p->Succ) {
                s.xs.push_back(p->PositionX);
                s.ys.push_back(p->PositionY);
            }
            for (const auto& offset : kOffsets) {
                const int hx = x - offset[0], hy = y - offset[1];
                if (hx >= 0 && hx < columnHomes && hy >= 0 && hy < rowHomes)
                    s.blockUsed[static_cast<std::size_t>(hx) * rowHomes + hy] = 1;
            }
        }
    }
    s.cellStart[cell] = static_cast<std::int32_t>(s.xs.size());
}

// Copies the positions of the particles that the samples of home cell
// (hx, hy) visit, in their order of visiting, into the visit arrays from
// index first on (growing them when needed). A particle that cannot reach
// the block adds nothing to it and is left out.
Visits CollectVisits(const TSPH& world, TSmoothFieldScratch& s, int hx, int hy, std::int32_t first) {
    const Block b{s.columnFirst[hx], s.columnFirst[hx + 1] - s.columnFirst[hx], s.rowFirst[hy],
                  s.rowFirst[hy + 1] - s.rowFirst[hy]};
    std::int32_t from[9], to[9];
    int ranges = 0;
    std::int32_t count = 0;
    for (const auto& offset : kOffsets) {
        const int x = hx + offset[0], y = hy + offset[1];
        if (x < 0 || x >= world.GridWidth || y < 0 || y >= world.GridHeight) continue;
        const std::size_t cell = static_cast<std::size_t>(x) * world.GridHeight + y;
        from[ranges] = s.cellStart[cell];
        to[ranges] = s.cellStart[cell + 1];
        count += to[ranges] - from[ranges];
        ++ranges;
    }
    if (s.visitX.size() < static_cast<std::size_t>(first + count)) {
        s.visitX.resize(static_cast<std::size_t>(first + count) * 2);
        s.visitY.resize(s.visitX.size());
    }
    // The block's samples span [left, right] x [top, bottom].
    const float left = s.sampleX[b.i0], right = s.sampleX[b.i0 + b.columns - 1];
    const float top = s.sampleY[b.j0], bottom = s.sampleY[b.j0 + b.rows - 1];
    float* vx = s.visitX.data() + first;
    float* vy = s.visitY.data() + first;
    std::int32_t kept = 0;
    for (int k = 0; k < ranges; ++k) {
        for (std::int32_t p = from[k]; p < to[k]; ++p) {
            const float x = s.xs[p], y = s.ys[p];
            // Distance outside the span along each axis (a NaN coordinate
            // may be kept: it adds nothing either way).
            const float beyondX = std::max(left - x, x - right);
            const float beyondY = std::max(top - y, y - bottom);
            const float outX = beyondX > 0.0f ? beyondX : 0.0f;
            const float outY = beyondY > 0.0f ? beyondY : 0.0f;
            vx[kept] = x;
            vy[kept] = y;
            kept += !(outX * outX + outY * outY >= kReachSq);
        }
    }
    return Visits{b, first, kept};
}

// One sample's step: q^3 added in double and the sum rounded to float.
float AddKernel(float sum, double d2) {
    if (!(d2 < kRadiusSq)) return sum;
    const double q = static_cast<float>(kRadiusSq - d2);
    return static_cast<float>(static_cast<double>(sum) + q * q * q);
}

void SumBlockPlain(const TSmoothFieldScratch& s, const Visits& v, BlockSums& sums) {
    const Block& b = v.block;
    for (auto& row : sums) std::fill(row, row + kMostPerHome, 0.0f);
    for (std::int32_t p = v.first; p < v.first + v.count; ++p) {
        const double px = s.visitX[p], py = s.visitY[p];
        for (int row = 0; row < b.rows; ++row) {
            const double dy = py - static_cast<double>(s.sampleY[b.j0 + row]);
            const double dy2 = dy * dy;
            for (int column = 0; column < b.columns; ++column) {
                const double dx = px - static_cast<double>(s.sampleX[b.i0 + column]);
                sums[row][column] = AddKernel(sums[row][column], dx * dx + dy2);
            }
        }
    }
}

#ifdef FK_RENDER_X86
// The running sums of a block of Rows rows, four columns to a vector
// (columns beyond the block's samples are summed too, from the zero
// padding, and never stored), with the samples' coordinates.
template <int Rows>
struct BlockRows {
    __m128 sums[Rows];
    __m256d sx, sy;
};

template <int Rows>
FK_AVX2 inline BlockRows<Rows> StartRows(const TSmoothFieldScratch& s, const Block& b) {
    BlockRows<Rows> r;
    for (auto& row : r.sums) row = _mm_setzero_ps();
    r.sx = _mm256_cvtps_pd(_mm_loadu_ps(&s.sampleX[b.i0]));
    r.sy = _mm256_cvtps_pd(_mm_loadu_ps(&s.sampleY[b.j0]));
    return r;
}

// One row of four samples: q^3 added in double and each sum rounded to float.
// A sample out of reach (d2 >= radius^2, or NaN) gets q = max(q, +0) = +0,
// and adding +0 leaves a non-negative float sum as it was, bit for bit.
FK_AVX2 inline __m128 AddKernels4(__m128 sums, __m256d dx2, __m256d dy2) {
    const __m256d radiusSq = _mm256_set1_pd(kRadiusSq);
    const __m256d d2 = _mm256_add_pd(dx2, dy2);
    const __m128 q = _mm_max_ps(_mm256_cvtpd_ps(_mm256_sub_pd(radiusSq, d2)), _mm_setzero_ps());
    const __m256d qd = _mm256_cvtps_pd(q);
    const __m256d q3 = _mm256_mul_pd(_mm256_mul_pd(qd, qd), qd);
    return _mm256_cvtpd_ps(_mm256_add_pd(_mm256_cvtps_pd(sums), q3));
}

// The particle at (x, y) added to every row of a block.
template <int Rows>
FK_AVX2 inline void AddToRows(BlockRows<Rows>& r, float x, float y) {
    static_assert(kMostPerHome == 4 && Rows >= 3 && Rows <= 4, "one vector per row, three or four rows");
    const __m256d dx = _mm256_sub_pd(_mm256_set1_pd(x), r.sx);
    const __m256d dx2 = _mm256_mul_pd(dx, dx);
    const __m256d dy = _mm256_sub_pd(_mm256_set1_pd(y), r.sy);
    const __m256d dy2 = _mm256_mul_pd(dy, dy);  // one row per lane
    r.sums[0] = AddKernels4(r.sums[0], dx2, _mm256_permute4x64_pd(dy2, 0x00));
    r.sums[1] = AddKernels4(r.sums[1], dx2, _mm256_permute4x64_pd(dy2, 0x55));
    r.sums[2] = AddKernels4(r.sums[2], dx2, _mm256_permute4x64_pd(dy2, 0xAA));
    if constexpr (Rows == 4) r.sums[3] = AddKernels4(r.sums[3], dx2, _mm256_permute4x64_pd(dy2, 0xFF));
}

// Two blocks summed side by side: each float sum waits for its previous
// addition, so two blocks' chains keep the CPU busy where one would not.
template <int RowsA, int RowsB>
FK_AVX2 void SumTwoBlocksAvx2(const TSmoothFieldScratch& s, const Visits& a, const Visits& b, BlockSums& sumsA,
                              BlockSums& sumsB) {
    BlockRows<RowsA> ra = StartRows<RowsA>(s, a.block);
    BlockRows<RowsB> rb = StartRows<RowsB>(s, b.block);
    const float* ax = &s.visitX[a.first];
    const float* ay = &s.visitY[a.first];
    const float* bx = &s.visitX[b.first];
    const float* by = &s.visitY[b.first];
    const std::int32_t both = std::min(a.count, b.count);
    for (std::int32_t k = 0; k < both; ++k) {
        AddToRows(ra, ax[k], ay[k]);
        AddToRows(rb, bx[k], by[k]);
    }
    for (std::int32_t k = both; k < a.count; ++k) AddToRows(ra, ax[k], ay[k]);
    for (std::int32_t k = both; k < b.count; ++k) AddToRows(rb, bx[k], by[k]);
    for (int row = 0; row < RowsA; ++row) _mm_storeu_ps(sumsA[row], ra.sums[row]);
    for (int row = 0; row < RowsB; ++row) _mm_storeu_ps(sumsB[row], rb.sums[row]);
}

// Blocks of three rows (most of them) skip the fourth; fewer rows run as four.
void SumTwoBlocks(const TSmoothFieldScratch& s, const Visits& a, const Visits& b, BlockSums& sumsA,
                  BlockSums& sumsB) {
    const bool threeA = a.block.rows == 3, threeB = b.block.rows == 3;
    if (threeA && threeB) return SumTwoBlocksAvx2<3, 3>(s, a, b, sumsA, sumsB);
    if (threeA) return SumTwoBlocksAvx2<3, 4>(s, a, b, sumsA, sumsB);
    if (threeB) return SumTwoBlocksAvx2<4, 3>(s, a, b, sumsA, sumsB);
    SumTwoBlocksAvx2<4, 4>(s, a, b, sumsA, sumsB);
}
#endif

// Sizes field to the sample count and fills it with value, by whole rows
// copied at memory speed (this file is built without the vectorizers).
void FillField(std::vector<float>& field, float value) {
    field.resize(Fields::SIZE);
    std::fill_n(field.data(), Fields::COLUMNS, value);
    for (std::size_t done = Fields::COLUMNS; done < Fields::SIZE; done *= 2)
        std::memcpy(field.data() + done, field.data(), std::min(done, Fields::SIZE - done) * sizeof(float));
}

// Scales a block's sums into the fields and shades them; zero sums keep the
// empty value the fields were filled with.
void StoreBlock(const Block& b, const BlockSums& sums, Fields& fields) {
    for (int row = 0; row < b.rows; ++row) {
        for (int column = 0; column < b.columns; ++column) {
            const float sum = sums[row][column];
            if (sum == 0.0f) continue;
            const std::size_t k = Fields::Index(b.i0 + column, b.j0 + row);
            const float d = static_cast<float>(static_cast<double>(sum) * Fields::DENSITY_SCALE);
            fields.Density[k] = d;
            ShadeSmoothSample(d, fields.White[k], fields.Alpha[k]);
        }
    }
}

}  // namespace

void TSmoothFields::Clear() {
    Density.assign(SIZE, 0.0f);
    White.assign(SIZE, 0.0f);
    Alpha.assign(SIZE, 0.0f);
}

void ShadeSmoothSample(float density, float& white, float& alpha) {
    alpha = static_cast<float>(2.0 * density);
    white = static_cast<float>(1.0 - density);
    if (white > TSPH::MAX_WHITE) {
        const float ratio = static_cast<float>(static_cast<double>(TSPH::MAX_WHITE) / white);
        alpha = static_cast<float>(static_cast<double>(alpha) * ratio);
        white = TSPH::MAX_WHITE;
    }
}

bool& SmoothFieldsUseAvx2() {
#ifdef FK_RENDER_X86
    static bool enabled = [] {
        __builtin_cpu_init();
        return __builtin_cpu_supports("avx2") != 0;
    }();
#else
    static bool enabled = false;
#endif
    return enabled;
}

void ComputeSmoothFields(const TSPH& world, TSmoothFields& fields, TSmoothFieldScratch& scratch) {
    TSmoothFieldScratch& s = scratch;
    if (s.sampleX.empty()) {
        PlaceSamples(Fields::COLUMNS, s.sampleX, s.columnFirst);
        PlaceSamples(Fields::ROWS, s.sampleY, s.rowFirst);
    }
    // An empty sample: sum 0, white MAX_WHITE, opacity 0 (2 * 0 scaled).
    FillField(fields.Density, 0.0f);
    FillField(fields.White, TSPH::MAX_WHITE);
    FillField(fields.Alpha, 0.0f);
    GatherCells(world, s);

    const int columnHomes = static_cast<int>(s.columnFirst.size()) - 1;
    const int rowHomes = static_cast<int>(s.rowFirst.size()) - 1;
    // Blocks are summed two at a time; an odd one out goes with an empty one.
    Visits pair[2];
    int pending = 0;
    auto sumPending = [&] {
        BlockSums sums[2];
        if (pending == 1) pair[1] = Visits{pair[0].block, 0, 0};
#ifdef FK_RENDER_X86
        if (SmoothFieldsUseAvx2()) {
            SumTwoBlocks(s, pair[0], pair[1], sums[0], sums[1]);
        } else {
            SumBlockPlain(s, pair[0], sums[0]);
            SumBlockPlain(s, pair[1], sums[1]);
        }
#else
        SumBlockPlain(s, pair[0], sums[0]);
        SumBlockPlain(s, pair[1], sums[1]);
#endif
        for (int k = 0; k < pending; ++k) StoreBlock(pair[k].block, sums[k], fields);
        pending = 0;
    };
    for (int hx = 0; hx < columnHomes; ++hx) {
        for (int hy = 0; hy < rowHomes; ++hy) {
            if (!s.blockUsed[static_cast<std::size_t>(hx) * rowHomes + hy]) continue;
            const std::int32_t first = pending == 0 ? 0 : pair[0].first + pair[0].count;
            pair[pending++] = CollectVisits(world, s, hx, hy, first);
            if (pending == 2) sumPending();
        }
    }
    if (pending != 0) sumPending();
}
