#pragma once
// Internal to the sph library and the renderer's smooth field: the AVX-512
// lane set, eight double lanes and sixteen float or int32 lanes, with
// AVX-512 F only (see sph/lanes.h for what a lane set names). Included only
// where AVX-512 code is compiled, after its target switch; everything here has
// no name outside its file, so no copy built for AVX-512 is ever shared.

#include <immintrin.h>

#include <cstdint>

#include "sph/lanes.h"
#include "sph/step_data.h"

namespace {
namespace avx512_lanes {

struct D {
    __m512d v;
};
inline D operator+(D a, D b) { return {_mm512_add_pd(a.v, b.v)}; }
inline D operator-(D a, D b) { return {_mm512_sub_pd(a.v, b.v)}; }
inline D operator*(D a, D b) { return {_mm512_mul_pd(a.v, b.v)}; }
inline D operator/(D a, D b) { return {_mm512_div_pd(a.v, b.v)}; }
inline D operator-(D a) {
    return {_mm512_castsi512_pd(_mm512_xor_si512(_mm512_castpd_si512(a.v), _mm512_set1_epi64(INT64_MIN)))};
}

struct F {
    __m512 v;
};
inline F operator+(F a, F b) { return {_mm512_add_ps(a.v, b.v)}; }
inline F operator-(F a, F b) { return {_mm512_sub_ps(a.v, b.v)}; }

struct I {
    __m512i v;
};

// Lane picks of two vectors a, b (b's lanes numbered from 8) that gather
// the pairs of lanes {0, 1} and {4, 5} (Low) or {2, 3} and {6, 7} (High)
// of each 256-bit half of a and b: with the in-lane unpacks before them,
// four rows of four columns in each half become columns.
inline __m512d PickLow(__m512d a, __m512d b) {
    return _mm512_permutex2var_pd(a, _mm512_setr_epi64(0, 1, 8, 9, 4, 5, 12, 13), b);
}
inline __m512d PickHigh(__m512d a, __m512d b) {
    return _mm512_permutex2var_pd(a, _mm512_setr_epi64(2, 3, 10, 11, 6, 7, 14, 15), b);
}

// z0 .. z3 hold rows r and r + 4 of four columns in their halves; out
// column c holds c of rows 0 .. 7.
inline void TransposeHalves(__m512d z0, __m512d z1, __m512d z2, __m512d z3, __m512d& c0, __m512d& c1, __m512d& c2,
                            __m512d& c3) {
    const __m512d t0 = _mm512_unpacklo_pd(z0, z1);
    const __m512d t1 = _mm512_unpackhi_pd(z0, z1);
    const __m512d t2 = _mm512_unpacklo_pd(z2, z3);
    const __m512d t3 = _mm512_unpackhi_pd(z2, z3);
    c0 = PickLow(t0, t2);
    c1 = PickLow(t1, t3);
    c2 = PickHigh(t0, t2);
    c3 = PickHigh(t1, t3);
}

// Rows a and b of four doubles as the halves of one vector.
inline __m512d TwoRows(const double* a, const double* b) {
    return _mm512_insertf64x4(_mm512_castpd256_pd512(_mm256_load_pd(a)), _mm256_load_pd(b), 1);
}

// The first (or, from 'column' 4, the second) four columns of eight rows
// of one cache line each, as lanes.
inline void LoadColumns(const double* const r[8], int column, __m512d& c0, __m512d& c1, __m512d& c2, __m512d& c3) {
    TransposeHalves(TwoRows(r[0] + column, r[4] + column), TwoRows(r[1] + column, r[5] + column),
                    TwoRows(r[2] + column, r[6] + column), TwoRows(r[3] + column, r[7] + column), c0, c1, c2, c3);
}

// The halves of a vector of sixteen floats, widened.
inline __m512d LowHalf(__m512 v) { return _mm512_cvtps_pd(_mm512_castps512_ps256(v)); }
inline __m512d HighHalf(__m512 v) {
    return _mm512_cvtps_pd(_mm256_castpd_ps(_mm512_extractf64x4_pd(_mm512_castps_pd(v), 1)));
}
// Two vectors of eight doubles rounded to single precision, a's first.
inline __m512 Join(__m512d a, __m512d b) {
    return _mm512_castpd_ps(_mm512_insertf64x4(_mm512_castps_pd(_mm512_castps256_ps512(_mm512_cvtpd_ps(a))),
                                               _mm256_castps_pd(_mm512_cvtpd_ps(b)), 1));
}

}  // namespace avx512_lanes

struct TAvx512Lanes {
    static constexpr int N = 8;
    static constexpr int W = 16;
    using D = avx512_lanes::D;
    using F = avx512_lanes::F;
    using I = avx512_lanes::I;
    using Mask = int;

