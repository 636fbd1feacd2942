// The smooth field's block sums built for AVX2: everything after the target
// switch runs only where the processor has it (the field maker asks
// LaneSetAvailable first), with the same switch as the step's kernels.

#include "sph/lanes.h"
#include "sph/sph.h"

#if defined(__x86_64__) && defined(__GNUC__)
#include <immintrin.h>

#pragma GCC push_options
#pragma GCC target("avx2,fma,popcnt")

#include "render/smooth_sums.h"
#include "sph/lanes_avx2.h"

extern const TSmoothSums kSmoothSumsAvx2 = SumSmoothBlock<TAvx2Lanes>;

#pragma GCC pop_options
#endif
