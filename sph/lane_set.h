#pragma once
// The lane sets that the step's pair kernels and the smooth field run on.
// Every set performs the same operations lane by lane, so all give the
// same bits; the wider ones are only faster.

#include <string>

enum class TLaneSet {
    Plain,    // one pair (or candidate, or sample) at a time
    Avx2,     // x86-64 with AVX2, FMA and POPCNT
    Avx512,   // the same and AVX-512 F
    Simd128,  // WebAssembly SIMD, in a build made with -msimd128
};

// The set's name as the tools take and print it ("plain", "avx2", ...).
const char* LaneSetName(TLaneSet set);
// The set of that name; false (and 'set' untouched) for an unknown name.
bool LaneSetFromName(const std::string& name, TLaneSet& set);
// Whether this build has the set and this processor the instructions it
// uses (asked of the processor once).
bool LaneSetAvailable(TLaneSet set);
// The set a tool's --lanes option names; false, with 'why' saying what is
// wrong ("unknown lane set ...", "lane set avx512 is not available: ..."),
// for an unknown name or a set this build or processor does not have.
bool LaneSetForOption(const std::string& name, TLaneSet& set, std::string& why);
// The widest available set: what a world or a field maker starts with.
TLaneSet BestLaneSet();
