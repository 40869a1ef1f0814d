// KL_XmlAttribute: one attribute of an element (prefix, local name, value).
#pragma once

#include "KL_String.h"

class KL_XmlAttribute {
public:
    // A qualified name is split at its first ":" (no ":" gives an empty prefix).
    KL_XmlAttribute(const char* qualified_name, const char* value);
    KL_XmlAttribute(const char* prefix, const char* name, const char* value)
        : m_Prefix(prefix), m_Name(name), m_Value(value) {}

    const KL_String& GetPrefix() const { return m_Prefix; }
    const KL_String& GetName() const { return m_Name; }
    const KL_String& GetValue() const { return m_Value; }
    void SetValue(const char* value) { m_Value = value; }

private:
    KL_String m_Prefix;
    KL_String m_Name;
    KL_String m_Value;
};
