// KL_HttpResponse: status code, reason phrase and head of an HTTP response.
#pragma once

#include "KL_HttpMessage.h"

#include <cstdint>

class KL_HttpResponse : public KL_HttpMessage {
public:
    KL_HttpResponse(int32_t status_code, const char* reason_phrase,
                    const char* protocol = KL_HTTP_PROTOCOL_1_0);
    ~KL_HttpResponse() override = default;

    // The protocol changes only when one is given.
    KL_Result SetStatus(int32_t status_code, const char* reason_phrase, const char* protocol = nullptr);
    int32_t GetStatusCode() const { return m_StatusCode; }
    const KL_String& GetReasonPhrase() const { return m_ReasonPhrase; }

    // Writes the status line, the headers and the empty line.
    [[nodiscard]] KL_Result Emit(KL_OutputStream& stream) const override;

    // Reads a response head; on failure response is null.
    [[nodiscard]] static KL_Result Parse(KL_BufferedInputStream& stream, KL_HttpResponse*& response);

private:
    int32_t m_StatusCode;
    KL_String m_ReasonPhrase;
};
