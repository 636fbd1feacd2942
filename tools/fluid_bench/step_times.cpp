#include "tools/fluid_bench/step_times.h"

namespace {

// Bin widths in ns: the printed resolution of a median, 4 decimals of a ms;
// and 1 ms for the rare step too slow for the fine bins.
constexpr int64_t kFineNs = 100;
constexpr int64_t kCoarseNs = 1000000;
// 2^20 fine bins (8 MiB) reach 104.8576 ms, beyond any step of today's scenes
// even in a sanitizer build; 2^16 coarse bins (512 KiB) reach 65.536 s.
constexpr size_t kFineBins = size_t{1} << 20;
constexpr size_t kCoarseBins = size_t{1} << 16;
constexpr int64_t kFineLimitNs = static_cast<int64_t>(kFineBins) * kFineNs;

// t's bin of width binNs, rounded to the nearest, so that a median printed
// from its bin reads as the exact time printed to that resolution would.
size_t BinOf(int64_t ns, int64_t binNs, size_t bins) {
    const int64_t bin = (ns + binNs / 2) / binNs;
    return bin < static_cast<int64_t>(bins) ? static_cast<size_t>(bin) : bins - 1;
}

}  // namespace

StepTimes::StepTimes() : _fine(kFineBins, 0), _coarse(kCoarseBins, 0) {}

void StepTimes::Add(std::chrono::nanoseconds t) {
    const int64_t ns = t.count() > 0 ? static_cast<int64_t>(t.count()) : 0;
    // Every fine bin lies below every coarse one that is used, so the
    // order of steps survives the split.
    if (ns + kFineNs / 2 < kFineLimitNs)
        ++_fine[BinOf(ns, kFineNs, kFineBins)];
    else
        ++_coarse[BinOf(ns, kCoarseNs, kCoarseBins)];
    ++_count;
    if (t < _minimum) _minimum = t;
}

double StepTimes::MinimumMs() const {
    return _count == 0 ? 0.0 : std::chrono::duration<double, std::milli>(_minimum).count();
}

StepTimes::Median StepTimes::MedianMs() const {
    if (_count == 0) return {};
    // The bin that holds the step with Count() / 2 steps before it.
    uint64_t before = _count / 2;
    for (size_t i = 0; i < kFineBins; ++i) {
        if (_fine[i] > before) return {static_cast<double>(i) * kFineNs / 1e6, 4};
        before -= _fine[i];
    }
    for (size_t i = 0; i < kCoarseBins; ++i) {
        if (_coarse[i] > before) return {static_cast<double>(i) * kCoarseNs / 1e6, 0};
        before -= _coarse[i];
    }
    return {};  // unreachable: the bins hold all Count() steps
}
