#include "render/smooth_fields.h"

#include <algorithm>
#include <cmath>

// The sampling, turned inside out for speed. Sampling one sample at a time
// walks the nine cells around the sample's home cell, in the fixed offset
// order, each list from its head, and adds q^3 for every particle within the
// kernel radius. Here the nine offsets are taken in that same order, and for
// each offset every cell's list is walked once, adding to the samples whose
// home cell is that cell minus the offset. Every sample thus receives the
// same additions in the same order as before, so each float sum rounds the
// same way, while each particle is read once per offset and only the samples
// near it are looked at.

namespace {

using Fields = TSmoothFields;

// World units between samples: 3 pixels, SAMPLE_RATE * UNIT_SCALE *
// INV_WORLD_SCALE held in single precision (1.20000005).
constexpr float kSampleStep = static_cast<float>(static_cast<double>(TSPH::SAMPLE_RATE) * TSPH::UNIT_SCALE *
                                                 TSPH::INV_WORLD_SCALE);
constexpr double kRadiusSq = TSPH::SMOOTHING_LENGTH_SQ;
// A little more than the kernel radius: a particle farther than this from a
// sample row or column along one axis cannot reach it (the margin covers the
// rounding of the sample positions and of the distances).
constexpr double kReach = 3.9;

// The cell offsets in the order in which a sample visits its neighbour cells.
constexpr int kOffsets[9][2] = {{-1, -1}, {-1, 1}, {1, -1}, {1, 1}, {-1, 0}, {1, 0}, {0, -1}, {0, 1}, {0, 0}};

// Grid column (or row) of a sample at world coordinate s: the double product,
// truncated.
int HomeOf(float s) { return static_cast<int>(static_cast<double>(s) * TSPH::INV_SMOOTHING_LENGTH); }

// World coordinates of count samples, and first[h] = the first sample whose
// home is h or later, for h = 0 .. last home + 1 (so home h holds the samples
// first[h] .. first[h + 1] - 1).
void PlaceSamples(int count, std::vector<float>& at, std::vector<std::int32_t>& first) {
    at.resize(count);
    for (int k = 0; k < count; ++k) at[k] = static_cast<float>(static_cast<double>(k) * kSampleStep);
    const int homes = HomeOf(at[count - 1]) + 1;
    first.assign(homes + 1, count);
    for (int k = count; k-- > 0;) {
        for (int h = HomeOf(at[k]); h >= 0 && first[h] > k; --h) first[h] = k;
    }
}

// Samples [low, high) of count that a particle at coordinate v may reach
// along one axis; empty for a coordinate that is not finite (its distances
// compare false and add nothing).
void ReachOf(float v, int count, std::int16_t& low, std::int16_t& high) {
    if (!std::isfinite(v)) {
        low = high = 0;
        return;
    }
    const double lo = std::floor((v - kReach) / kSampleStep);
    const double hi = std::floor((v + kReach) / kSampleStep) + 1.0;
    low = static_cast<std::int16_t>(std::clamp(lo, 0.0, static_cast<double>(count)));
    high = static_cast<std::int16_t>(std::clamp(hi, 0.0, static_cast<double>(count)));
}

// Copies the fluid lists into flat arrays in list order, with each particle's
// sample reach, and records every non-empty cell as (column, row, first, end).
void GatherCells(const TSPH& world, TSmoothFieldScratch& s) {
    s.xs.clear();
    s.ys.clear();
    s.iLow.clear();
    s.iHigh.clear();
    s.jLow.clear();
    s.jHigh.clear();
    s.cells.clear();
    for (int x = 0; x < world.GridWidth; ++x) {
        for (int y = 0; y < world.GridHeight; ++y) {
            const auto first = static_cast<std::int32_t>(s.xs.size());
            for (const TParticle* p = world.FluidGrid(x, y); p != nullptr; p = p->Succ) {
                std::int16_t lo, hi;
                s.xs.push_back(p->PositionX);
                s.ys.push_back(p->PositionY);
                ReachOf(p->PositionX, Fields::COLUMNS, lo, hi);
                s.iLow.push_back(lo);
                s.iHigh.push_back(hi);
                ReachOf(p->PositionY, Fields::ROWS, lo, hi);
                s.jLow.push_back(lo);
                s.jHigh.push_back(hi);
            }
            const auto end = static_cast<std::int32_t>(s.xs.size());
            if (end != first) s.cells.insert(s.cells.end(), {x, y, first, end});
        }
    }
}

// Adds the kernel weight of particle p to every sample of columns [i0, i1)
// and rows [j0, j1) within its radius.
void AddParticle(const TSmoothFieldScratch& s, std::size_t p, int i0, int i1, int j0, int j1, float* density) {
    const double px = s.xs[p];
    const double py = s.ys[p];
    for (int j = j0; j < j1; ++j) {
        const double dy = py - static_cast<double>(s.sampleY[j]);
        const double dy2 = dy * dy;
        if (!(dy2 < kRadiusSq)) continue;  // the whole row is out of reach
        float* row = density + Fields::Index(0, j);
        for (int i = i0; i < i1; ++i) {
            const double dx = px - static_cast<double>(s.sampleX[i]);
            const double d2 = dx * dx + dy2;
            if (d2 < kRadiusSq) {
                const double q = static_cast<float>(kRadiusSq - d2);
                row[i] = static_cast<float>(static_cast<double>(row[i]) + q * q * q);
            }
        }
    }
}

// The kernel sums of every sample, in each sample's own order of additions.
void SumKernels(const TSmoothFieldScratch& s, float* density) {
    const int columnHomes = static_cast<int>(s.columnFirst.size()) - 1;
    const int rowHomes = static_cast<int>(s.rowFirst.size()) - 1;
    for (const auto& offset : kOffsets) {
        for (std::size_t c = 0; c < s.cells.size(); c += 4) {
            // The samples that reach this cell through this offset.
            const int hx = s.cells[c] - offset[0];
            const int hy = s.cells[c + 1] - offset[1];
            if (hx < 0 || hx >= columnHomes || hy < 0 || hy >= rowHomes) continue;
            const int i0 = s.columnFirst[hx], i1 = s.columnFirst[hx + 1];
            const int j0 = s.rowFirst[hy], j1 = s.rowFirst[hy + 1];
            for (auto p = static_cast<std::size_t>(s.cells[c + 2]); p < static_cast<std::size_t>(s.cells[c + 3]);
                 ++p) {
                const int ia = std::max<int>(i0, s.iLow[p]), ib = std::min<int>(i1, s.iHigh[p]);
                const int ja = std::max<int>(j0, s.jLow[p]), jb = std::min<int>(j1, s.jHigh[p]);
                if (ia < ib) AddParticle(s, p, ia, ib, ja, jb, density);
            }
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

void ComputeSmoothFields(const TSPH& world, TSmoothFields& fields, TSmoothFieldScratch& scratch) {
    if (scratch.sampleX.empty()) {
        PlaceSamples(Fields::COLUMNS, scratch.sampleX, scratch.columnFirst);
        PlaceSamples(Fields::ROWS, scratch.sampleY, scratch.rowFirst);
    }
    fields.Density.assign(Fields::SIZE, 0.0f);
    fields.White.resize(Fields::SIZE);
    fields.Alpha.resize(Fields::SIZE);
    GatherCells(world, scratch);
    SumKernels(scratch, fields.Density.data());

    // An empty sample is always white MAX_WHITE at opacity 0.
    for (std::size_t k = 0; k < Fields::SIZE; ++k) {
        float& d = fields.Density[k];
        if (d == 0.0f) {
            fields.White[k] = TSPH::MAX_WHITE;
            fields.Alpha[k] = 0.0f;
            continue;
        }
        d = static_cast<float>(static_cast<double>(d) * Fields::DENSITY_SCALE);
        ShadeSmoothSample(d, fields.White[k], fields.Alpha[k]);
    }
}
