// The pair kernels built for AVX-512: everything after the target switch is
// compiled for AVX-512 F (and the AVX2 set's features, which the step asks
// for as well) and runs only where the processor has them (KernelsOf asks
// LaneSetAvailable first). The headers before the switch are built for the
// plain target, so their inline code stays safe to share.

#include <cstdint>
#include <vector>

#include "sph/lanes.h"
#include "sph/step_data.h"

#if defined(__x86_64__) && defined(__GNUC__)
// GCC 12's own AVX-512 header starts many results from an "undefined"
// vector and then warns that it is or may be used uninitialized (it never is).
#pragma GCC diagnostic ignored "-Wuninitialized"
#pragma GCC diagnostic ignored "-Wmaybe-uninitialized"
#include <immintrin.h>

#pragma GCC push_options
#pragma GCC target("avx2,fma,popcnt,avx512f")

#include "sph/lanes_avx512.h"
#include "sph/pair_kernels.h"

// The force sums and the seventh powers are the AVX2 set's.
extern const TLaneKernels kAvx512Kernels = {ScanCells<TAvx512Lanes>, DensityTerms<TAvx512Lanes>,
                                            ForceTerms<TAvx512Lanes>, SumForcesAvx2, SeventhPowersAvx2};

#pragma GCC pop_options
#endif
