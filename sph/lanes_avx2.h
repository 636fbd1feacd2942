#pragma once
// Internal to the sph library and the renderer's smooth field: the AVX2
// lane set, four double lanes and eight float or int32 lanes (see
// sph/lanes.h for what a lane set names). Included only where AVX2 code is
// compiled (sph/kernels_avx2.cpp, render/smooth_sums_avx2.cpp), after its
// target switch; everything here has no name outside its file, so no copy
// built for AVX2 is ever shared with other code.

#include <immintrin.h>

#include <cstdint>

#include "sph/lanes.h"
#include "sph/step_data.h"

namespace {
namespace avx2_lanes {

struct D {
    __m256d v;
};
inline D operator+(D a, D b) { return {_mm256_add_pd(a.v, b.v)}; }
inline D operator-(D a, D b) { return {_mm256_sub_pd(a.v, b.v)}; }
inline D operator*(D a, D b) { return {_mm256_mul_pd(a.v, b.v)}; }
inline D operator/(D a, D b) { return {_mm256_div_pd(a.v, b.v)}; }
inline D operator-(D a) { return {_mm256_xor_pd(a.v, _mm256_set1_pd(-0.0))}; }

struct F {
    __m256 v;
};
inline F operator+(F a, F b) { return {_mm256_add_ps(a.v, b.v)}; }
inline F operator-(F a, F b) { return {_mm256_sub_ps(a.v, b.v)}; }

struct I {
    __m256i v;
};

// Lane permutations that pack the selected lanes of an 8-lane vector first.
// Built at compile time: no code of this file runs before the processor
// has been asked whether it has AVX2.
struct TCompressTable {
    alignas(32) std::int32_t lanes[256][8] = {};
    constexpr TCompressTable() {
        for (int m = 0; m < 256; ++m) {
            int n = 0;
            for (int b = 0; b < 8; ++b)
                if (m & (1 << b)) lanes[m][n++] = b;
        }
    }
};
inline constexpr TCompressTable kCompress{};

inline __m256i PackSelected(int mask) {
    return _mm256_load_si256(reinterpret_cast<const __m256i*>(kCompress.lanes[mask]));
}

// Four rows of one cache line (or half of one) as lanes: columns a to d of
// rows r0 to r3.
inline void Transpose(__m256d r0, __m256d r1, __m256d r2, __m256d r3, __m256d& a, __m256d& b, __m256d& c, __m256d& d) {
    const __m256d t0 = _mm256_unpacklo_pd(r0, r1);
    const __m256d t1 = _mm256_unpackhi_pd(r0, r1);
    const __m256d t2 = _mm256_unpacklo_pd(r2, r3);
    const __m256d t3 = _mm256_unpackhi_pd(r2, r3);
    a = _mm256_permute2f128_pd(t0, t2, 0x20);
    b = _mm256_permute2f128_pd(t1, t3, 0x20);
    c = _mm256_permute2f128_pd(t0, t2, 0x31);
    d = _mm256_permute2f128_pd(t1, t3, 0x31);
}

}  // namespace avx2_lanes

struct TAvx2Lanes {
    static constexpr int N = 4;
    static constexpr int W = 8;
    using D = avx2_lanes::D;
    using F = avx2_lanes::F;
    using I = avx2_lanes::I;
    using Mask = int;

    // Two floats per lane, x then y, as the rows' last double carries them.
    struct XY {
        __m256d v;
    };
    using DensityRows = TDensityLanes<D, XY>;
    using ForceRows = TForceLanes<D, XY>;

