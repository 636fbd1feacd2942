#pragma once
// The time of every Update step, kept in a fixed amount of memory however
// many steps run: counts per 0.1 microsecond (the resolution the figures are
// printed with) up to 104.8576 ms, and per millisecond above that.

#include <chrono>
#include <cstdint>
#include <vector>

class StepTimes {
public:
    StepTimes();

    // Counts one step that took t.
    void Add(std::chrono::nanoseconds t);
    // Steps counted.
    uint64_t Count() const { return _count; }
    // The shortest step in ms, exact; 0 when none was counted.
    double MinimumMs() const;

    // A median in ms and how many decimals of a ms it is exact to.
    struct Median {
        double ms = 0.0;
        int decimals = 4;
    };
    // The step at index Count() / 2 in order of time (the upper one of an
    // even count), rounded to its bin; 0 when none was counted.
    Median MedianMs() const;

private:
    std::vector<uint64_t> _fine;    // 0.1 us bins from 0
    std::vector<uint64_t> _coarse;  // 1 ms bins from 0; the last also takes every longer step
    uint64_t _count = 0;
    std::chrono::nanoseconds _minimum = std::chrono::nanoseconds::max();
};
