#pragma once

#include "formats/HugePageMemory.h"

#include <cstddef>
#include <cstdlib>
#include <new>
#include <utility>

// An allocator whose containers leave new elements unset rather than zeroed
// when they are value-initialised (resize(n)), on HugePageMemory: a reader
// that fills tens of megabytes then touches each page once, in as many
// faults as huge pages, instead of clearing 4 kB pages one fault at a time
// before overwriting them. Only for element types that every path
// overwrites.
template <typename T> class UninitializedAllocator
{
public:
    using value_type = T;

    UninitializedAllocator() = default;
    template <typename U> UninitializedAllocator(const UninitializedAllocator<U>&) noexcept {}

    T* allocate(std::size_t n)
    {
        if (n > std::size_t(-1) / sizeof(T))
            throw std::bad_array_new_length();
        void* memory = HugePageMemory::allocate(n * sizeof(T));
        if (!memory)
            throw std::bad_alloc();
        return static_cast<T*>(memory);
    }
    void deallocate(T* p, std::size_t) noexcept { std::free(p); }

    template <typename U> void construct(U* p) noexcept { ::new (static_cast<void*>(p)) U; }
    template <typename U, typename... Args> void construct(U* p, Args&&... args)
    {
        ::new (static_cast<void*>(p)) U(std::forward<Args>(args)...);
    }

    friend bool operator==(const UninitializedAllocator&, const UninitializedAllocator&)
    {
        return true;
    }
    friend bool operator!=(const UninitializedAllocator&, const UninitializedAllocator&)
    {
        return false;
    }
};
