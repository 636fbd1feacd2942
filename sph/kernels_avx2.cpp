// The pair kernels built for AVX2, and the equation of state's seventh
// powers, four at a time: everything after the target switch is compiled
// for AVX2 (and FMA, used only where a product's exact error is wanted;
// the build never contracts) and runs only where the processor has them
// (KernelsOf asks LaneSetAvailable first). The headers before the switch are
// built for the plain target, so their inline code stays safe to share.

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
#pragma GCC target("avx2,fma,popcnt")

#include "sph/lanes_avx2.h"
#include "sph/pair_kernels.h"

void SumForcesAvx2(TSPHStepData& s, std::size_t i0, std::size_t i1) { SumForces<TAvx2Lanes>(s, i0, i1); }

extern const TLaneKernels kAvx2Kernels = {ScanCells<TAvx2Lanes>, DensityTerms<TAvx2Lanes>, ForceTerms<TAvx2Lanes>,
                                          SumForcesAvx2, SeventhPowersAvx2};

namespace {

using C = TSPHConstants;

// Error-free product: a * b = p + e exactly (the fused multiply-subtract
// rounds the exact a * b - p, which is a double, only once).
inline void TwoProduct4(__m256d a, __m256d b, __m256d& p, __m256d& e) {
    p = _mm256_mul_pd(a, b);
    e = _mm256_fmsub_pd(a, b, p);
}

// (ah + al) * (bh + bl) as a normalised double-double, to about 2^-104.
inline void DoubleDoubleProduct4(__m256d ah, __m256d al, __m256d bh, __m256d bl, __m256d& h, __m256d& l) {
    __m256d p, e;
    TwoProduct4(ah, bh, p, e);
    e = _mm256_add_pd(e, _mm256_add_pd(_mm256_mul_pd(ah, bl), _mm256_mul_pd(al, bh)));
    h = _mm256_add_pd(p, e);
    l = _mm256_sub_pd(e, _mm256_sub_pd(h, p));
}

// x^7 for four x near 1, exactly as std::pow(x, 7.0) rounds it. The power is
// formed in double-double (error about 2^-102 relative); where the exact
// value lies within 0.45 ulp of the nearest double h, pow (whose error is
// below 0.54 ulp) lands less than one ulp from h and so can only return h. The lanes that are closer to a tie, or
// near a power of two (other than x = 1 exactly), take std::pow itself.
// Returns the mask of those lanes.
inline int SeventhPower4(__m256d x, __m256d& out) {
    __m256d x2h, x2l, x3h, x3l, x4h, x4l, h, l;
    TwoProduct4(x, x, x2h, x2l);
    DoubleDoubleProduct4(x2h, x2l, x, _mm256_setzero_pd(), x3h, x3l);
    DoubleDoubleProduct4(x2h, x2l, x2h, x2l, x4h, x4l);
    DoubleDoubleProduct4(x4h, x4l, x3h, x3l, h, l);
    const __m256i bits = _mm256_castpd_si256(h);
    const __m256i exponent = _mm256_and_si256(bits, _mm256_set1_epi64x(0x7FF0000000000000ll));
    const __m256d ulp = _mm256_castsi256_pd(_mm256_sub_epi64(exponent, _mm256_set1_epi64x(52ll << 52)));
    const __m256i mantissa = _mm256_and_si256(bits, _mm256_set1_epi64x(0x000FFFFFFFFFFFFFll));
    const __m256i nearEdge =
        _mm256_or_si256(_mm256_cmpgt_epi64(_mm256_set1_epi64x(16), mantissa),
                        _mm256_cmpgt_epi64(mantissa, _mm256_set1_epi64x(0x000FFFFFFFFFFFFFll - 16)));
    const __m256d absLow = _mm256_andnot_pd(_mm256_set1_pd(-0.0), l);
    const __m256d close = _mm256_cmp_pd(absLow, _mm256_mul_pd(_mm256_set1_pd(0.45), ulp), _CMP_NLE_UQ);
    out = h;
    // At x = 1 (a density exactly at rest, common in a settled liquid) the
    // power is exactly 1, which h is, and pow(1, y) is 1 by definition.
    const __m256d one = _mm256_cmp_pd(x, _mm256_set1_pd(1.0), _CMP_EQ_OQ);
    return _mm256_movemask_pd(_mm256_andnot_pd(one, _mm256_or_pd(close, _mm256_castsi256_pd(nearEdge))));
}

// SeventhPowers for whole groups of four; returns how many it did. The
// lanes left to std::pow are collected and done afterwards, so that the
// loop itself does not branch on them.
}  // namespace

std::size_t SeventhPowersAvx2(const float* density, double* out, std::size_t n, std::vector<std::int32_t>& slow) {
    return SeventhPowerGroups<4>(density, out, n, slow, [&](std::size_t i) {
        const __m256d x = _mm256_div_pd(_mm256_cvtps_pd(_mm_loadu_ps(density + i)), _mm256_set1_pd(C::REST_DENSITY));
        __m256d power;
        const int mask = SeventhPower4(x, power);
        _mm256_storeu_pd(out + i, power);
        return mask;
    });
}

#pragma GCC pop_options
#endif
