#pragma once

#include <cstdint>
#include <functional>

// Runs the blocks of a range of items on the calling thread and on helper
// threads, each block taken by whichever thread is free next. A helper that
// has not started by the time the caller has run out of blocks is withdrawn
// (it ends as soon as it runs), so a busy machine costs no wait for threads
// that never get the processor. Every item is handled exactly as a single thread would
// handle it, so results do not depend on the split; what a block gathers
// (extremes, say) is kept per block and combined by the caller in block order.
class ParallelBlocks
{
public:
    // block(b, first, last) handles items [first, last) of block b.
    using Block = std::function<void(int block, int first, int last)>;

    // Units of work (samples, grid points) in a block: starting a helper
    // costs about as much as this many, so less than this stays on one thread.
    static constexpr std::int64_t unitsPerBlock = std::int64_t(1) << 16;

    // Items per block for items of `unitsPerItem` units each.
    static int grainFor(std::int64_t unitsPerItem);
    // The number of blocks of `grain` items that cover `count` items; the
    // last block may be shorter.
    static int countFor(int count, int grain);
    // Returns when every block has been handled.
    static void run(int count, int grain, const Block& block);
};
