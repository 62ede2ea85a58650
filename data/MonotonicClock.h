#pragma once

#include <cstdint>

// The program's performance counter: a monotonic clock that counts
// nanoseconds, so its frequency is exactly 10^9 ticks per second.
class MonotonicClock
{
public:
    static std::int64_t frequency();
    static std::int64_t now();
};
