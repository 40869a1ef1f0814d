#include "KL_HttpEntity.h"

#include "KL_HttpHeaders.h"
#include "KL_MemoryStream.h"

#include <cstring>

KL_HttpEntity::KL_HttpEntity(const KL_HttpHeaders& headers) {
    SetHeaders(headers);
}

KL_Result KL_HttpEntity::SetHeaders(const KL_HttpHeaders& headers) {
    if (const char* length = headers.GetHeaderValue("Content-Length")) {
        uint64_t value = 0;
        (void)KL_String(length).ToInteger(value, true); // a length that does not parse counts as 0
        m_ContentLength = value;
        m_ContentLengthIsKnown = true;
    }
    if (const char* type = headers.GetHeaderValue("Content-Type")) {
        m_ContentType = type;
    }
    if (const char* encoding = headers.GetHeaderValue("Content-Encoding")) {
        m_ContentEncoding = encoding;
    }
    if (const char* encoding = headers.GetHeaderValue("Transfer-Encoding")) {
        m_TransferEncoding = encoding;
    }
    return KL_SUCCESS;
}

KL_Result KL_HttpEntity::GetInputStream(KL_InputStreamReference& stream) const {
    stream.Release();
    if (!m_InputStream) {
        return KL_FAILURE;
    }
    stream = m_InputStream;
    return KL_SUCCESS;
}

KL_Result KL_HttpEntity::SetInputStream(const KL_InputStreamReference& stream, bool update_content_length) {
    m_InputStream = stream;
    uint64_t size = 0;
    if (update_content_length && m_InputStream && KL_SUCCEEDED(m_InputStream->GetSize(size))) {
        SetContentLength(size);
    }
    return KL_SUCCESS;
}

KL_Result KL_HttpEntity::SetInputStream(const void* data, KL_Size size) {
    KL_InputStream* stream = new KL_MemoryStream(data, size);
    return SetInputStream(KL_InputStreamReference(stream, true), true);
}

KL_Result KL_HttpEntity::SetInputStream(const char* text) {
    if (text == nullptr) {
        return KL_ERROR_INVALID_PARAMETERS;
    }
    return SetInputStream(text, static_cast<KL_Size>(std::strlen(text)));
}

KL_Result KL_HttpEntity::SetInputStream(const KL_String& text) {
    return SetInputStream(text.GetChars(), text.GetLength());
}

KL_Result KL_HttpEntity::Load(KL_DataBuffer& buffer) {
    if (!m_InputStream) {
        return KL_ERROR_INVALID_STATE;
    }
    if (m_ContentLength >= 0x100000000ull) {
        return KL_ERROR_OUT_OF_RANGE;
    }
    return m_InputStream->ReadAll(buffer, static_cast<KL_Size>(m_ContentLength));
}

KL_Result KL_HttpEntity::SetContentLength(uint64_t length) {
    m_ContentLength = length;
    m_ContentLengthIsKnown = true;
    return KL_SUCCESS;
}

KL_Result KL_HttpEntity::SetContentType(const char* type) {
    m_ContentType = type;
    return KL_SUCCESS;
}

KL_Result KL_HttpEntity::SetContentEncoding(const char* encoding) {
    m_ContentEncoding = encoding;
    return KL_SUCCESS;
}

KL_Result KL_HttpEntity::SetTransferEncoding(const char* encoding) {
    m_TransferEncoding = encoding;
    return KL_SUCCESS;
}

bool KL_HttpEntity::IsChunked() const {
    return IsChunked(m_TransferEncoding.GetChars());
}

bool KL_HttpEntity::IsChunked(const char* transfer_encoding) {
    return transfer_encoding != nullptr && KL_String::Compare(transfer_encoding, "chunked", true) == 0;
}
