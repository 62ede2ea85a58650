#pragma once

#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <memory>
#include <new>
#include <utility>

#ifdef __linux__
#include <sys/mman.h>
#endif

// The standard allocator, but a container's new elements are left unset
// rather than zeroed when they are value-initialised (resize(n)), and large
// blocks come on huge pages where the system gives them on request: a reader
// that fills tens of megabytes then touches each page once, in as many
// faults as huge pages, instead of clearing 4 kB pages one fault at a time
// before overwriting them. Only for element types that every path
// overwrites.
template <typename T> class UninitializedAllocator : public std::allocator<T>
{
public:
    using value_type = T;
    template <typename U> struct rebind
    {
        using other = UninitializedAllocator<U>;
    };

    UninitializedAllocator() = default;
    template <typename U> UninitializedAllocator(const UninitializedAllocator<U>&) noexcept {}

    T* allocate(std::size_t n)
    {
        if (!large(n))
            return std::allocator<T>::allocate(n);
        if (n > std::size_t(-1) / sizeof(T))
            throw std::bad_array_new_length();
        void* memory = nullptr;
        if (posix_memalign(&memory, hugePage, n * sizeof(T)) != 0)
            throw std::bad_alloc();
#ifdef MADV_HUGEPAGE
        madvise(memory, n * sizeof(T) - n * sizeof(T) % hugePage, MADV_HUGEPAGE);
#endif
        return static_cast<T*>(memory);
    }
    void deallocate(T* p, std::size_t n)
    {
        if (large(n))
            std::free(p);
        else
            std::allocator<T>::deallocate(p, n);
    }

    template <typename U> void construct(U* p) noexcept
    {
        ::new (static_cast<void*>(p)) U;
    }
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

private:
    static constexpr std::size_t hugePage = std::size_t(2) << 20;
    static bool large(std::size_t n)
    {
        return n >= 2 * hugePage / sizeof(T);
    }
};
