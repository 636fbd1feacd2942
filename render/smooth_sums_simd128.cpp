// The smooth field's block sums built for WebAssembly SIMD, in a build made
// with -msimd128; elsewhere this file builds nothing.

#ifdef __wasm_simd128__

#include "render/smooth_sums.h"
#include "sph/lanes_simd128.h"

extern const TSmoothSums kSmoothSumsSimd128 = SumSmoothBlock<TSimd128Lanes>;

#endif
