#include "KL_XmlAttribute.h"

#include <cstring>

KL_XmlAttribute::KL_XmlAttribute(const char* qualified_name, const char* value) : m_Value(value) {
    const char* colon = qualified_name ? std::strchr(qualified_name, ':') : nullptr;
    if (colon == nullptr) {
        m_Name = qualified_name;
    } else {
        m_Prefix = KL_String(qualified_name, static_cast<KL_Size>(colon - qualified_name));
        m_Name = colon + 1;
    }
}
