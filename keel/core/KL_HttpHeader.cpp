#include "KL_HttpHeader.h"

#include "KL_OutputStream.h"

KL_Result KL_HttpHeader::SetName(const char* name) {
    m_Name = name;
    return KL_SUCCESS;
}

KL_Result KL_HttpHeader::SetValue(const char* value) {
    m_Value = value;
    return KL_SUCCESS;
}

KL_Result KL_HttpHeader::Emit(KL_OutputStream& stream) const {
    KL_Result result = stream.WriteString(m_Name.GetChars());
    if (KL_SUCCEEDED(result)) {
        result = stream.WriteFully(": ", 2);
    }
    if (KL_SUCCEEDED(result)) {
        result = stream.WriteString(m_Value.GetChars());
    }
    if (KL_SUCCEEDED(result)) {
        result = stream.WriteFully("\r\n", 2);
    }
    return result;
}
