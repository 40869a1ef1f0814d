// KL_Map<K,V>: a small map over a list of owned entries; lookup is a linear scan in insertion
// order, keys compared with == (KL_String keys: case-sensitively). Not locked.
//
//   map.Put("a", "1");  map["b"] = "2";
//   if (auto* entry = map.GetEntry("a")) { use(entry->GetValue()); }
//   for (auto* entry : map.GetEntries()) { use(entry->GetKey(), entry->GetValue()); }
#pragma once

#include "KL_List.h"

#include <new>

template <typename K, typename V> class KL_Map {
public:
    class Entry {
    public:
        Entry(const K& key, const V& value) : m_Key(key), m_Value(value) {}
        explicit Entry(const K& key) : m_Key(key), m_Value() {}
        const K& GetKey() const { return m_Key; }
        const V& GetValue() const { return m_Value; }
        V& UseValue() { return m_Value; }
        void SetValue(const V& value) { m_Value = value; }

    private:
        K m_Key;
        V m_Value;
    };

    KL_Map() = default;
    KL_Map(const KL_Map& other) { Assign(other); }
    ~KL_Map() { Clear(); }
    KL_Map& operator=(const KL_Map& other) {
        if (this != &other) {
            Assign(other);
        }
        return *this;
    }

    // The entry whose key equals the given one, or null.
    Entry* GetEntry(const K& key) const {
        for (Entry* entry : m_Entries) {
            if (entry->GetKey() == key) {
                return entry;
            }
        }
        return nullptr;
    }
    // Replaces the value of an existing key, else appends a new entry.
    KL_Result Put(const K& key, const V& value) {
        if (Entry* entry = GetEntry(key)) {
            entry->SetValue(value);
            return KL_SUCCESS;
        }
        Entry* entry = new (std::nothrow) Entry(key, value);
        if (entry == nullptr) {
            return KL_ERROR_OUT_OF_MEMORY;
        }
        return m_Entries.Add(entry);
    }
    // The value of the key; an entry with an empty value is appended first when there is none.
    V& operator[](const K& key) {
        Entry* entry = GetEntry(key);
        if (entry == nullptr) {
            entry = new Entry(key);
            m_Entries.Add(entry);
        }
        return entry->UseValue();
    }
    // Points value at the value of the key; KL_ERROR_NO_SUCH_ITEM (value null) when absent.
    KL_Result Get(const K& key, V*& value) const {
        Entry* entry = GetEntry(key);
        value = entry ? &entry->UseValue() : nullptr;
        return entry ? KL_SUCCESS : KL_ERROR_NO_SUCH_ITEM;
    }
    bool HasKey(const K& key) const { return GetEntry(key) != nullptr; }
    // Deletes the entry of the key; KL_ERROR_NO_SUCH_ITEM when absent.
    KL_Result Erase(const K& key) {
        Entry* entry = GetEntry(key);
        if (entry == nullptr) {
            return KL_ERROR_NO_SUCH_ITEM;
        }
        m_Entries.Remove(entry);
        delete entry;
        return KL_SUCCESS;
    }
    // Deletes every entry.
    KL_Result Clear() {
        for (Entry* entry : m_Entries) {
            delete entry;
        }
        return m_Entries.Clear();
    }
    KL_Size GetEntryCount() const { return m_Entries.GetItemCount(); }
    const KL_List<Entry*>& GetEntries() const { return m_Entries; }

private:
    KL_Result Assign(const KL_Map& other) {
        Clear();
        for (Entry* entry : other.m_Entries) {
            KL_Result result = Put(entry->GetKey(), entry->GetValue());
            if (KL_FAILED(result)) {
                return result;
            }
        }
        return KL_SUCCESS;
    }

    KL_List<Entry*> m_Entries;
};
