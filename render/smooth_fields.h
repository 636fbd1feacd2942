#pragma once
// The density field that smooth mode draws: kernel sums sampled every 3
// pixels, and the colour and opacity made from them.

#include <cstddef>
#include <cstdint>
#include <memory>
#include <vector>

#include "sph/lane_set.h"
#include "sph/sph.h"

// Three fields of 268 columns by 200 rows, sample (i, j) at pixel (3i, 3j).
// Stored row by row: element (i, j) is at Index(i, j).
struct TSmoothFields {
    static constexpr int COLUMNS = 268;  // ceil(800 / 3) + 1
    static constexpr int ROWS = 200;     // ceil(600 / 3)
    static constexpr std::size_t SIZE = static_cast<std::size_t>(COLUMNS) * ROWS;
    // Scale of the kernel sums: 1 / 13000 in single precision.
    static constexpr float DENSITY_SCALE = 7.69230755e-05f;

    std::vector<float> Density;  // summed kernel weights, scaled
    std::vector<float> White;    // red and green of the sample's colour
    std::vector<float> Alpha;    // opacity of the sample

    // Offset of sample (i, j) in each field.
    static std::size_t Index(int i, int j) { return static_cast<std::size_t>(j) * COLUMNS + i; }
    // Sizes all three fields and fills them with zeros.
    void Clear();
};

struct TSmoothFieldScratch;

// Makes the smooth-mode fields of a world. It keeps the fields and its
// working memory between calls, so that a frame allocates nothing once the
// particle count has settled and only the samples last stored are cleared.
class TSmoothFieldMaker {
public:
    TSmoothFieldMaker();
    ~TSmoothFieldMaker();
    TSmoothFieldMaker(const TSmoothFieldMaker&) = delete;
    TSmoothFieldMaker& operator=(const TSmoothFieldMaker&) = delete;

    // The fields of world, exactly as sampling every sample over the nine
    // cells around its own gives them, sum for sum and bit for bit. FluidGrid
    // must hold the lists of the last RedistributeGrid. Valid until the next call.
    const TSmoothFields& Compute(const TSPH& world);

    // The lane set of the sums; a maker starts with the widest available
    // (BestLaneSet). False, and no change, for a set this build or
    // processor does not have. Every set gives the same bits.
    bool SetLanes(TLaneSet lanes);
    // The lane set the sums run on.
    TLaneSet Lanes() const { return lanes_; }

private:
    TSmoothFields fields_;
    TLaneSet lanes_ = BestLaneSet();
    std::unique_ptr<TSmoothFieldScratch> scratch_;
};

// Colour and opacity of a sample whose scaled kernel sum is density.
void ShadeSmoothSample(float density, float& white, float& alpha);
