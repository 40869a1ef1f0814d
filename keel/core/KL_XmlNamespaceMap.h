// KL_XmlNamespaceMap: the prefix bindings an element declares, in insertion order.
// The empty prefix stands for the default namespace. Beyond a few entries, prefixes are also
// found through a hash index, so that a peer declaring thousands of prefixes on one element
// costs linear time, not quadratic.
#pragma once

#include "KL_List.h"
#include "KL_Result.h"
#include "KL_String.h"

class KL_XmlNamespaceMap {
public:
    class Entry {
    public:
        Entry(const char* prefix, const char* uri) : m_Prefix(prefix), m_Uri(uri) {}
        const KL_String& GetPrefix() const { return m_Prefix; }
        const KL_String& GetUri() const { return m_Uri; }

    private:
        friend class KL_XmlNamespaceMap;
        KL_String m_Prefix;
        KL_String m_Uri;
    };

    KL_XmlNamespaceMap() = default;
    KL_XmlNamespaceMap(const KL_XmlNamespaceMap&) = delete;
    KL_XmlNamespaceMap& operator=(const KL_XmlNamespaceMap&) = delete;
    ~KL_XmlNamespaceMap();

    // Replaces the URI of an existing prefix or appends a new binding.
    KL_Result SetNamespaceUri(const char* prefix, const char* uri);
    // The URI bound to the prefix, or null when the map does not bind it.
    const KL_String* GetNamespaceUri(const char* prefix) const;
    // The prefix of the first entry bound to the URI, or null.
    const KL_String* GetNamespacePrefix(const char* uri) const;

    const KL_List<Entry*>& GetEntries() const { return m_Entries; }

private:
    Entry* FindEntry(const char* prefix) const;
    KL_Result Index(Entry* entry);
    KL_Result GrowIndex();

    KL_List<Entry*> m_Entries;
    Entry** m_Index = nullptr; // open addressing, a power of two of slots, at most half full
    KL_Size m_IndexSize = 0;
};
