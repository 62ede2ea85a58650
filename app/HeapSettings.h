#pragma once

#ifdef __GLIBC__
#include <malloc.h>
#endif

// How the C library's heap treats the large blocks of an interactive
// session: the rasters and pictures of every layer, a few megabytes each,
// allocated anew at every zoom step and freed at the next.
class HeapSettings
{
public:
    // Blocks up to this size come from the heap, not from mappings of
    // their own; glibc's largest.
    static constexpr int largestHeapBlock = 32 << 20;
    // Freed memory at the heap's top that stays with the process.
    static constexpr int keptFreeMemory = 64 << 20;

    // Call once, first thing in main(), before any thread starts.
    static void keepPictureMemory()
    {
#ifdef __GLIBC__
        // By default glibc maps a block of a few megabytes on its own
        // (raising that limit only after such a block is freed) and hands
        // freed memory back to the system once several megabytes of it
        // gather at the top. A zoom step then faults in every raster and
        // picture page by page, which on a virtual machine costs more than
        // drawing them. Kept in the heap, the next step's blocks reuse the
        // last step's pages.
        mallopt(M_MMAP_THRESHOLD, largestHeapBlock);
        mallopt(M_TRIM_THRESHOLD, keptFreeMemory);
#endif
    }
};
