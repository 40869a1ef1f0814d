// KL_HttpEntity: what a message says about its body (length, type, codings) and the body stream.
#pragma once

#include "KL_DataBuffer.h"
#include "KL_InputStream.h"
#include "KL_Result.h"
#include "KL_String.h"

#include <cstdint>

class KL_HttpHeaders;

class KL_HttpEntity {
public:
    KL_HttpEntity() = default;
    explicit KL_HttpEntity(const KL_HttpHeaders& headers);
    KL_HttpEntity(const KL_HttpEntity&) = delete;
    KL_HttpEntity& operator=(const KL_HttpEntity&) = delete;
    virtual ~KL_HttpEntity() = default;

    // Takes Content-Length, Content-Type, Content-Encoding and Transfer-Encoding when present.
    KL_Result SetHeaders(const KL_HttpHeaders& headers);

    // -1 (failure) when there is no body stream.
    KL_Result GetInputStream(KL_InputStreamReference& stream) const;
    KL_Result SetInputStream(const KL_InputStreamReference& stream, bool update_content_length = true);
    KL_Result SetInputStream(const void* data, KL_Size size);
    KL_Result SetInputStream(const char* text);
    KL_Result SetInputStream(const KL_String& text);

    // Reads the whole body (its content length, or to its end when that is 0).
    [[nodiscard]] KL_Result Load(KL_DataBuffer& buffer);

    KL_Result SetContentLength(uint64_t length);
    uint64_t GetContentLength() const { return m_ContentLength; }
    bool ContentLengthIsKnown() const { return m_ContentLengthIsKnown; }
    KL_Result SetContentType(const char* type);
    const KL_String& GetContentType() const { return m_ContentType; }
    KL_Result SetContentEncoding(const char* encoding);
    const KL_String& GetContentEncoding() const { return m_ContentEncoding; }
    KL_Result SetTransferEncoding(const char* encoding);
    const KL_String& GetTransferEncoding() const { return m_TransferEncoding; }

    // True when the transfer coding is "chunked", in any case of letters: the one test every
    // reader and writer of bodies uses.
    bool IsChunked() const;
    static bool IsChunked(const char* transfer_encoding);

private:
    KL_InputStreamReference m_InputStream;
    uint64_t m_ContentLength = 0;
    KL_String m_ContentType;
    KL_String m_ContentEncoding;
    KL_String m_TransferEncoding;
    bool m_ContentLengthIsKnown = false;
};
