// KL_List<T>: a doubly linked list owning its items (for a list of pointers, not what they point
// to: the owner deletes those before clearing the list). Not locked; owners lock around it.
//
//   for (KL_List<KL_String>::Iterator it = list.GetFirstItem(); it; ++it) { use(*it); }
//   for (KL_String& item : list) { ... }                       // the same walk
//   KL_CHECK(list.ApplyUntil([](KL_String& s) { return Step(s); }, KL_UntilResultNotEquals(KL_SUCCESS)));
//
// Also here: KL_UntilResultNotEquals / KL_UntilResultEquals (the ApplyUntil predicates) and
// KL_ContainerFind (works on KL_List and KL_Array).
#pragma once

#include "KL_Result.h"
#include "KL_Types.h"

#include <new>
#include <utility>

template <typename T> class KL_List {
public:
    class Item {
    public:
        explicit Item(const T& data) : m_Data(data) {}
        explicit Item(T&& data) : m_Data(std::move(data)) {}
        Item* m_Next = nullptr;
        Item* m_Prev = nullptr;
        T m_Data;
    };

    // An iterator is a pointer to an item; null is the end.
    class Iterator {
    public:
        Iterator() = default;
        explicit Iterator(Item* item) : m_Item(item) {}
        T& operator*() const { return m_Item->m_Data; }
        T* operator->() const { return &m_Item->m_Data; }
        Iterator& operator++() {
            m_Item = m_Item->m_Next;
            return *this;
        }
        Iterator operator++(int) {
            Iterator saved = *this;
            m_Item = m_Item->m_Next;
            return saved;
        }
        Iterator& operator--() {
            m_Item = m_Item->m_Prev;
            return *this;
        }
        Iterator operator--(int) {
            Iterator saved = *this;
            m_Item = m_Item->m_Prev;
            return saved;
        }
        explicit operator bool() const { return m_Item != nullptr; }
        bool operator==(const Iterator& other) const { return m_Item == other.m_Item; }
        Item* GetItem() const { return m_Item; }

    private:
        Item* m_Item = nullptr;
    };

    KL_List() = default;
    KL_List(const KL_List& other) { Assign(other); }
    KL_List(KL_List&& other) noexcept
        : m_ItemCount(other.m_ItemCount), m_Head(other.m_Head), m_Tail(other.m_Tail) {
        other.m_ItemCount = 0;
        other.m_Head = other.m_Tail = nullptr;
    }
    ~KL_List() { Clear(); }
    KL_List& operator=(const KL_List& other) {
        if (this != &other) {
            Assign(other);
        }
        return *this;
    }
    KL_List& operator=(KL_List&& other) noexcept {
        if (this != &other) {
            Clear();
            m_ItemCount = other.m_ItemCount;
            m_Head = other.m_Head;
            m_Tail = other.m_Tail;
            other.m_ItemCount = 0;
            other.m_Head = other.m_Tail = nullptr;
        }
        return *this;
    }

    // Clear, then append a copy of each item of the other list in order.
    KL_Result Assign(const KL_List& other) {
        if (this == &other) {
            return KL_SUCCESS;
        }
        Clear();
        for (Item* item = other.m_Head; item != nullptr; item = item->m_Next) {
            KL_Result result = Add(item->m_Data);
            if (KL_FAILED(result)) {
                return result;
            }
        }
        return KL_SUCCESS;
    }

    // Appends at the tail.
    KL_Result Add(const T& data) { return Link(new (std::nothrow) Item(data), nullptr); }
    KL_Result Add(T&& data) { return Link(new (std::nothrow) Item(std::move(data)), nullptr); }
    // Inserts before where (an empty iterator appends at the tail).
    KL_Result Insert(Iterator where, const T& data) {
        return Link(new (std::nothrow) Item(data), where.GetItem());
    }

    // Unlinks and deletes the item; an empty iterator gives KL_ERROR_NO_SUCH_ITEM.
    KL_Result Erase(Iterator it) {
        Item* item = it.GetItem();
        if (item == nullptr) {
            return KL_ERROR_NO_SUCH_ITEM;
        }
        Unlink(item);
        delete item;
        return KL_SUCCESS;
    }
    // Erases the first item equal to data (every such item with all); KL_ERROR_NO_SUCH_ITEM if none.
    KL_Result Remove(const T& data, bool all = false) {
        KL_Size removed = 0;
        for (Item* item = m_Head; item != nullptr;) {
            Item* next = item->m_Next;
            if (item->m_Data == data) {
                Unlink(item);
                delete item;
                ++removed;
                if (!all) {
                    break;
                }
            }
            item = next;
        }
        return removed ? KL_SUCCESS : KL_ERROR_NO_SUCH_ITEM;
    }
    // Moves the head's data to out and erases it; KL_ERROR_LIST_EMPTY on an empty list.
    KL_Result PopHead(T& out) {
        if (m_Head == nullptr) {
            return KL_ERROR_LIST_EMPTY;
        }
        Item* item = m_Head;
        out = std::move(item->m_Data);
        Unlink(item);
        delete item;
        return KL_SUCCESS;
    }
    // Deletes every item (destroying its data).
    KL_Result Clear() {
        for (Item* item = m_Head; item != nullptr;) {
            Item* next = item->m_Next;
            delete item;
            item = next;
        }
        m_ItemCount = 0;
        m_Head = m_Tail = nullptr;
        return KL_SUCCESS;
    }

    KL_Size GetItemCount() const { return m_ItemCount; }
    bool IsEmpty() const { return m_ItemCount == 0; }
    Iterator GetFirstItem() const { return Iterator(m_Head); }
    Iterator GetLastItem() const { return Iterator(m_Tail); }
    // The n-th item (0-based), or an empty iterator.
    Iterator GetItem(KL_Index n) const {
        Item* item = m_Head;
        while (item != nullptr && n-- > 0) {
            item = item->m_Next;
        }
        return Iterator(item);
    }
    bool Contains(const T& data) const {
        return static_cast<bool>(Find([&data](const T& item) { return item == data; }));
    }
    // The first item for which the predicate answers true (after skipping `skip` matches).
    template <typename P> Iterator Find(const P& predicate, KL_Index skip = 0) const {
        for (Item* item = m_Head; item != nullptr; item = item->m_Next) {
            if (predicate(item->m_Data) && skip-- == 0) {
                return Iterator(item);
            }
        }
        return Iterator();
    }

    // Calls the functor on each item from head to tail.
    template <typename F> KL_Result Apply(const F& functor) const {
        for (Item* item = m_Head; item != nullptr; item = item->m_Next) {
            functor(item->m_Data);
        }
        return KL_SUCCESS;
    }
    // Calls the functor (answering a KL_Result) on each item from head to tail; the first result
    // for which until answers true stops the walk and is returned; else success.
    template <typename F, typename U> KL_Result ApplyUntil(const F& functor, const U& until) const {
        for (Item* item = m_Head; item != nullptr; item = item->m_Next) {
            KL_Result result = functor(item->m_Data);
            if (until(result)) {
                return result;
            }
        }
        return KL_SUCCESS;
    }

    // Range-for support.
    Iterator begin() const { return Iterator(m_Head); }
    Iterator end() const { return Iterator(); }

private:
    KL_Result Link(Item* item, Item* before) {
        if (item == nullptr) {
            return KL_ERROR_OUT_OF_MEMORY;
        }
        if (before == nullptr) {
            item->m_Prev = m_Tail;
            if (m_Tail != nullptr) {
                m_Tail->m_Next = item;
            } else {
                m_Head = item;
            }
            m_Tail = item;
        } else {
            item->m_Next = before;
            item->m_Prev = before->m_Prev;
            if (before->m_Prev != nullptr) {
                before->m_Prev->m_Next = item;
            } else {
                m_Head = item;
            }
            before->m_Prev = item;
        }
        ++m_ItemCount;
        return KL_SUCCESS;
    }
    void Unlink(Item* item) {
        if (item->m_Prev != nullptr) {
            item->m_Prev->m_Next = item->m_Next;
        } else {
            m_Head = item->m_Next;
        }
        if (item->m_Next != nullptr) {
            item->m_Next->m_Prev = item->m_Prev;
        } else {
            m_Tail = item->m_Prev;
        }
        --m_ItemCount;
    }

    KL_Cardinal m_ItemCount = 0;
    Item* m_Head = nullptr;
    Item* m_Tail = nullptr;
};

// ApplyUntil predicate: stop at the first result that differs from the value.
class KL_UntilResultNotEquals {
public:
    explicit KL_UntilResultNotEquals(KL_Result value) : m_Value(value) {}
    bool operator()(KL_Result result) const { return result != m_Value; }

private:
    KL_Result m_Value;
};

// ApplyUntil predicate: stop at the first result equal to the value.
class KL_UntilResultEquals {
public:
    explicit KL_UntilResultEquals(KL_Result value) : m_Value(value) {}
    bool operator()(KL_Result result) const { return result == m_Value; }

private:
    KL_Result m_Value;
};

// Copies the first item of the container (KL_List or KL_Array) for which the finder answers true
// into out; KL_ERROR_NO_SUCH_ITEM (out unchanged) when none does.
template <typename C, typename F, typename T>
KL_Result KL_ContainerFind(const C& container, const F& finder, T& out) {
    for (const auto& item : container) {
        if (finder(item)) {
            out = item;
            return KL_SUCCESS;
        }
    }
    return KL_ERROR_NO_SUCH_ITEM;
}
