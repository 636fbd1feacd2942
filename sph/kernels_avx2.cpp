// The pair kernels built for AVX2: everything after the target switch is
// compiled for AVX2 and runs only where the processor has it (the step asks
// ProcessorHasAvx2 first). The headers before the switch are built for the
// plain target, so their inline code stays safe to share.

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <vector>

#include "sph/constants.h"
#include "sph/lanes.h"
#include "sph/step_data.h"

#if defined(__x86_64__) && defined(__GNUC__)
#include <immintrin.h>

#pragma GCC push_options
#pragma GCC target("avx2,popcnt")

#include "sph/lanes_avx2.h"
#include "sph/pair_kernels.h"

std::size_t ScanCellsAvx2(TSPHStepData& s, TScanScratch& w, std::int32_t c0, std::int32_t c1) {
    return ScanCells<TAvx2Lanes>(s, w, c0, c1);
}

std::size_t DensityTermsAvx2(TSPHStepData& s, std::size_t from, std::size_t to) {
    return DensityTerms<TAvx2Lanes>(s, from, to);
}

std::size_t ForceTermsAvx2(TSPHStepData& s, std::size_t from, std::size_t to, bool haveDistance) {
    return ForceTerms<TAvx2Lanes>(s, from, to, haveDistance);
}

void SumForcesAvx2(TSPHStepData& s, std::size_t i0, std::size_t i1) { SumForces<TAvx2Lanes>(s, i0, i1); }

#pragma GCC pop_options
#endif
