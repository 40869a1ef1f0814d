#include "KL_XmlNamespaceMap.h"

#include <cstring>
#include <new>

namespace {

const char* OrEmpty(const char* text) {
    return text ? text : "";
}

} // namespace

KL_XmlNamespaceMap::~KL_XmlNamespaceMap() {
    for (Entry* entry : m_Entries) {
        delete entry;
    }
    m_Entries.Clear();
}

KL_Result KL_XmlNamespaceMap::SetNamespaceUri(const char* prefix, const char* uri) {
    prefix = OrEmpty(prefix);
    for (Entry* entry : m_Entries) {
        if (std::strcmp(entry->m_Prefix.GetChars(), prefix) == 0) {
            entry->m_Uri = OrEmpty(uri);
            return KL_SUCCESS;
        }
    }
    auto* entry = new (std::nothrow) Entry(prefix, OrEmpty(uri));
    if (entry == nullptr) {
        return KL_ERROR_OUT_OF_MEMORY;
    }
    KL_Result result = m_Entries.Add(entry);
    if (KL_FAILED(result)) {
        delete entry;
    }
    return result;
}

const KL_String* KL_XmlNamespaceMap::GetNamespaceUri(const char* prefix) const {
    prefix = OrEmpty(prefix);
    for (const Entry* entry : m_Entries) {
        if (std::strcmp(entry->m_Prefix.GetChars(), prefix) == 0) {
            return &entry->m_Uri;
        }
    }
    return nullptr;
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
