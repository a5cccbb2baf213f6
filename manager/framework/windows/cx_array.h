// The framework's growable array: elements stored by value one after the other, growing by a fixed
// step. An index outside the array is a programming error that stops the program.
#pragma once

#include "manager/framework/windows/cx_platform.h"
#include "manager/framework/windows/cx_string.h"

#include <climits>
#include <cstdint>
#include <cstring>
#include <new>
#include <type_traits>
#include <utility>

template <class T>
class CxArray {
public:
    explicit CxArray(int growBy = 1) : m_growBy(growBy > 0 ? growBy : 1) {}
    CxArray(const CxArray&) = delete;
    CxArray& operator=(const CxArray&) = delete;
    ~CxArray() { RemoveAll(); }

    // Refused (0) for n <= 0.
    int SetGrowBy(int n)
    {
        if (n <= 0)
            return 0;
        m_growBy = n;
        return 1;
    }

    int GetCount() const { return m_count; }
    int GetCapacity() const { return m_capacity; }
    bool IsValidIndex(int i) const { return i >= 0 && i < m_count; }

    // Element i; an invalid index stops the program with the range message.
    T& ElementAt(int i)
    {
        CheckIndex(i);
        return m_data[i];
    }
    const T& ElementAt(int i) const
    {
        CheckIndex(i);
        return m_data[i];
    }
    T& GetAt(int i) { return ElementAt(i); }
    const T& GetAt(int i) const { return ElementAt(i); }

    // Appends a copy; grows by the step when full. 1 on success, 0 when growing fails (nothing changes).
    // The value may be an element of this array: it is copied before the old storage goes.
    int Add(const T& value)
    {
        if (m_count < m_capacity) {
            new (&m_data[m_count]) T(value);
            ++m_count;
            return 1;
        }
        if (m_capacity > INT_MAX - m_growBy)
            return 0;
        T* data = Allocate(m_capacity + m_growBy);
        if (data == nullptr)
            return 0;
        new (&data[m_count]) T(value);
        MoveElements(data, m_count);
        m_capacity += m_growBy;
        ++m_count;
        return 1;
    }

    // Replaces element i by a copy; 0 for an invalid index.
    int SetAt(int i, const T& value)
    {
        if (!IsValidIndex(i))
            return 0;
        if (&m_data[i] == &value)
            return 1;
        T copy(value);
        m_data[i].~T();
        new (&m_data[i]) T(std::move(copy));
        return 1;
    }

    // Storage for exactly n elements (the new part zero-filled); the count is lowered when n is
    // smaller, and the elements beyond it are destroyed. 0 refuses n < 0 or a failed allocation.
    int SetSize(int n)
    {
        if (n < 0)
            return 0;
        if (n == 0) {
            RemoveAll();
            return 1;
        }
        if (n == m_capacity) {
            TrimTo(n);
            return 1;
        }
        T* data = Allocate(n);
        if (data == nullptr)
            return 0;
        TrimTo(n);
        MoveElements(data, m_count);
        m_capacity = n;
        return 1;
    }

    // Destroys every element and frees the storage.
    void RemoveAll()
    {
        TrimTo(0);
        CxFree(m_data);
        m_data = nullptr;
        m_capacity = 0;
    }

private:
    void CheckIndex(int i) const
    {
        if (!IsValidIndex(i))
            CxFatalError(CxRangeErrorFormat(), i, m_count > 0 ? m_count - 1 : 0);
    }

    // Zero-filled storage for n elements; null when too large or out of memory.
    static T* Allocate(int n)
    {
        if (static_cast<size_t>(n) > SIZE_MAX / sizeof(T))
            return nullptr;
        const size_t bytes = static_cast<size_t>(n) * sizeof(T);
        void* block = CxAlloc(bytes);
        if (block != nullptr)
            std::memset(block, 0, bytes);
        return static_cast<T*>(block);
    }

    // Moves the first count elements into data and frees the old storage.
    void MoveElements(T* data, int count)
    {
        for (int i = 0; i < count; ++i) {
            new (&data[i]) T(std::move(m_data[i]));
            m_data[i].~T();
        }
        CxFree(m_data);
        m_data = data;
    }

    // Destroys the elements from index n on.
    void TrimTo(int n)
    {
        while (m_count > n)
            m_data[--m_count].~T();
    }

    T* m_data = nullptr;
    int m_count = 0;
    int m_capacity = 0;
    int m_growBy = 1;
};
