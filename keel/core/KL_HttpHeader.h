// KL_HttpHeader: one "Name: value" line of an HTTP head; the name keeps its case.
#pragma once

#include "KL_Result.h"
#include "KL_String.h"

#include <initializer_list>

class KL_OutputStream;

class KL_HttpHeader {
public:
    KL_HttpHeader(const char* name, const char* value) : m_Name(name), m_Value(value) {}

    const KL_String& GetName() const { return m_Name; }
    const KL_String& GetValue() const { return m_Value; }
    KL_Result SetName(const char* name);
    KL_Result SetValue(const char* value);

    // Writes "name: value\r\n"; the first failing write's result is returned.
    [[nodiscard]] KL_Result Emit(KL_OutputStream& stream) const;

private:
    KL_String m_Name;
    KL_String m_Value;
};

// Writes the texts one after another; the first failing write's result is returned and nothing
// more is written.
[[nodiscard]] KL_Result KL_HttpWriteTexts(KL_OutputStream& stream, std::initializer_list<const char*> texts);
