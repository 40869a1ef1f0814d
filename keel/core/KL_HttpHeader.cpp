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
    return KL_HttpWriteTexts(stream, {m_Name.GetChars(), ": ", m_Value.GetChars(), "\r\n"});
}

KL_Result KL_HttpWriteTexts(KL_OutputStream& stream, std::initializer_list<const char*> texts) {
    for (const char* text : texts) {
        const KL_Result result = stream.WriteString(text);
        if (KL_FAILED(result)) {
            return result;
        }
    }
    return KL_SUCCESS;
}
