#pragma once

#include <algorithm>
#include <cmath>
#include <limits>

// The smallest and largest finite values added; with none, both are 0.
template <typename T> struct Extremes
{
    T minimum = std::numeric_limits<T>::infinity();
    T maximum = -std::numeric_limits<T>::infinity();

    void add(T v)
    {
        if (std::isfinite(v)) {
            minimum = std::min(minimum, v);
            maximum = std::max(maximum, v);
        }
    }
    // As if the values added to `later` had been added here after the
    // values already added (an equal value seen first is kept, which
    // decides between 0 and -0).
    void merge(const Extremes& later)
    {
        if (later.minimum < minimum)
            minimum = later.minimum;
        if (maximum < later.maximum)
            maximum = later.maximum;
    }
    T lowest() const { return minimum <= maximum ? minimum : T(0); }
    T highest() const { return minimum <= maximum ? maximum : T(0); }
};
