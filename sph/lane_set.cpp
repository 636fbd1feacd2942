#include "sph/lane_set.h"

namespace {

constexpr TLaneSet kAllSets[] = {TLaneSet::Plain, TLaneSet::Avx2, TLaneSet::Avx512, TLaneSet::Simd128};

// What the processor offers, asked once.
struct TProcessorLanes {
    bool avx2 = false;
    bool avx512 = false;
    TProcessorLanes() {
#if defined(__x86_64__) && defined(__GNUC__)
        __builtin_cpu_init();
        avx2 = __builtin_cpu_supports("avx2") && __builtin_cpu_supports("fma") && __builtin_cpu_supports("popcnt");
        // The AVX-512 kernels use AVX-512 F, and the AVX2 ones for the rest.
        avx512 = avx2 && __builtin_cpu_supports("avx512f");
#endif
    }
};

const TProcessorLanes& Processor() {
    static const TProcessorLanes lanes;
    return lanes;
}

}  // namespace

const char* LaneSetName(TLaneSet set) {
    switch (set) {
    case TLaneSet::Avx2: return "avx2";
    case TLaneSet::Avx512: return "avx512";
    case TLaneSet::Simd128: return "simd128";
    case TLaneSet::Plain: break;
    }
    return "plain";
}

bool LaneSetFromName(const std::string& name, TLaneSet& set) {
    for (const TLaneSet s : kAllSets) {
        if (name == LaneSetName(s)) {
            set = s;
            return true;
        }
    }
    return false;
}

bool LaneSetAvailable(TLaneSet set) {
    switch (set) {
    case TLaneSet::Avx2: return Processor().avx2;
    case TLaneSet::Avx512: return Processor().avx512;
    case TLaneSet::Simd128:
#ifdef __wasm_simd128__
        return true;
#else
        return false;
#endif
    case TLaneSet::Plain: break;
    }
    return true;
}

bool LaneSetForOption(const std::string& name, TLaneSet& set, std::string& why) {
    TLaneSet named;
    if (!LaneSetFromName(name, named)) {
        why = "unknown lane set '" + name + "' (plain, avx2, avx512 or simd128)";
        return false;
    }
    if (!LaneSetAvailable(named)) {
#if defined(__x86_64__) && defined(__GNUC__)
        const char* lack = named == TLaneSet::Simd128  ? "only the WebAssembly build has it"
                           : named == TLaneSet::Avx512 ? "this processor lacks AVX-512 F (or AVX2, FMA, POPCNT)"
                                                       : "this processor lacks AVX2, FMA or POPCNT";
#else
        const char* lack = "this build has no such kernels";
#endif
        why = "lane set " + name + " is not available: " + lack;
        return false;
    }
    set = named;
    return true;
}

TLaneSet BestLaneSet() {
    for (const TLaneSet s : {TLaneSet::Avx512, TLaneSet::Avx2, TLaneSet::Simd128})
        if (LaneSetAvailable(s)) return s;
    return TLaneSet::Plain;
}
