// The clock of the tracer's deadlines and ticks: CLOCK_MONOTONIC, which no
// change of the wall clock moves.
#pragma once

#include <time.h>

#include <cstdint>

inline std::uint64_t MonotonicNs() {
    timespec now;
    clock_gettime(CLOCK_MONOTONIC, &now);
    return std::uint64_t(now.tv_sec) * 1'000'000'000u + std::uint64_t(now.tv_nsec);
}
