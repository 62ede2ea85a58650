#include "data/MonotonicClock.h"

#include <chrono>

std::int64_t MonotonicClock::frequency()
{
    return 1000000000;
}

std::int64_t MonotonicClock::now()
{
    using namespace std::chrono;
    return duration_cast<nanoseconds>(steady_clock::now().time_since_epoch()).count();
}
