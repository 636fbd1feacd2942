#pragma once
// The density field that smooth mode draws: kernel sums sampled every 3
// pixels, and the colour and opacity made from them.

#include <cstddef>
#include <cstdint>
#include <vector>

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

// Working memory of ComputeSmoothFields, kept between calls so that a frame
// allocates nothing once the particle count has settled.
struct TSmoothFieldScratch {
    std::vector<float> xs, ys;                // fluid positions, cell by cell in list order
    std::vector<std::int32_t> cellStart;      // first of each grid cell (x * height + y) in xs
    std::vector<std::uint8_t> blockUsed;      // per home cell: a neighbour cell holds fluid
    std::vector<std::int32_t> columnFirst, rowFirst;  // samples by home cell (see .cpp)
    std::vector<float> sampleX, sampleY;      // world position of each sample column and row
    std::vector<float> visitX, visitY;        // the particles two blocks of samples visit, in order
};
// Fills fields from the world's fluid grid exactly as sampling every sample
// over the nine cells around its own would, sum for sum and bit for bit;
// FluidGrid must hold the lists of the last RedistributeGrid.
void ComputeSmoothFields(const TSPH& world, TSmoothFields& fields, TSmoothFieldScratch& scratch);

// Colour and opacity of a sample whose scaled kernel sum is density.
void ShadeSmoothSample(float density, float& white, float& alpha);

// Whether ComputeSmoothFields uses its AVX2 kernel: true where the CPU has
// AVX2. Both kernels give the same bits; tests switch it off to check the other.
bool& SmoothFieldsUseAvx2();