    // Two floats per lane, x then y, as the rows' last double carries them.
    struct XY {
        __m512d v;
    };
    using DensityRows = TDensityLanes<D, XY>;
    using ForceRows = TForceLanes<D, XY>;

    static D Splat(double v) { return {_mm512_set1_pd(v)}; }
    static D Sqrt(D v) { return {_mm512_sqrt_pd(v.v)}; }
    static D RoundToFloat(D v) { return {_mm512_cvtps_pd(_mm512_cvtpd_ps(v.v))}; }
    static D IfNegative(D sign, D yes, D no) {
        return {_mm512_mask_blend_pd(_mm512_cmp_pd_mask(sign.v, _mm512_setzero_pd(), _CMP_LT_OQ), no.v, yes.v)};
    }
    static D AtLeastZero(D v) { return {_mm512_max_pd(v.v, _mm512_setzero_pd())}; }  // max gives the second for NaN, -0
    static D LoadFloats(const float* p) { return {_mm512_cvtps_pd(_mm256_loadu_ps(p))}; }
    static void StoreFloats(float* p, D v) { _mm256_storeu_ps(p, _mm512_cvtpd_ps(v.v)); }
    static void Store(double* p, D v) { _mm512_storeu_pd(p, v.v); }
    // One record per pair: the four term vectors transposed, two records
    // to a store.
    static void StoreTerms(TForceTerm* out, D fx, D fy, D sx, D sy) {
        using namespace avx512_lanes;
        // Records k and k + 4 in the halves of r<k><k + 4>.
        __m512d r04, r15, r26, r37;
        TransposeHalves(fx.v, fy.v, sx.v, sy.v, r04, r15, r26, r37);
        double* o = &out->fx;
        _mm512_storeu_pd(o, _mm512_shuffle_f64x2(r04, r15, 0x44));
        _mm512_storeu_pd(o + 8, _mm512_shuffle_f64x2(r26, r37, 0x44));
        _mm512_storeu_pd(o + 16, _mm512_shuffle_f64x2(r04, r15, 0xEE));
        _mm512_storeu_pd(o + 24, _mm512_shuffle_f64x2(r26, r37, 0xEE));
    }

    static DensityRows LoadDensityRows(const TDensityRow* rows, const std::int32_t* index) {
        const double* r[8];
        for (int k = 0; k < 8; ++k) r[k] = &rows[index[k]].vx;
        DensityRows v;
        avx512_lanes::LoadColumns(r, 0, v.vx.v, v.vy.v, v.mass.v, v.xy.v);
        return v;
    }
    static ForceRows LoadForceRows(const TOperandRow* rows, const std::int32_t* index) {
        const double* r[8];
        for (int k = 0; k < 8; ++k) r[k] = &rows[index[k]].vx;
        ForceRows v;
        avx512_lanes::LoadColumns(r, 0, v.vx.v, v.vy.v, v.pressure.v, v.density.v);
        avx512_lanes::LoadColumns(r, 4, v.sound.v, v.kernelMass.v, v.xsphMass.v, v.xy.v);
        return v;
    }
    static void Separate(XY p, XY q, D& dx, D& dy, D& r2) {
        const __m512i split = _mm512_setr_epi32(0, 2, 4, 6, 8, 10, 12, 14, 1, 3, 5, 7, 9, 11, 13, 15);
        // Eight x differences, then eight y differences.
        const __m512 d = _mm512_permutexvar_ps(split, _mm512_sub_ps(_mm512_castpd_ps(p.v), _mm512_castpd_ps(q.v)));
        dx.v = avx512_lanes::LowHalf(d);
        dy.v = avx512_lanes::HighHalf(d);
        r2.v = _mm512_cvtps_pd(_mm512_cvtpd_ps(_mm512_add_pd(_mm512_mul_pd(dx.v, dx.v), _mm512_mul_pd(dy.v, dy.v))));
    }

