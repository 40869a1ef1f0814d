#include "KL_HttpRequest.h"

#include "KL_BufferedInputStream.h"
#include "KL_OutputStream.h"
#include "KL_SocketAddress.h"

KL_HttpRequest::KL_HttpRequest(const KL_HttpUrl& url, const char* method, const char* protocol)
    : KL_HttpMessage(protocol), m_Url(url), m_Method(method) {}

KL_HttpRequest::KL_HttpRequest(const char* url, const char* method, const char* protocol)
    : KL_HttpMessage(protocol), m_Url(url, false), m_Method(method) {}

KL_Result KL_HttpRequest::SetUrl(const char* url) {
    m_Url = KL_HttpUrl(url, false);
    return KL_SUCCESS;
}

KL_Result KL_HttpRequest::SetUrl(const KL_HttpUrl& url) {
    m_Url = url;
    return KL_SUCCESS;
}

KL_Result KL_HttpRequest::SetMethod(const char* method) {
    m_Method = method;
    return KL_SUCCESS;
}

KL_Result KL_HttpRequest::Emit(KL_OutputStream& stream, bool use_proxy) const {
    // Fragments never leave the client.
    const KL_String target =
        use_proxy ? m_Url.ToStringWithDefaultPort(KL_HttpUrl::GetDefaultPort(m_Url.GetSchemeId()))
                  : m_Url.ToRequestString(false);
    // The first failing write ends the head and its result is returned.
    KL_Result result = KL_HttpWriteTexts(
        stream, {m_Method.GetChars(), " ", target.GetChars(), " ", m_Protocol.GetChars(), "\r\n"});
    if (KL_SUCCEEDED(result)) {
        result = m_Headers.Emit(stream);
    }
    return KL_SUCCEEDED(result) ? stream.WriteFully("\r\n", 2) : result;
}

// An origin-form target gets its host from the Host header, else from the address the request
// came in on, else "localhost"; the port of that address wins over the header's.
void KL_HttpRequest::CompleteUrl(const char* target, const KL_SocketAddress* endpoint) {
    m_Url.SetScheme("http");
    (void)m_Url.SetPathQueryFragment(target);
    m_Url.SetPort(KL_HttpUrl::DEFAULT_PORT);
    if (const char* host = m_Headers.GetHeaderValue("Host")) {
        m_Url.SetHost(host);
        if (endpoint != nullptr) {
            m_Url.SetPort(static_cast<uint16_t>(endpoint->m_Port));
        }
    } else if (endpoint != nullptr) {
        m_Url.SetHost(endpoint->ToString().GetChars());
    } else {
        m_Url.SetHost("localhost");
    }
}

KL_Result KL_HttpRequest::Parse(KL_BufferedInputStream& stream, const KL_SocketAddress* endpoint,
                                KL_HttpRequest*& request) {
    request = nullptr;
    KL_String line;
    // Empty lines before the request line are skipped, as many as a header block may hold.
    for (KL_Size skipped = 0;; ++skipped) {
        const KL_Result result = stream.ReadLine(line, KL_HTTP_PROTOCOL_MAX_LINE_LENGTH, false);
        if (KL_FAILED(result)) {
            return result;
        }
        if (!line.IsEmpty()) {
            break;
        }
        if (skipped >= KL_HTTP_PROTOCOL_MAX_HEADER_LINES) {
            return KL_ERROR_NOT_ENOUGH_SPACE;
        }
    }
    const int first_space = line.Find(' ');
    const int second_space = first_space < 0 ? -1 : line.Find(' ', static_cast<KL_Index>(first_space) + 1);
    if (second_space < 0) {
        return KL_ERROR_HTTP_INVALID_REQUEST_LINE;
    }
    const KL_String method = line.Left(static_cast<KL_Size>(first_space));
    const KL_String target = line.SubString(static_cast<KL_Index>(first_space) + 1,
                                            static_cast<KL_Size>(second_space - first_space - 1));
    const KL_String protocol = line.SubString(static_cast<KL_Index>(second_space) + 1);
    const bool absolute = target.StartsWith("http://", true);
    KL_HttpRequest* parsed =
        new KL_HttpRequest(absolute ? target.GetChars() : "http:", method.GetChars(), protocol.GetChars());
    const KL_Result result = parsed->ParseHeaders(stream);
    if (KL_FAILED(result)) {
        delete parsed;
        return result;
    }
    if (!absolute) {
        parsed->CompleteUrl(target.GetChars(), endpoint);
    }
    request = parsed;
    return KL_SUCCESS;
}
