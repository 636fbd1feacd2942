#include "render/smooth_fields.h"

#include <algorithm>
#include <cmath>
#include <cstring>

#include "render/smooth_sums.h"
#include "sph/lanes.h"

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
// value, which the fields hold from one call to the next. The sums run on
// the lane sets of the step's kernels (render/smooth_sums.h), all of which
// give the same bits.

// Working memory of TSmoothFieldMaker.
struct TSmoothFieldScratch {
    std::vector<float> xs, ys;                        // fluid positions, cell by cell in list order
    std::vector<std::int32_t> cellStart;              // first of each grid cell (x * height + y) in xs
    std::vector<std::uint8_t> blockUsed;              // per home cell: a neighbour cell holds fluid
    std::vector<std::int32_t> written;                // home cells whose samples the last call stored
    std::vector<std::int32_t> columnFirst, rowFirst;  // samples by home cell
    std::vector<float> sampleX, sampleY;              // world position of each sample column and row
    std::vector<float> visitX, visitY;                // the particles one block of samples visits, in order
    float slotX[16], slotY[16];                       // the current block's samples, row by row
    float sums[16];                                   // and their sums
};

namespace {

using Fields = TSmoothFields;

// World units between samples: 3 pixels, SAMPLE_RATE * UNIT_SCALE *
// INV_WORLD_SCALE held in single precision (1.20000005).
constexpr float kSampleStep =
    static_cast<float>(static_cast<double>(TSPH::SAMPLE_RATE) * TSPH::UNIT_SCALE * TSPH::INV_WORLD_SCALE);
// A little more than the kernel radius: a particle farther than this from
// all of a block's samples along either axis reaches none of them (the
// margin dwarfs the rounding of a float coordinate).
constexpr float kReach = 3.9f;
constexpr float kDiagonalReach = kReach * 1.41421356f;
// The widest round of a lane set: the slack past gathered and visited particles.
constexpr std::size_t kRound = 16;
// Sample columns (and rows) whose home is one cell: a cell is 3.2 steps wide.
constexpr int kMostPerHome = 4;
static_assert(TSPH::SMOOTHING_LENGTH < kMostPerHome * kSampleStep, "a cell holds at most 4 x 4 samples");

// The cell offsets in the order in which a sample visits its neighbour cells.
constexpr int kOffsets[9][2] = {{-1, -1}, {-1, 1}, {1, -1}, {1, 1}, {-1, 0}, {1, 0}, {0, -1}, {0, 1}, {0, 0}};

// The samples of one home cell: columns i0 .. i0 + columns - 1, rows j0 .. j0 + rows - 1.
struct Block {
    int i0, columns, j0, rows;
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

// Starts loading what GatherCells reads of a particle.
void Fetch(const TParticle* p) {
    __builtin_prefetch(&p->PositionX);
    __builtin_prefetch(&p->Succ);
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
    // The particle objects are spread over memory, and each list is a chain
    // of loads that wait on one another: the lists ahead are fetched in
    // stages, a far cell's head, a nearer one's second particle, a nearer
    // one's third (each loaded by then from the stage before).
    constexpr std::size_t kStage = 6;  // cells between stages
    const std::size_t cells = static_cast<std::size_t>(world.GridWidth) * world.GridHeight;
    std::size_t cell = 0;
    for (int x = 0; x < world.GridWidth; ++x) {
        for (int y = 0; y < world.GridHeight; ++y, ++cell) {
            if (cell + 3 * kStage < cells) {
                if (const TParticle* p = grid.Cell(cell + 3 * kStage)) Fetch(p);
                if (const TParticle* p = grid.Cell(cell + 2 * kStage); p && p->Succ) Fetch(p->Succ);
                if (const TParticle* p = grid.Cell(cell + kStage); p && p->Succ && p->Succ->Succ) Fetch(p->Succ->Succ);
            }
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
    // Whole rounds may be read past the last cell.
    s.xs.resize(s.xs.size() + kRound, 0.0f);
    s.ys.resize(s.ys.size() + kRound, 0.0f);
}

// The nine cells' stretches of the gathered particles around home cell
// (hx, hy) in visiting order, the box that bounds the particles that can
// reach the block's samples, and room for them in the visit arrays.
TSmoothBlockVisits FindVisits(const TSPH& world, TSmoothFieldScratch& s, const Block& b, int hx, int hy) {
    TSmoothBlockVisits v;
    v.ranges = 0;
    std::int32_t count = 0;
    for (const auto& offset : kOffsets) {
        const int x = hx + offset[0], y = hy + offset[1];
        if (x < 0 || x >= world.GridWidth || y < 0 || y >= world.GridHeight) continue;
        const std::size_t cell = static_cast<std::size_t>(x) * world.GridHeight + y;
        v.from[v.ranges] = s.cellStart[cell];
        v.to[v.ranges] = s.cellStart[cell + 1];
        count += v.to[v.ranges] - v.from[v.ranges];
        ++v.ranges;
    }
    const std::size_t room = static_cast<std::size_t>(count) + kRound;
    if (s.visitX.size() < room) {
        s.visitX.resize(2 * room);
        s.visitY.resize(s.visitX.size());
    }
    v.xs = s.xs.data();
    v.ys = s.ys.data();
    v.visitX = s.visitX.data();
    v.visitY = s.visitY.data();
    // The samples span [left, right] x [top, bottom]; a particle farther
    // than the reach from that along either axis, or along either diagonal,
    // reaches none of them.
    const float left = s.sampleX[b.i0], right = s.sampleX[b.i0 + b.columns - 1];
    const float top = s.sampleY[b.j0], bottom = s.sampleY[b.j0 + b.rows - 1];
    v.left = left - kReach;
    v.right = right + kReach;
    v.top = top - kReach;
    v.bottom = bottom + kReach;
    v.sumLow = left + top - kDiagonalReach;
    v.sumHigh = right + bottom + kDiagonalReach;
    v.differenceLow = left - bottom - kDiagonalReach;
    v.differenceHigh = right - top + kDiagonalReach;
    return v;
}

// The block sums of a lane set: the plain set's where this build or
// processor does not have it.
TSmoothSums SumsOf(TLaneSet lanes) {
    if (!LaneSetAvailable(lanes)) return SumSmoothBlock<TPlainLanes>;
    switch (lanes) {
#if defined(__x86_64__) && defined(__GNUC__)
    case TLaneSet::Avx2: return kSmoothSumsAvx2;
    case TLaneSet::Avx512: return kSmoothSumsAvx512;
#endif
#ifdef __wasm_simd128__
    case TLaneSet::Simd128: return kSmoothSumsSimd128;
#endif
    default: return SumSmoothBlock<TPlainLanes>;
    }
}

// The block of home cell (hx, hy) summed on the given lanes, scaled into
// the fields and shaded.
void SumBlock(const TSPH& world, TSmoothFieldScratch& s, int hx, int hy, TSmoothSums sums, Fields& fields) {
    const Block b = BlockOf(s, hx, hy);
    TSmoothBlockVisits v = FindVisits(world, s, b, hx, hy);
    for (int slot = 0; slot < 16; ++slot) {
        s.slotX[slot] = s.sampleX[b.i0 + slot % kMostPerHome];
        s.slotY[slot] = s.sampleY[b.j0 + slot / kMostPerHome];
    }
    v.slotX = s.slotX;
    v.slotY = s.slotY;
    v.rows = b.rows;
    sums(v, s.sums);
    for (int row = 0; row < b.rows; ++row) {
        const std::size_t k = Fields::Index(b.i0, b.j0 + row);
        for (int column = 0; column < b.columns; ++column) {
            const float sum = s.sums[row * kMostPerHome + column];
            const float d = static_cast<float>(static_cast<double>(sum) * Fields::DENSITY_SCALE);
            fields.Density[k + column] = d;
            ShadeSmoothSample(d, fields.White[k + column], fields.Alpha[k + column]);
        }
    }
}

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

TSmoothFieldMaker::TSmoothFieldMaker() : scratch_(std::make_unique<TSmoothFieldScratch>()) {}

bool TSmoothFieldMaker::SetLanes(TLaneSet lanes) {
    if (!LaneSetAvailable(lanes)) return false;
    lanes_ = lanes;
    return true;
}

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
    const TSmoothSums sums = SumsOf(lanes_);
    // Along the rows of blocks: neighbouring blocks fill neighbouring field memory.
    for (int hy = 0; hy < rowHomes; ++hy) {
        for (int hx = 0; hx < columnHomes; ++hx) {
            if (!s.blockUsed[static_cast<std::size_t>(hx) * rowHomes + hy]) continue;
            SumBlock(world, s, hx, hy, sums, fields_);
            s.written.push_back(hx * rowHomes + hy);
        }
    }
    return fields_;
}
