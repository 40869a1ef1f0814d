#include "KL_HttpResponse.h"

#include "KL_BufferedInputStream.h"
#include "KL_Check.h"
#include "KL_OutputStream.h"

#include <cstdio>

KL_SET_LOCAL_LOGGER("keel.http");

KL_HttpResponse::KL_HttpResponse(int32_t status_code, const char* reason_phrase, const char* protocol)
    : KL_HttpMessage(protocol), m_StatusCode(status_code), m_ReasonPhrase(reason_phrase) {}

KL_Result KL_HttpResponse::SetStatus(int32_t status_code, const char* reason_phrase, const char* protocol) {
    m_StatusCode = status_code;
    m_ReasonPhrase = reason_phrase;
    if (protocol != nullptr) {
        m_Protocol = protocol;
    }
    return KL_SUCCESS;
}

KL_Result KL_HttpResponse::Emit(KL_OutputStream& stream) const {
    char code[16];
    std::snprintf(code, sizeof code, " %d ", static_cast<int>(m_StatusCode));
    // The first failing write ends the head and its result is returned.
    KL_Result result =
        KL_HttpWriteTexts(stream, {m_Protocol.GetChars(), code, m_ReasonPhrase.GetChars(), "\r\n"});
    if (KL_SUCCEEDED(result)) {
        result = m_Headers.Emit(stream);
    }
    return KL_SUCCEEDED(result) ? stream.WriteFully("\r\n", 2) : result;
}

KL_Result KL_HttpResponse::Parse(KL_BufferedInputStream& stream, KL_HttpResponse*& response) {
    response = nullptr;
    KL_String line;
    const KL_Result result = stream.ReadLine(line, KL_HTTP_PROTOCOL_MAX_LINE_LENGTH, false);
    if (KL_FAILED(result)) {
        if (result != KL_ERROR_EOS && result != KL_ERROR_TIMEOUT) {
            KL_LOG_CHECK_FAILED(KL_LOG_LEVEL_WARNING, result, "(stream.ReadLine(line))");
        }
        return result;
    }
    // "PROTOCOL CODE REASON": a 3-character code; "HTTP/1.1 200" alone has an empty reason.
    const int first_space = line.Find(' ');
    if (first_space <= 0) {
        return KL_ERROR_HTTP_INVALID_RESPONSE_LINE;
    }
    const int second_space = line.Find(' ', static_cast<KL_Index>(first_space) + 1);
    if (second_space >= 0 ? second_space != first_space + 4 : line.GetLength() != 12) {
        return KL_ERROR_HTTP_INVALID_RESPONSE_LINE;
    }
    const KL_Index code_start = static_cast<KL_Index>(first_space) + 1;
    int32_t code = 0;
    (void)line.SubString(code_start, 3).ToInteger(code, true); // a code that does not parse is 0
    KL_HttpResponse* parsed = new KL_HttpResponse(code, line.SubString(code_start + 4).GetChars(),
                                                  line.Left(static_cast<KL_Size>(first_space)).GetChars());
    const KL_Result headers_result = parsed->ParseHeaders(stream);
    if (KL_FAILED(headers_result)) {
        delete parsed;
        return headers_result;
    }
    response = parsed;
    return KL_SUCCESS;
}