    static D Splat(double v) { return {_mm256_set1_pd(v)}; }
    static D Sqrt(D v) { return {_mm256_sqrt_pd(v.v)}; }
    static D RoundToFloat(D v) { return {_mm256_cvtps_pd(_mm256_cvtpd_ps(v.v))}; }
    static D IfNegative(D sign, D yes, D no) {
        return {_mm256_blendv_pd(no.v, yes.v, _mm256_cmp_pd(sign.v, _mm256_setzero_pd(), _CMP_LT_OQ))};
    }
    static D AtLeastZero(D v) { return {_mm256_max_pd(v.v, _mm256_setzero_pd())}; }  // max gives the second for NaN, -0
    static D LoadFloats(const float* p) { return {_mm256_cvtps_pd(_mm_loadu_ps(p))}; }
    static void StoreFloats(float* p, D v) { _mm_storeu_ps(p, _mm256_cvtpd_ps(v.v)); }
    static void Store(double* p, D v) { _mm256_storeu_pd(p, v.v); }
    // One record per pair: the four term vectors transposed.
    static void StoreTerms(TForceTerm* out, D fx, D fy, D sx, D sy) {
        __m256d t0, t1, t2, t3;
        avx2_lanes::Transpose(fx.v, fy.v, sx.v, sy.v, t0, t1, t2, t3);
        double* o = &out->fx;
        _mm256_store_pd(o, t0);
        _mm256_store_pd(o + 4, t1);
        _mm256_store_pd(o + 8, t2);
        _mm256_store_pd(o + 12, t3);
    }

    static DensityRows LoadDensityRows(const TDensityRow* rows, const std::int32_t* index) {
        DensityRows v;
        avx2_lanes::Transpose(_mm256_load_pd(&rows[index[0]].vx), _mm256_load_pd(&rows[index[1]].vx),
                              _mm256_load_pd(&rows[index[2]].vx), _mm256_load_pd(&rows[index[3]].vx), v.vx.v, v.vy.v,
                              v.mass.v, v.xy.v);
        return v;
    }
    static ForceRows LoadForceRows(const TOperandRow* rows, const std::int32_t* index) {
        const double* r0 = &rows[index[0]].vx;
        const double* r1 = &rows[index[1]].vx;
        const double* r2 = &rows[index[2]].vx;
        const double* r3 = &rows[index[3]].vx;
        ForceRows v;
        avx2_lanes::Transpose(_mm256_load_pd(r0), _mm256_load_pd(r1), _mm256_load_pd(r2), _mm256_load_pd(r3), v.vx.v,
                              v.vy.v, v.pressure.v, v.density.v);
        avx2_lanes::Transpose(_mm256_load_pd(r0 + 4), _mm256_load_pd(r1 + 4), _mm256_load_pd(r2 + 4),
                              _mm256_load_pd(r3 + 4), v.sound.v, v.kernelMass.v, v.xsphMass.v, v.xy.v);
        return v;
    }
    static void Separate(XY p, XY q, D& dx, D& dy, D& r2) {
        const __m256i split = _mm256_setr_epi32(0, 2, 4, 6, 1, 3, 5, 7);
        const __m256 pp = _mm256_permutevar8x32_ps(_mm256_castpd_ps(p.v), split);
        const __m256 qq = _mm256_permutevar8x32_ps(_mm256_castpd_ps(q.v), split);
        const __m256 d = _mm256_sub_ps(pp, qq);  // four x differences, then four y differences
        dx.v = _mm256_cvtps_pd(_mm256_castps256_ps128(d));
        dy.v = _mm256_cvtps_pd(_mm256_extractf128_ps(d, 1));
        r2.v = _mm256_cvtps_pd(_mm256_cvtpd_ps(_mm256_add_pd(_mm256_mul_pd(dx.v, dx.v), _mm256_mul_pd(dy.v, dy.v))));
    }

    // The four sums of a particle as one vector, a pair's four terms as one.
    using Sum = __m128;
    using Term = __m256d;
    static Sum LoadSum(const TForceSum* p) { return _mm_load_ps(&p->fx); }
    static void StoreSum(TForceSum* p, Sum v) { _mm_store_ps(&p->fx, v); }
    static Term LoadTerm(const TForceTerm* p) { return _mm256_load_pd(&p->fx); }
    static Sum AddTerm(Sum a, Term t) { return _mm256_cvtpd_ps(_mm256_add_pd(_mm256_cvtps_pd(a), t)); }
    static Sum SubtractTerm(Sum a, Term t) { return _mm256_cvtpd_ps(_mm256_sub_pd(_mm256_cvtps_pd(a), t)); }
    // A boundary push, into the force only: -0.0 leaves the XSPH sums as
    // they are, bit for bit (a +0.0 would turn a -0.0 into +0.0).
    static Sum AddPush(Sum a, const TBoundaryHit& h) {
        return _mm256_cvtpd_ps(_mm256_add_pd(_mm256_cvtps_pd(a), _mm256_setr_pd(h.Gx, h.Gy, -0.0, -0.0)));
    }

