#include "render/smooth_fields.h"

#include <algorithm>
#include <cmath>
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
// own order, so every float sum rounds as before, bit for bit. A particle
// too far from all of a block's samples is left out of its walk (it would
// add nothing), and home cells with no fluid around them keep the empty
// value, which the fields hold from one call to the next.

// Working memory of TSmoothFieldMaker.
struct TSmoothFieldScratch {
    std::vector<float> xs, ys;                // fluid positions, cell by cell in list order
    std::vector<std::int32_t> cellStart;      // first of each grid cell (x * height + y) in xs
    std::vector<std::uint8_t> blockUsed;      // per home cell: a neighbour cell holds fluid
    std::vector<std::int32_t> written;        // home cells whose samples the last call stored
    std::vector<std::int32_t> columnFirst, rowFirst;  // samples by home cell
    std::vector<float> sampleX, sampleY;      // world position of each sample column and row
    std::vector<float> visitX, visitY;        // the particles one block of samples visits, in order
};

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
static_assert(TSPH::SMOOTHING_LENGTH < kMostPerHome * kSampleStep, "a cell holds at most 4 x 4 samples");

// The cell offsets in the order in which a sample visits its neighbour cells.
constexpr int kOffsets[9][2] = {{-1, -1}, {-1, 1}, {1, -1}, {1, 1}, {-1, 0}, {1, 0}, {0, -1}, {0, 1}, {0, 0}};

// The samples of one home cell: columns i0 .. i0 + columns - 1, rows j0 .. j0 + rows - 1.
struct Block {
    int i0, columns, j0, rows;
};

// Kernel sums of one block, [row][column], before scaling.
using BlockSums = float[kMostPerHome][kMostPerHome];

