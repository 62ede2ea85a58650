#pragma once

#include <cstddef>
#include <cstdlib>

#ifdef __linux__
#include <sys/mman.h>
#endif

// Memory for the arrays of a data set and of the readers that fill it:
// blocks of several megabytes are aligned to 2 MiB and, on Linux, asked to
// be backed by huge pages, since an array of millions of points otherwise
// spends most of its first fill in page faults (on a virtual machine, far
// more than the fill itself). Released with std::free.
class HugePageMemory
{
public:
    // Null when the memory is not there.
    static void* allocate(std::size_t bytes)
    {
        const bool large = bytes >= 2 * hugePage;
        void* memory = nullptr;
        if (posix_memalign(&memory, large ? hugePage : alignof(std::max_align_t), bytes) != 0)
            return nullptr;
#ifdef MADV_HUGEPAGE
        if (large)
            madvise(memory, bytes - bytes % hugePage, MADV_HUGEPAGE);
#endif
        return memory;
    }

private:
    static constexpr std::size_t hugePage = std::size_t(2) << 20;
};
