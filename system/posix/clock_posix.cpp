// The system module's clock and local time on POSIX systems, Linux and the
// web alike: CLOCK_MONOTONIC and localtime_r.
#include "system/system_host.h"

#include <time.h>

int32_t HostMillis() {
    timespec now{};
    clock_gettime(CLOCK_MONOTONIC, &now);
    const uint64_t ms = static_cast<uint64_t>(now.tv_sec) * 1000u + static_cast<uint64_t>(now.tv_nsec) / 1000000u;
    // Keep the low 32 bits: the counter wraps, differences stay right.
    return static_cast<int32_t>(static_cast<uint32_t>(ms));
}

bool HostLocalTime(std::time_t t, std::tm& local) { return localtime_r(&t, &local) != nullptr; }
