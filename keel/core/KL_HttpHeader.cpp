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
    (void)stream.WriteString(m_Name.GetChars());
    (void)stream.WriteFully(": ", 2);
    (void)stream.WriteString(m_Value.GetChars());
    (void)stream.WriteFully("\r\n", 2);
    return KL_SUCCESS;
}
