#include "KL_XmlNamespaceMap.h"

#include <cstring>
#include <new>

namespace {

// Maps with fewer entries are searched in order.
constexpr KL_Size kIndexThreshold = 8;

const char* OrEmpty(const char* text) {
    return text ? text : "";
}

uint32_t HashOf(const char* text) {
    uint32_t hash = 0x811C9DC5u;
    for (; *text; ++text) {
        hash = (hash ^ static_cast<uint8_t>(*text)) * 0x01000193u;
    }
    return hash;
}

} // namespace

KL_XmlNamespaceMap::~KL_XmlNamespaceMap() {
    for (Entry* entry : m_Entries) {
        delete entry;
    }
    m_Entries.Clear();
    delete[] m_Index;
}

KL_XmlNamespaceMap::Entry* KL_XmlNamespaceMap::FindEntry(const char* prefix) const {
    if (m_Index == nullptr) {
        for (Entry* entry : m_Entries) {
            if (std::strcmp(entry->m_Prefix.GetChars(), prefix) == 0) {
                return entry;
            }
        }
        return nullptr;
    }
    for (KL_Size slot = HashOf(prefix) & (m_IndexSize - 1);; slot = (slot + 1) & (m_IndexSize - 1)) {
        Entry* entry = m_Index[slot];
        if (entry == nullptr || std::strcmp(entry->m_Prefix.GetChars(), prefix) == 0) {
            return entry;
        }
    }
}

KL_Result KL_XmlNamespaceMap::Index(Entry* entry) {
    if (m_Entries.GetItemCount() < kIndexThreshold) {
        return KL_SUCCESS;
    }
    if (m_Index == nullptr || 2 * m_Entries.GetItemCount() > m_IndexSize) {
        return GrowIndex(); // indexes every entry, this one included
    }
    KL_Size slot = HashOf(entry->m_Prefix.GetChars()) & (m_IndexSize - 1);
    while (m_Index[slot] != nullptr) {
        slot = (slot + 1) & (m_IndexSize - 1);
    }
    m_Index[slot] = entry;
    return KL_SUCCESS;
}

KL_Result KL_XmlNamespaceMap::GrowIndex() {
    KL_Size size = m_IndexSize ? 2 * m_IndexSize : 4 * kIndexThreshold;
    while (size < 2 * m_Entries.GetItemCount()) {
        size *= 2;
    }
    auto** index = new (std::nothrow) Entry*[size]();
    if (index == nullptr) {
        return KL_ERROR_OUT_OF_MEMORY;
    }
    delete[] m_Index;
    m_Index = index;
    m_IndexSize = size;
    for (Entry* entry : m_Entries) {
        KL_Size slot = HashOf(entry->m_Prefix.GetChars()) & (size - 1);
        while (m_Index[slot] != nullptr) {
            slot = (slot + 1) & (size - 1);
        }
        m_Index[slot] = entry;
    }
    return KL_SUCCESS;
}

KL_Result KL_XmlNamespaceMap::SetNamespaceUri(const char* prefix, const char* uri) {
    prefix = OrEmpty(prefix);
    Entry* existing = FindEntry(prefix);
    if (existing != nullptr) {
        existing->m_Uri = OrEmpty(uri);
        return KL_SUCCESS;
    }
    auto* entry = new (std::nothrow) Entry(prefix, OrEmpty(uri));
    if (entry == nullptr) {
        return KL_ERROR_OUT_OF_MEMORY;
    }
    KL_Result result = m_Entries.Add(entry);
    if (KL_FAILED(result)) {
        delete entry;
        return result;
    }
    result = Index(entry);
    if (KL_FAILED(result)) {
        // Without an index every look-up searches in order again.
        delete[] m_Index;
        m_Index = nullptr;
        m_IndexSize = 0;
    }
    return KL_SUCCESS;
}

const KL_String* KL_XmlNamespaceMap::GetNamespaceUri(const char* prefix) const {
    const Entry* entry = FindEntry(OrEmpty(prefix));
    return entry ? &entry->m_Uri : nullptr;
}

const KL_String* KL_XmlNamespaceMap::GetNamespacePrefix(const char* uri) const {
    uri = OrEmpty(uri);
    for (const Entry* entry : m_Entries) {
        if (std::strcmp(entry->m_Uri.GetChars(), uri) == 0) {
            return &entry->m_Prefix;
        }
    }
    return nullptr;
}
