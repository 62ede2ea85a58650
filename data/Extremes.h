#pragma once

#include <algorithm>
#include <cmath>
#include <cstddef>
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

// Entry `k` of `count` entries per block, merged over `blocks` blocks in
// block order, so that any split over the cores gives the same extremes.
template <typename T, typename List>
Extremes<T> mergedOverBlocks(const List& perBlock, int blocks, std::size_t count, std::size_t k)
{
    Extremes<T> all;
    for (int b = 0; b < blocks; ++b)
        all.merge(perBlock[std::size_t(b) * count + k]);
    return all;
}
