#pragma once

#include "data/Vector3.h"
#include "formats/HugePageMemory.h"

#include <cstddef>
#include <cstdlib>
#include <memory>
#include <new>
#include <type_traits>

// A reference-counted array of a data set. Copies share the elements; the
// count is changed without atomics, so arrays are copied, assigned and
// released on the GUI thread only (workers read them without copying).
// Vector3 elements start as (0, 0, 0); float and int elements are not
// initialised. The memory comes from HugePageMemory.
template <typename T> class SharedArray
{
    static_assert(std::is_trivially_destructible<T>::value,
                  "elements are freed without running destructors");

public:
    SharedArray() = default;
    SharedArray(const SharedArray& other) { share(other); }
    SharedArray& operator=(const SharedArray& other)
    {
        if (this != &other) {
            release();
            share(other);
        }
        return *this;
    }
    ~SharedArray() { release(); }

    // Releases what the array held, then holds n fresh elements (n > 0).
    // Returns false, leaving the array empty, when the memory is not there.
    bool allocate(int n)
    {
        if (!allocateForOverwrite(n))
            return false;
        std::uninitialized_default_construct_n(data, count);
        return true;
    }

    // The same without setting the elements, for a caller that writes every
    // one of them: the pages are then first touched (and, for a large array,
    // cleared by the system) by the threads that fill them.
    bool allocateForOverwrite(int n)
    {
        static_assert(std::is_trivially_copyable<T>::value, "elements are filled bytewise");
        release();
        if (n <= 0)
            return true;
        T* elements = allocateElements(std::size_t(n));
        int* refs = new (std::nothrow) int(1);
        if (!elements || !refs) {
            std::free(elements);
            delete refs;
            return false;
        }
        data = elements;
        count = n;
        references = refs;
        return true;
    }

    void release()
    {
        if (references) {
            if (*references == 1) {
                std::free(data);
                delete references;
            } else {
                --*references;
            }
        }
        data = nullptr;
        count = 0;
        references = nullptr;
    }

    T* get() { return data; }
    const T* get() const { return data; }
    int size() const { return count; }
    bool isEmpty() const { return count == 0; }
    int referenceCount() const { return references ? *references : 0; }
    T& operator[](int i) { return data[i]; }
    const T& operator[](int i) const { return data[i]; }

private:
    static T* allocateElements(std::size_t n)
    {
        if (n > std::size_t(-1) / sizeof(T))
            return nullptr;
        return static_cast<T*>(HugePageMemory::allocate(n * sizeof(T)));
    }

    void share(const SharedArray& other)
    {
        data = other.data;
        count = other.count;
        references = other.references;
        if (references)
            ++*references;
    }

    T* data = nullptr;
    int count = 0;
    int* references = nullptr;
};