    static F LoadF(const float* p) { return {_mm512_loadu_ps(p)}; }
    static I LoadI(const std::int32_t* p) { return {_mm512_loadu_si512(p)}; }
    static void StoreF(float* p, F v) { _mm512_storeu_ps(p, v.v); }
    static void StoreI(std::int32_t* p, I v) { _mm512_storeu_si512(p, v.v); }
    static F SplatF(float v) { return {_mm512_set1_ps(v)}; }
    static I SplatI(std::int32_t v) { return {_mm512_set1_epi32(v)}; }
    static F SquaredLength(F dx, F dy) {
        using namespace avx512_lanes;
        const __m512d xl = LowHalf(dx.v), xh = HighHalf(dx.v);
        const __m512d yl = LowHalf(dy.v), yh = HighHalf(dy.v);
        return {Join(_mm512_add_pd(_mm512_mul_pd(xl, xl), _mm512_mul_pd(yl, yl)),
                     _mm512_add_pd(_mm512_mul_pd(xh, xh), _mm512_mul_pd(yh, yh)))};
    }
    // The AVX2 set's window test, sixteen lanes at a time: the cheap
    // estimate decides where every lane lies clearly inside or outside,
    // the exact r^2 otherwise.
    static Mask InPairWindow(F dx, F dy) {
        const __m512 e = _mm512_add_ps(_mm512_mul_ps(dx.v, dx.v), _mm512_mul_ps(dy.v, dy.v));
        const unsigned in = _mm512_cmp_ps_mask(e, _mm512_set1_ps(TSPHWindowEstimate::LOW_IN), _CMP_GT_OQ) &
                            _mm512_cmp_ps_mask(e, _mm512_set1_ps(TSPHWindowEstimate::HIGH_IN), _CMP_LT_OQ);
        const unsigned out = _mm512_cmp_ps_mask(e, _mm512_set1_ps(TSPHWindowEstimate::LOW_OUT), _CMP_LT_OQ) |
                             _mm512_cmp_ps_mask(e, _mm512_set1_ps(TSPHWindowEstimate::HIGH_OUT), _CMP_GT_OQ);
        if ((in | out) == 0xFFFF) return static_cast<Mask>(in);
        const F r2 = SquaredLength(dx, dy);
        return Less(SplatF(TSPHFormula::PAIR_WINDOW_MIN_SQ), r2) & Less(r2, SplatF(TSPHConstants::SMOOTHING_LENGTH_SQ));
    }
    static Mask Less(F a, F b) { return _mm512_cmp_ps_mask(a.v, b.v, _CMP_LT_OQ); }
    static Mask Less(I a, I b) { return _mm512_cmplt_epi32_mask(a.v, b.v); }
    static Mask FirstLanes(std::int32_t count) { return count >= 16 ? 0xFFFF : (1 << count) - 1; }
    static int Count(Mask m) { return _mm_popcnt_u32(static_cast<unsigned>(m)); }
    // Packed in a register and stored whole (a compress straight to memory
    // is slow on many processors).
    static void Compress(std::int32_t* out, I v, Mask m) {
        _mm512_storeu_si512(out, _mm512_maskz_compress_epi32(static_cast<__mmask16>(m), v.v));
    }
    static void CompressF(float* out, F v, Mask m) {
        _mm512_storeu_ps(out, _mm512_maskz_compress_ps(static_cast<__mmask16>(m), v.v));
    }
};

}  // namespace
