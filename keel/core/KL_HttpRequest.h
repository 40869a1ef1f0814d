// KL_HttpRequest: method, target URL and head of an HTTP request; parsed from and written to
// streams.
#pragma once

#include "KL_HttpMessage.h"
#include "KL_HttpUrl.h"

class KL_SocketAddress;

class KL_HttpRequest : public KL_HttpMessage {
public:
    KL_HttpRequest(const KL_HttpUrl& url, const char* method, const char* protocol = KL_HTTP_PROTOCOL_1_0);
    KL_HttpRequest(const char* url, const char* method, const char* protocol = KL_HTTP_PROTOCOL_1_0);
    ~KL_HttpRequest() override = default;

    const KL_HttpUrl& GetUrl() const { return m_Url; }
    KL_HttpUrl& GetUrl() { return m_Url; }
    KL_Result SetUrl(const char* url);
    KL_Result SetUrl(const KL_HttpUrl& url);
    const KL_String& GetMethod() const { return m_Method; }
    KL_Result SetMethod(const char* method);

    // Writes the request line (an absolute URL when use_proxy), the headers and the empty line.
    [[nodiscard]] KL_Result Emit(KL_OutputStream& stream, bool use_proxy) const;
    [[nodiscard]] KL_Result Emit(KL_OutputStream& stream) const override { return Emit(stream, false); }

    // Reads a request head. endpoint, when given, is the local address the request came in on;
    // it names the host when there is no Host header and always gives the port. On failure
    // request is null.
    [[nodiscard]] static KL_Result Parse(KL_BufferedInputStream& stream, const KL_SocketAddress* endpoint,
                                         KL_HttpRequest*& request);

private:
    void CompleteUrl(const char* target, const KL_SocketAddress* endpoint);

    KL_HttpUrl m_Url;
    KL_String m_Method;
};
