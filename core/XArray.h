#pragma once

#include "XException.h"
#include "XMemory.h"

#include <cstdint>

// An array of pointers that owns the objects they point to: an element is
// deleted when its slot is cut off by SetSize and when the array is
// destroyed. Writing null into a slot takes the element out of ownership;
// storing over a pointer does not delete it.
template <class T>
class XArray {
public:
    XArray() = default;
    XArray(const XArray&) = delete;
    XArray& operator=(const XArray&) = delete;
    ~XArray()
    {
        for (int i = 0; i < count; ++i)
            delete storage[i];
        XFree(storage);
    }

    int GetSize() const { return count; }
    int GetCapacity() const { return capacity; }

    // Grows (new slots null; storage to 3n/2 slots when n exceeds the
    // capacity) or shrinks (deleting the cut-off elements in index order;
    // storage cut to n slots when fewer than half are used). Throws
    // XMemoryException("XArray memory error") with nothing changed when the
    // storage cannot grow, XBoundException("XArray out of bound") for n < 0.
    void SetSize(int n)
    {
        if (n < 0)
            throw XBoundException("XArray out of bound");
        if (n > capacity)
            Grow(n);
        else if (n > count)
            ClearSlots(count, n);
        else if (n < count)
            Shrink(n);
        count = n;
    }

    // The slot itself, so the caller can read or store a pointer.
    // Throws XBoundException("XArray out of bound") unless 0 <= i < count.
    T*& operator[](int i)
    {
        CheckIndex(i);
        return storage[i];
    }
    T* const& operator[](int i) const
    {
        CheckIndex(i);
        return storage[i];
    }

    // Appends element; the array owns it from then on.
    void Add(T* element)
    {
        SetSize(count + 1);
        storage[count - 1] = element;
    }

private:
    void CheckIndex(int i) const
    {
        if (i < 0 || i >= count)
            throw XBoundException("XArray out of bound");
    }

    void ClearSlots(int from, int to)
    {
        for (int i = from; i < to; ++i)
            storage[i] = nullptr;
    }

    void Grow(int n)
    {
        std::int64_t newCapacity = static_cast<std::int64_t>(n) * 3 / 2;
        void* block = newCapacity > INT32_MAX ? nullptr
                                        : XRealloc(storage, static_cast<std::size_t>(newCapacity) * sizeof(T*));
        if (!block)
            throw XMemoryException("XArray memory error");
        storage = static_cast<T**>(block);
        capacity = static_cast<int>(newCapacity);
        ClearSlots(count, n);
    }

    void Shrink(int n)
    {
        for (int i = n; i < count; ++i) {
            delete storage[i];
            storage[i] = nullptr;
        }
        if (n >= capacity / 2)
            return;
        if (n == 0) {
            XFree(storage);
            storage = nullptr;
            capacity = 0;
            return;
        }
        // A failed shrink keeps the larger storage, which is still sound.
        void* block = XRealloc(storage, static_cast<std::size_t>(n) * sizeof(T*));
        if (block) {
            storage = static_cast<T**>(block);
            capacity = n;
        }
    }

    T** storage = nullptr;
    int capacity = 0;
    int count = 0;
};
