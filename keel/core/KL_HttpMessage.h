// KL_HttpMessage: what requests and responses share: protocol, headers and an owned entity.
#pragma once

#include "KL_HttpHeaders.h"
#include "KL_Result.h"
#include "KL_String.h"

class KL_BufferedInputStream;
class KL_HttpEntity;
class KL_OutputStream;

#define KL_HTTP_PROTOCOL_1_0 "HTTP/1.0"
#define KL_HTTP_PROTOCOL_1_1 "HTTP/1.1"

class KL_HttpMessage {
public:
    explicit KL_HttpMessage(const char* protocol);
    KL_HttpMessage(const KL_HttpMessage&) = delete;
    KL_HttpMessage& operator=(const KL_HttpMessage&) = delete;
    virtual ~KL_HttpMessage();

    const KL_String& GetProtocol() const { return m_Protocol; }
    KL_Result SetProtocol(const char* protocol);
    KL_HttpHeaders& GetHeaders() { return m_Headers; }
    const KL_HttpHeaders& GetHeaders() const { return m_Headers; }
    KL_HttpEntity* GetEntity() const { return m_Entity; }
    // Takes ownership; the entity held before is deleted.
    KL_Result SetEntity(KL_HttpEntity* entity);

    [[nodiscard]] virtual KL_Result ParseHeaders(KL_BufferedInputStream& stream);
    // Writes the head; the first failing write's result is returned.
    [[nodiscard]] virtual KL_Result Emit(KL_OutputStream& stream) const = 0;

protected:
    KL_String m_Protocol;
    KL_HttpHeaders m_Headers;
    KL_HttpEntity* m_Entity = nullptr;
};
