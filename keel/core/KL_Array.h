// KL_Array<T>: contiguous storage owning its items. Capacity grows by doubling, starting at 16.
// Not locked; owners lock around it.
//
//   for (KL_Index i = 0; i < array.GetItemCount(); ++i) { use(array[i]); }
//   for (KL_String& item : array) { ... }
#pragma once

#include "KL_Result.h"
#include "KL_Types.h"

#include <cstdlib>
#include <new>
#include <utility>

template <typename T> class KL_Array {
public:
    KL_Array() = default;
    explicit KL_Array(KL_Size capacity) { Reserve(capacity); }
    KL_Array(const KL_Array& other) { Assign(other); }
    KL_Array(KL_Array&& other) noexcept
        : m_Capacity(other.m_Capacity), m_ItemCount(other.m_ItemCount), m_Items(other.m_Items) {
        other.m_Capacity = other.m_ItemCount = 0;
        other.m_Items = nullptr;
    }
    ~KL_Array() {
        Clear();
        std::free(m_Items);
    }
    KL_Array& operator=(const KL_Array& other) {
        if (this != &other) {
            Assign(other);
        }
        return *this;
    }
    KL_Array& operator=(KL_Array&& other) noexcept {
        if (this != &other) {
            Clear();
            std::free(m_Items);
            m_Capacity = other.m_Capacity;
            m_ItemCount = other.m_ItemCount;
            m_Items = other.m_Items;
            other.m_Capacity = other.m_ItemCount = 0;
            other.m_Items = nullptr;
        }
        return *this;
    }

    // Nothing when capacity >= n; otherwise capacity becomes max(2 x capacity (16 from 0), n).
    KL_Result Reserve(KL_Size n) {
        if (m_Capacity >= n) {
            return KL_SUCCESS;
        }
        uint64_t grown = m_Capacity ? 2 * uint64_t(m_Capacity) : 16;
        uint64_t capacity = grown > n ? grown : n;
        if (capacity > 0xFFFFFFFFu) {
            capacity = 0xFFFFFFFFu;
        }
        if (capacity * sizeof(T) > size_t(-1) / 2) {
            return KL_ERROR_OUT_OF_MEMORY;
        }
        T* items = static_cast<T*>(std::malloc(size_t(capacity) * sizeof(T)));
        if (items == nullptr) {
            return KL_ERROR_OUT_OF_MEMORY;
        }
        for (KL_Size i = 0; i < m_ItemCount; ++i) {
            new (&items[i]) T(std::move(m_Items[i]));
            m_Items[i].~T();
        }
        std::free(m_Items);
        m_Items = items;
        m_Capacity = KL_Size(capacity);
        return KL_SUCCESS;
    }
    // Appends a copy of the item.
    KL_Result Add(const T& item) {
        if (m_ItemCount == 0xFFFFFFFFu) {
            return KL_ERROR_OUT_OF_RANGE;
        }
        if (m_ItemCount >= m_Capacity) {
            T copy(item); // the item may live in this array
            KL_Result result = Reserve(m_ItemCount + 1);
            if (KL_FAILED(result)) {
                return result;
            }
            new (&m_Items[m_ItemCount]) T(std::move(copy));
        } else {
            new (&m_Items[m_ItemCount]) T(item);
        }
        ++m_ItemCount;
        return KL_SUCCESS;
    }
    // Removes the item at the position, moving the following ones down.
    KL_Result Erase(KL_Index position) {
        if (position >= m_ItemCount) {
            return KL_ERROR_OUT_OF_RANGE;
        }
        for (KL_Index i = position; i + 1 < m_ItemCount; ++i) {
            m_Items[i] = std::move(m_Items[i + 1]);
        }
        m_Items[--m_ItemCount].~T();
        return KL_SUCCESS;
    }
    // Destroys every item; the storage is kept.
    KL_Result Clear() {
        for (KL_Size i = 0; i < m_ItemCount; ++i) {
            m_Items[i].~T();
        }
        m_ItemCount = 0;
        return KL_SUCCESS;
    }
    // Clear, then append a copy of each item of the other array.
    KL_Result Assign(const KL_Array& other) {
        if (this == &other) {
            return KL_SUCCESS;
        }
        Clear();
        KL_Result result = Reserve(other.m_ItemCount);
        for (KL_Size i = 0; KL_SUCCEEDED(result) && i < other.m_ItemCount; ++i) {
            result = Add(other.m_Items[i]);
        }
        return result;
    }

    KL_Size GetItemCount() const { return m_ItemCount; }
    KL_Size GetCapacity() const { return m_Capacity; }
    bool IsEmpty() const { return m_ItemCount == 0; }
    // Indexing: the position must be below the item count.
    T& operator[](KL_Index position) { return m_Items[position]; }
    const T& operator[](KL_Index position) const { return m_Items[position]; }
    // The item at the position, or null beyond the end.
    T* GetItem(KL_Index position) const { return position < m_ItemCount ? &m_Items[position] : nullptr; }
    bool Contains(const T& data) const {
        for (KL_Size i = 0; i < m_ItemCount; ++i) {
            if (m_Items[i] == data) {
                return true;
            }
        }
        return false;
    }

    template <typename F> KL_Result Apply(const F& functor) const {
        for (KL_Size i = 0; i < m_ItemCount; ++i) {
            functor(m_Items[i]);
        }
        return KL_SUCCESS;
    }
    // As KL_List::ApplyUntil, in index order.
    template <typename F, typename U> KL_Result ApplyUntil(const F& functor, const U& until) const {
        for (KL_Size i = 0; i < m_ItemCount; ++i) {
            KL_Result result = functor(m_Items[i]);
            if (until(result)) {
                return result;
            }
        }
        return KL_SUCCESS;
    }

    // Range-for support.
    T* begin() const { return m_Items; }
    T* end() const { return m_Items + m_ItemCount; }

private:
    KL_Size m_Capacity = 0;
    KL_Size m_ItemCount = 0;
    T* m_Items = nullptr;
};
