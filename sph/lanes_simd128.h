#pragma once
// Internal to the sph library and the renderer's smooth field: the
// WebAssembly SIMD lane set, two double lanes and four float or int32
// lanes (see sph/lanes.h for what a lane set names). Only for a build made
// with -msimd128, which every engine that loads it runs; everything here
// has no name outside its file.

#include <wasm_simd128.h>

#include <cstdint>

#include "sph/lanes.h"
#include "sph/step_data.h"

namespace {
namespace simd128_lanes {

struct D {
    v128_t v;
};
inline D operator+(D a, D b) { return {wasm_f64x2_add(a.v, b.v)}; }
inline D operator-(D a, D b) { return {wasm_f64x2_sub(a.v, b.v)}; }
inline D operator*(D a, D b) { return {wasm_f64x2_mul(a.v, b.v)}; }
inline D operator/(D a, D b) { return {wasm_f64x2_div(a.v, b.v)}; }
inline D operator-(D a) { return {wasm_f64x2_neg(a.v)}; }

struct F {
    v128_t v;
};
inline F operator+(F a, F b) { return {wasm_f32x4_add(a.v, b.v)}; }
inline F operator-(F a, F b) { return {wasm_f32x4_sub(a.v, b.v)}; }

struct I {
    v128_t v;
};

// Byte shuffles that pack the selected lanes of a 4-lane vector first.
struct TCompressTable {
    std::uint8_t bytes[16][16] = {};
    constexpr TCompressTable() {
        for (int m = 0; m < 16; ++m) {
            int n = 0;
            for (int lane = 0; lane < 4; ++lane) {
                if ((m & (1 << lane)) == 0) continue;
                for (int b = 0; b < 4; ++b) bytes[m][4 * n + b] = static_cast<std::uint8_t>(4 * lane + b);
                ++n;
            }
        }
    }
};
inline constexpr TCompressTable kCompress{};

// The float lanes 0, 1 (Low) or 2, 3 (High) of v, widened.
inline v128_t LowHalf(v128_t v) { return wasm_f64x2_promote_low_f32x4(v); }
inline v128_t HighHalf(v128_t v) { return wasm_f64x2_promote_low_f32x4(wasm_i32x4_shuffle(v, v, 2, 3, 2, 3)); }

// Two vectors of two doubles rounded to single precision, a's first.
inline v128_t Narrow(v128_t a, v128_t b) {
    return wasm_i32x4_shuffle(wasm_f32x4_demote_f64x2_zero(a), wasm_f32x4_demote_f64x2_zero(b), 0, 1, 4, 5);
}

// Columns 'column' and 'column' + 1 of two rows of doubles, as two vectors.
inline void LoadColumns(const double* r0, const double* r1, int column, v128_t& a, v128_t& b) {
    const v128_t x = wasm_v128_load(r0 + column);
    const v128_t y = wasm_v128_load(r1 + column);
    a = wasm_i64x2_shuffle(x, y, 0, 2);
    b = wasm_i64x2_shuffle(x, y, 1, 3);
}

}  // namespace simd128_lanes

struct TSimd128Lanes {
    static constexpr int N = 2;
    static constexpr int W = 4;
    using D = simd128_lanes::D;
    using F = simd128_lanes::F;
    using I = simd128_lanes::I;
    using Mask = int;

    // Two floats per lane, x then y, as the rows' last double carries them.
    struct XY {
        v128_t v;
    };
    using DensityRows = TDensityLanes<D, XY>;
    using ForceRows = TForceLanes<D, XY>;

    static D Splat(double v) { return {wasm_f64x2_splat(v)}; }
    static D Sqrt(D v) { return {wasm_f64x2_sqrt(v.v)}; }
    static D RoundToFloat(D v) { return {wasm_f64x2_promote_low_f32x4(wasm_f32x4_demote_f64x2_zero(v.v))}; }
    static D IfNegative(D sign, D yes, D no) {
        return {wasm_v128_bitselect(yes.v, no.v, wasm_f64x2_lt(sign.v, wasm_f64x2_splat(0.0)))};
    }
    // pmax(0, v) is v only where 0 < v: +0 for a NaN and -0.
    static D AtLeastZero(D v) { return {wasm_f64x2_pmax(wasm_f64x2_splat(0.0), v.v)}; }
    static D LoadFloats(const float* p) { return {wasm_f64x2_promote_low_f32x4(wasm_v128_load64_zero(p))}; }
    static void StoreFloats(float* p, D v) { wasm_v128_store64_lane(p, wasm_f32x4_demote_f64x2_zero(v.v), 0); }
    static void Store(double* p, D v) { wasm_v128_store(p, v.v); }
    static void StoreTerms(TForceTerm* out, D fx, D fy, D sx, D sy) {
        wasm_v128_store(&out[0].fx, wasm_i64x2_shuffle(fx.v, fy.v, 0, 2));
        wasm_v128_store(&out[0].sx, wasm_i64x2_shuffle(sx.v, sy.v, 0, 2));
        wasm_v128_store(&out[1].fx, wasm_i64x2_shuffle(fx.v, fy.v, 1, 3));
        wasm_v128_store(&out[1].sx, wasm_i64x2_shuffle(sx.v, sy.v, 1, 3));
    }

