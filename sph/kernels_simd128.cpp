// The pair kernels built for WebAssembly SIMD, in a build made with
// -msimd128 (chosen when the program is built, not when it runs: every
// engine that loads such a module has the instructions). Elsewhere this
// file builds nothing.

#ifdef __wasm_simd128__

#include "sph/lanes_simd128.h"
#include "sph/pair_kernels.h"

// The seventh powers are left to std::pow (the plain set's).
extern const TLaneKernels kSimd128Kernels = {ScanCells<TSimd128Lanes>, DensityTerms<TSimd128Lanes>,
                                             ForceTerms<TSimd128Lanes>, SumForces<TSimd128Lanes>, nullptr};

#endif
