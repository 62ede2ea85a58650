#pragma once

#include "Vector3.h"

#include <new>

// A reference-counted array of a data set. Copies share the elements; the
// count is changed without atomics, so arrays are copied, assigned and
// released on the GUI thread only (workers read them without copying).
// Vector3 elements start as (0, 0, 0); float and int elements are not
// initialised.
template <typename T>
class SharedArray
{
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
        release();
        if (n <= 0)
            return true;
        T* elements = new (std::nothrow) T[n];
        int* refs = new (std::nothrow) int(1);
        if (!elements || !refs) {
            delete[] elements;
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
                delete[] data;
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