    static DensityRows LoadDensityRows(const TDensityRow* rows, const std::int32_t* index) {
        const double* r0 = &rows[index[0]].vx;
        const double* r1 = &rows[index[1]].vx;
        DensityRows v;
        simd128_lanes::LoadColumns(r0, r1, 0, v.vx.v, v.vy.v);
        simd128_lanes::LoadColumns(r0, r1, 2, v.mass.v, v.xy.v);
        return v;
    }
    static ForceRows LoadForceRows(const TOperandRow* rows, const std::int32_t* index) {
        const double* r0 = &rows[index[0]].vx;
        const double* r1 = &rows[index[1]].vx;
        ForceRows v;
        simd128_lanes::LoadColumns(r0, r1, 0, v.vx.v, v.vy.v);
        simd128_lanes::LoadColumns(r0, r1, 2, v.pressure.v, v.density.v);
        simd128_lanes::LoadColumns(r0, r1, 4, v.sound.v, v.kernelMass.v);
        simd128_lanes::LoadColumns(r0, r1, 6, v.xsphMass.v, v.xy.v);
        return v;
    }
    static void Separate(XY p, XY q, D& dx, D& dy, D& r2) {
        // Two x differences, then two y differences.
        const v128_t d = wasm_f32x4_sub(p.v, q.v);
        dx.v = wasm_f64x2_promote_low_f32x4(wasm_i32x4_shuffle(d, d, 0, 2, 0, 2));
        dy.v = wasm_f64x2_promote_low_f32x4(wasm_i32x4_shuffle(d, d, 1, 3, 1, 3));
        r2 = RoundToFloat(dx * dx + dy * dy);
    }

    // The four sums of a particle as one vector, a pair's four terms as two.
    using Sum = v128_t;
    struct Term {
        v128_t force, xsph;
    };
    static Sum LoadSum(const TForceSum* p) { return wasm_v128_load(&p->fx); }
    static void StoreSum(TForceSum* p, Sum v) { wasm_v128_store(&p->fx, v); }
    static Term LoadTerm(const TForceTerm* p) { return {wasm_v128_load(&p->fx), wasm_v128_load(&p->sx)}; }
    static Sum AddTerm(Sum a, Term t) {
        using namespace simd128_lanes;
        return Narrow(wasm_f64x2_add(LowHalf(a), t.force), wasm_f64x2_add(HighHalf(a), t.xsph));
    }
    static Sum SubtractTerm(Sum a, Term t) {
        using namespace simd128_lanes;
        return Narrow(wasm_f64x2_sub(LowHalf(a), t.force), wasm_f64x2_sub(HighHalf(a), t.xsph));
    }
    // A boundary push, into the force only (the XSPH sums kept as they are).
    static Sum AddPush(Sum a, const TBoundaryHit& h) {
        const v128_t force =
            wasm_f32x4_demote_f64x2_zero(wasm_f64x2_add(simd128_lanes::LowHalf(a), wasm_f64x2_make(h.Gx, h.Gy)));
        return wasm_i32x4_shuffle(force, a, 0, 1, 6, 7);
    }

    static F LoadF(const float* p) { return {wasm_v128_load(p)}; }
    static I LoadI(const std::int32_t* p) { return {wasm_v128_load(p)}; }
    static void StoreF(float* p, F v) { wasm_v128_store(p, v.v); }
    static void StoreI(std::int32_t* p, I v) { wasm_v128_store(p, v.v); }
    static F SplatF(float v) { return {wasm_f32x4_splat(v)}; }
    static I SplatI(std::int32_t v) { return {wasm_i32x4_splat(v)}; }
    static F SquaredLength(F dx, F dy) {
        using namespace simd128_lanes;
        const D xl{LowHalf(dx.v)}, xh{HighHalf(dx.v)}, yl{LowHalf(dy.v)}, yh{HighHalf(dy.v)};
        return {Narrow((xl * xl + yl * yl).v, (xh * xh + yh * yh).v)};
    }
    // The AVX2 set's window test, four lanes at a time.
    static Mask InPairWindow(F dx, F dy) {
        using E = TSPHWindowEstimate;
        const v128_t e = wasm_f32x4_add(wasm_f32x4_mul(dx.v, dx.v), wasm_f32x4_mul(dy.v, dy.v));
        const int in = wasm_i32x4_bitmask(wasm_v128_and(wasm_f32x4_gt(e, wasm_f32x4_splat(E::LOW_IN)),
                                                        wasm_f32x4_lt(e, wasm_f32x4_splat(E::HIGH_IN))));
        const int out = wasm_i32x4_bitmask(wasm_v128_or(wasm_f32x4_lt(e, wasm_f32x4_splat(E::LOW_OUT)),
                                                        wasm_f32x4_gt(e, wasm_f32x4_splat(E::HIGH_OUT))));
        if ((in | out) == 0xF) return in;
        const F r2 = SquaredLength(dx, dy);
        return Less(SplatF(TSPHFormula::PAIR_WINDOW_MIN_SQ), r2) & Less(r2, SplatF(TSPHConstants::SMOOTHING_LENGTH_SQ));
    }
    static Mask Less(F a, F b) { return wasm_i32x4_bitmask(wasm_f32x4_lt(a.v, b.v)); }
    static Mask Less(I a, I b) { return wasm_i32x4_bitmask(wasm_i32x4_lt(a.v, b.v)); }
    static Mask FirstLanes(std::int32_t count) { return count >= 4 ? 0xF : (1 << count) - 1; }
    static int Count(Mask m) { return __builtin_popcount(static_cast<unsigned>(m)); }
    static void Compress(std::int32_t* out, I v, Mask m) {
        wasm_v128_store(out, wasm_i8x16_swizzle(v.v, wasm_v128_load(simd128_lanes::kCompress.bytes[m])));
    }
    static void CompressF(float* out, F v, Mask m) {
        wasm_v128_store(out, wasm_i8x16_swizzle(v.v, wasm_v128_load(simd128_lanes::kCompress.bytes[m])));
    }
};

}  // namespace