// A block and the number of particles its samples visit (the first count
// entries of the scratch's visit arrays).
struct Visits {
    Block block;
    std::int32_t count;
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

// The samples of home cell (hx, hy).
Block BlockOf(const TSmoothFieldScratch& s, int hx, int hy) {
    return Block{s.columnFirst[hx], s.columnFirst[hx + 1] - s.columnFirst[hx], s.rowFirst[hy],
                 s.rowFirst[hy + 1] - s.rowFirst[hy]};
}

// Copies the fluid lists into flat arrays, cell by cell in list order, and
// marks the home cells that have fluid in one of their nine cells.
void GatherCells(const TSPH& world, TSmoothFieldScratch& s) {
    const int columnHomes = static_cast<int>(s.columnFirst.size()) - 1;
    const int rowHomes = static_cast<int>(s.rowFirst.size()) - 1;
    const TCellGrid& grid = world.FluidGrid;
    s.xs.clear();
    s.ys.clear();
    s.cellStart.resize(static_cast<std::size_t>(world.GridWidth) * world.GridHeight + 1);
    s.blockUsed.assign(static_cast<std::size_t>(columnHomes) * rowHomes, 0);
    // The particle objects are spread over memory: the head of a cell a few
    // cells ahead is fetched while this one's list is walked.
    constexpr int kAhead = 8;
    int aheadX = 0, aheadY = kAhead;
    std::size_t cell = 0;
    for (int x = 0; x < world.GridWidth; ++x) {
        for (int y = 0; y < world.GridHeight; ++y, ++cell) {
            for (; aheadY >= world.GridHeight; aheadY -= world.GridHeight) ++aheadX;
            if (aheadX < world.GridWidth) {
                if (const TParticle* next = grid(aheadX, aheadY)) {
                    __builtin_prefetch(&next->PositionX);
                    __builtin_prefetch(&next->Succ);
                }
            }
            ++aheadY;
            s.cellStart[cell] = static_cast<std::int32_t>(s.xs.size());
            const TParticle* p = grid(x, y);
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
// (hx, hy) visit, in their order of visiting, into the visit arrays (grown
// when needed). A particle that cannot reach the block adds nothing to it
// and is left out.
Visits CollectVisits(const TSPH& world, TSmoothFieldScratch& s, int hx, int hy) {
    const Block b = BlockOf(s, hx, hy);
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
    if (s.visitX.size() < static_cast<std::size_t>(count)) {
        s.visitX.resize(static_cast<std::size_t>(count) * 2);
        s.visitY.resize(s.visitX.size());
    }
    // The block's samples span [left, right] x [top, bottom].
    const float left = s.sampleX[b.i0], right = s.sampleX[b.i0 + b.columns - 1];
    const float top = s.sampleY[b.j0], bottom = s.sampleY[b.j0 + b.rows - 1];
    float* vx = s.visitX.data();
    float* vy = s.visitY.data();
    std::int32_t kept = 0;
    for (int k = 0; k < ranges; ++k) {
        for (std::int32_t p = from[k]; p < to[k]; ++p) {
            const float x = s.xs[p], y = s.ys[p];
            // Distance outside the span along each axis, (|b| + b) / 2 = max(b, 0)
            // without a branch (a NaN coordinate may be kept: it adds nothing
            // either way).
            const float beyondX = std::max(left - x, x - right);
            const float beyondY = std::max(top - y, y - bottom);
            const float outX = 0.5f * (std::fabs(beyondX) + beyondX);
            const float outY = 0.5f * (std::fabs(beyondY) + beyondY);
            vx[kept] = x;
            vy[kept] = y;
            kept += !(outX * outX + outY * outY >= kReachSq);
        }
    }
    return Visits{b, kept};
}

// One sample's step: q^3 added in double and the sum rounded to float.
float AddKernel(float sum, double d2) {
    if (!(d2 < kRadiusSq)) return sum;
    const double q = static_cast<float>(kRadiusSq - d2);
    return static_cast<float>(static_cast<double>(sum) + q * q * q);
}

// A block summed and stored, one sample at a time.
void SumBlockPlain(const TSmoothFieldScratch& s, const Visits& v, Fields& fields) {
    const Block& b = v.block;
    BlockSums sums = {};
    for (std::int32_t p = 0; p < v.count; ++p) {
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
    for (int row = 0; row < b.rows; ++row) {
        const std::size_t k = Fields::Index(b.i0, b.j0 + row);
        for (int column = 0; column < b.columns; ++column) {
            const float d = static_cast<float>(static_cast<double>(sums[row][column]) * Fields::DENSITY_SCALE);
            fields.Density[k + column] = d;
            ShadeSmoothSample(d, fields.White[k + column], fields.Alpha[k + column]);
        }
    }
}

#ifdef FK_RENDER_X86
// The running sums of a block of Rows rows, four columns to a vector, with
// the samples' coordinates. Places beyond the block's own samples (the next
// block's, or the zero padding at the far edges) are summed too and never stored.
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

// Scales one row of a block's sums into the fields and shades them, four
// columns at a time. Each step is one float operation on float operands, so
// it rounds exactly as the double operation rounded to float would.
FK_AVX2 inline void StoreRow4(Fields& fields, const Block& b, int row, __m128 sums) {
    const __m128 maxWhite = _mm_set1_ps(TSPH::MAX_WHITE);
    const __m128 d = _mm_mul_ps(sums, _mm_set1_ps(Fields::DENSITY_SCALE));
    const __m128 a = _mm_add_ps(d, d);
    const __m128 w = _mm_sub_ps(_mm_set1_ps(1.0f), d);
    const __m128 over = _mm_cmpgt_ps(w, maxWhite);
    const __m128 alpha = _mm_blendv_ps(a, _mm_mul_ps(a, _mm_div_ps(maxWhite, w)), over);
    const __m128 white = _mm_blendv_ps(w, maxWhite, over);
    // Only the block's own columns are written.
    const __m128i mine = _mm_cmpgt_epi32(_mm_set1_epi32(b.columns), _mm_setr_epi32(0, 1, 2, 3));
    const std::size_t k = Fields::Index(b.i0, b.j0 + row);
    _mm_maskstore_ps(&fields.Density[k], mine, d);
    _mm_maskstore_ps(&fields.White[k], mine, white);
    _mm_maskstore_ps(&fields.Alpha[k], mine, alpha);
}

// A block summed and stored; most blocks have three rows and skip the
// fourth, blocks of fewer rows (at the bottom edge) run as four.
template <int Rows>
FK_AVX2 void SumBlockAvx2(const TSmoothFieldScratch& s, const Visits& v, Fields& fields) {
    BlockRows<Rows> r = StartRows<Rows>(s, v.block);
    const float* x = s.visitX.data();
    const float* y = s.visitY.data();
    for (std::int32_t k = 0; k < v.count; ++k) AddToRows(r, x[k], y[k]);
    for (int row = 0; row < std::min(Rows, v.block.rows); ++row) StoreRow4(fields, v.block, row, r.sums[row]);
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

// Puts every sample that this call will not store back to empty: sum 0,
// white MAX_WHITE, opacity 0 (2 * 0, scaled). Fields that the last call
// filled hold stale values only in its stored blocks that are unused now.
void ClearUnusedBlocks(TSmoothFieldScratch& s, Fields& fields) {
    const int rowHomes = static_cast<int>(s.rowFirst.size()) - 1;
    if (fields.Density.size() != Fields::SIZE) {
        FillField(fields.Density, 0.0f);
        FillField(fields.White, TSPH::MAX_WHITE);
        FillField(fields.Alpha, 0.0f);
    } else {
        for (std::int32_t home : s.written) {
            if (s.blockUsed[static_cast<std::size_t>(home)]) continue;  // stored again below
            const Block b = BlockOf(s, home / rowHomes, home % rowHomes);
            for (int row = 0; row < b.rows; ++row) {
                const std::size_t k = Fields::Index(b.i0, b.j0 + row);
                std::fill_n(&fields.Density[k], b.columns, 0.0f);
                std::fill_n(&fields.White[k], b.columns, TSPH::MAX_WHITE);
                std::fill_n(&fields.Alpha[k], b.columns, 0.0f);
            }
        }
    }
    s.written.clear();
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

TSmoothFieldMaker::TSmoothFieldMaker() : scratch_(std::make_unique<TSmoothFieldScratch>()) {}

TSmoothFieldMaker::~TSmoothFieldMaker() = default;

const TSmoothFields& TSmoothFieldMaker::Compute(const TSPH& world) {
    TSmoothFieldScratch& s = *scratch_;
    if (s.sampleX.empty()) {
        PlaceSamples(Fields::COLUMNS, s.sampleX, s.columnFirst);
        PlaceSamples(Fields::ROWS, s.sampleY, s.rowFirst);
    }
    GatherCells(world, s);
    ClearUnusedBlocks(s, fields_);

    const int columnHomes = static_cast<int>(s.columnFirst.size()) - 1;
    const int rowHomes = static_cast<int>(s.rowFirst.size()) - 1;
    // Along the rows of blocks: neighbouring blocks fill neighbouring field memory.
    for (int hy = 0; hy < rowHomes; ++hy) {
        for (int hx = 0; hx < columnHomes; ++hx) {
            if (!s.blockUsed[static_cast<std::size_t>(hx) * rowHomes + hy]) continue;
            const Visits v = CollectVisits(world, s, hx, hy);
#ifdef FK_RENDER_X86
            if (SmoothFieldsUseAvx2() && v.block.rows == 3) {
                SumBlockAvx2<3>(s, v, fields_);
            } else if (SmoothFieldsUseAvx2()) {
                SumBlockAvx2<4>(s, v, fields_);
            } else {
                SumBlockPlain(s, v, fields_);
            }
#else
            SumBlockPlain(s, v, fields_);
#endif
            s.written.push_back(hx * rowHomes + hy);
        }
    }
    return fields_;
}
