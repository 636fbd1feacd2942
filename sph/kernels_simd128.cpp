// The pair kernels built for WebAssembly SIMD, in a build made with
// -msimd128 (chosen when the program is built, not when it runs: every
// engine that loads such a module has the instructions). Elsewhere this
// file builds nothing.

#ifdef __wasm_simd128__

#include <cmath>
#include <cstdint>
#include <vector>

#include "sph/lanes_simd128.h"
#include "sph/pair_kernels.h"

namespace {

v128_t Add(v128_t a, v128_t b) { return wasm_f64x2_add(a, b); }
v128_t Sub(v128_t a, v128_t b) { return wasm_f64x2_sub(a, b); }
v128_t Mul(v128_t a, v128_t b) { return wasm_f64x2_mul(a, b); }

// Veltkamp's split: a = hi + lo exactly, each with at most 26 significant
// bits (for a far from overflow, as here).
void Split(v128_t a, v128_t& hi, v128_t& lo) {
    const v128_t c = Mul(wasm_f64x2_splat(134217729.0), a);  // 2^27 + 1
    hi = Sub(c, Sub(c, a));
    lo = Sub(a, hi);
}

// Error-free product: a * b = p + e exactly (Dekker's, there being no fused
// multiply-add to round the exact error once).
void TwoProduct2(v128_t a, v128_t b, v128_t& p, v128_t& e) {
    p = Mul(a, b);
    v128_t ah, al, bh, bl;
    Split(a, ah, al);
    Split(b, bh, bl);
    e = Add(Add(Add(Sub(Mul(ah, bh), p), Mul(ah, bl)), Mul(al, bh)), Mul(al, bl));
}

// (ah + al) * (bh + bl) as a normalised double-double, to about 2^-104.
void DoubleDoubleProduct2(v128_t ah, v128_t al, v128_t bh, v128_t bl, v128_t& h, v128_t& l) {
    v128_t p, e;
    TwoProduct2(ah, bh, p, e);
    e = Add(e, Add(Mul(ah, bl), Mul(al, bh)));
    h = Add(p, e);
    l = Sub(e, Sub(h, p));
}

// x^7 for two x near 1, exactly as std::pow(x, 7.0) rounds it, by the AVX2
// set's argument (sph/kernels_avx2.cpp): the double-double power settles
// every lane not close to a rounding tie or a power of two. Returns the
// mask of the lanes left to std::pow.
int SeventhPower2(v128_t x, v128_t& out) {
    v128_t x2h, x2l, x3h, x3l, x4h, x4l, h, l;
    TwoProduct2(x, x, x2h, x2l);
    DoubleDoubleProduct2(x2h, x2l, x, wasm_f64x2_splat(0.0), x3h, x3l);
    DoubleDoubleProduct2(x2h, x2l, x2h, x2l, x4h, x4l);
    DoubleDoubleProduct2(x4h, x4l, x3h, x3l, h, l);
    const v128_t exponent = wasm_v128_and(h, wasm_i64x2_splat(0x7FF0000000000000ll));
    const v128_t ulp = wasm_i64x2_sub(exponent, wasm_i64x2_splat(52ll << 52));
    const v128_t mantissa = wasm_v128_and(h, wasm_i64x2_splat(0x000FFFFFFFFFFFFFll));
    const v128_t nearEdge = wasm_v128_or(wasm_i64x2_gt(wasm_i64x2_splat(16), mantissa),
                                         wasm_i64x2_gt(mantissa, wasm_i64x2_splat(0x000FFFFFFFFFFFFFll - 16)));
    // Not within 0.45 ulp (a NaN included).
    const v128_t close = wasm_v128_not(wasm_f64x2_le(wasm_f64x2_abs(l), Mul(wasm_f64x2_splat(0.45), ulp)));
    out = h;
    const v128_t one = wasm_f64x2_eq(x, wasm_f64x2_splat(1.0));
    return wasm_i64x2_bitmask(wasm_v128_andnot(wasm_v128_or(close, nearEdge), one));
}

// SeventhPowers for whole pairs; returns how many it did.
std::size_t SeventhPowersSimd128(const float* density, double* out, std::size_t n, std::vector<std::int32_t>& slow) {
    return SeventhPowerGroups<2>(density, out, n, slow, [&](std::size_t i) {
        const v128_t x = wasm_f64x2_div(wasm_f64x2_promote_low_f32x4(wasm_v128_load64_zero(density + i)),
                                        wasm_f64x2_splat(TSPHConstants::REST_DENSITY));
        v128_t power;
        const int mask = SeventhPower2(x, power);
        wasm_v128_store(out + i, power);
        return mask;
    });
}

}  // namespace

extern const TLaneKernels kSimd128Kernels = {ScanCells<TSimd128Lanes>, DensityTerms<TSimd128Lanes>,
                                             ForceTerms<TSimd128Lanes>, SumForces<TSimd128Lanes>, SeventhPowersSimd128};

#endif
