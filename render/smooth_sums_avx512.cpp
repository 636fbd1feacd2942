// The smooth field's block sums built for AVX-512: everything after the target
// switch runs only where the processor has it (the field maker asks
// LaneSetAvailable first), with the same switch as the step's kernels.

#include "sph/lanes.h"
#include "sph/sph.h"

#if defined(__x86_64__) && defined(__GNUC__)
// GCC 12's own AVX-512 header starts many results from an "undefined"
// vector and then warns that it is or may be used uninitialized (it never is).
#pragma GCC diagnostic ignored "-Wuninitialized"
#pragma GCC diagnostic ignored "-Wmaybe-uninitialized"
#include <immintrin.h>

#pragma GCC push_options
#pragma GCC target("avx2,fma,popcnt,avx512f")

#include "render/smooth_sums.h"
#include "sph/lanes_avx512.h"

extern const TSmoothSums kSmoothSumsAvx512 = SumSmoothBlock<TAvx512Lanes>;

#pragma GCC pop_options
#endif
