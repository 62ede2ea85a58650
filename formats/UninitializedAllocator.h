#pragma once

#include <memory>
#include <new>
#include <utility>

// The standard allocator, but a container's new elements are left unset
// rather than zeroed when they are value-initialised (resize(n)): a reader
// that fills a large array from several threads then does not first touch
// all of it on one. Only for element types that every path overwrites.
template <typename T> class UninitializedAllocator : public std::allocator<T>
{
public:
    template <typename U> struct rebind
    {
        using other = UninitializedAllocator<U>;
    };

    UninitializedAllocator() = default;
    template <typename U> UninitializedAllocator(const UninitializedAllocator<U>&) noexcept {}

    template <typename U> void construct(U* p) noexcept { ::new (static_cast<void*>(p)) U; }
    template <typename U, typename... Args> void construct(U* p, Args&&... args)
    {
        ::new (static_cast<void*>(p)) U(std::forward<Args>(args)...);
    }
};