    static F LoadF(const float* p) { return {_mm256_loadu_ps(p)}; }
    static I LoadI(const std::int32_t* p) { return {_mm256_loadu_si256(reinterpret_cast<const __m256i*>(p))}; }
    static void StoreF(float* p, F v) { _mm256_storeu_ps(p, v.v); }
    static void StoreI(std::int32_t* p, I v) { _mm256_storeu_si256(reinterpret_cast<__m256i*>(p), v.v); }
    static F SplatF(float v) { return {_mm256_set1_ps(v)}; }
    static I SplatI(std::int32_t v) { return {_mm256_set1_epi32(v)}; }
    static F SquaredLength(F dx, F dy) {
        const __m256d xl = _mm256_cvtps_pd(_mm256_castps256_ps128(dx.v));
        const __m256d xh = _mm256_cvtps_pd(_mm256_extractf128_ps(dx.v, 1));
        const __m256d yl = _mm256_cvtps_pd(_mm256_castps256_ps128(dy.v));
        const __m256d yh = _mm256_cvtps_pd(_mm256_extractf128_ps(dy.v, 1));
        const __m128 low = _mm256_cvtpd_ps(_mm256_add_pd(_mm256_mul_pd(xl, xl), _mm256_mul_pd(yl, yl)));
        const __m128 high = _mm256_cvtpd_ps(_mm256_add_pd(_mm256_mul_pd(xh, xh), _mm256_mul_pd(yh, yh)));
        return {_mm256_insertf128_ps(_mm256_castps128_ps256(low), high, 1)};
    }
    // The plain set's window test: decided by the cheap estimate where every
    // lane lies clearly inside or outside, by the exact r^2 otherwise (rare;
    // also for a NaN, which is neither).
    static Mask InPairWindow(F dx, F dy) {
        using E = TSPHWindowEstimate;
        const __m256 e = _mm256_add_ps(_mm256_mul_ps(dx.v, dx.v), _mm256_mul_ps(dy.v, dy.v));
        const int in = _mm256_movemask_ps(_mm256_and_ps(_mm256_cmp_ps(e, _mm256_set1_ps(E::LOW_IN), _CMP_GT_OQ),
                                                        _mm256_cmp_ps(e, _mm256_set1_ps(E::HIGH_IN), _CMP_LT_OQ)));
        const int out = _mm256_movemask_ps(_mm256_or_ps(_mm256_cmp_ps(e, _mm256_set1_ps(E::LOW_OUT), _CMP_LT_OQ),
                                                        _mm256_cmp_ps(e, _mm256_set1_ps(E::HIGH_OUT), _CMP_GT_OQ)));
        if ((in | out) == 0xFF) return in;
        const F r2 = SquaredLength(dx, dy);
        return Less(SplatF(TSPHFormula::PAIR_WINDOW_MIN_SQ), r2) & Less(r2, SplatF(TSPHConstants::SMOOTHING_LENGTH_SQ));
    }
    static Mask Less(F a, F b) { return _mm256_movemask_ps(_mm256_cmp_ps(a.v, b.v, _CMP_LT_OQ)); }
    static Mask Less(I a, I b) { return _mm256_movemask_ps(_mm256_castsi256_ps(_mm256_cmpgt_epi32(b.v, a.v))); }
    static Mask FirstLanes(std::int32_t count) { return count >= 8 ? 0xFF : (1 << count) - 1; }
    static int Count(Mask m) { return _mm_popcnt_u32(static_cast<unsigned>(m)); }
    static void Compress(std::int32_t* out, I v, Mask m) {
        _mm256_storeu_si256(reinterpret_cast<__m256i*>(out),
                            _mm256_permutevar8x32_epi32(v.v, avx2_lanes::PackSelected(m)));
    }
    static void CompressF(float* out, F v, Mask m) {
        _mm256_storeu_ps(out, _mm256_permutevar8x32_ps(v.v, avx2_lanes::PackSelected(m)));
    }
};

}  // namespace
