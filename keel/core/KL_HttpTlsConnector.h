// KL_HttpTlsConnector: the HTTP client's default connector. It opens a TCP connection to the
// server (or the proxy), reuses a pooled one where it may, and for https runs TLS on top (through
// a CONNECT tunnel when a proxy is in the way), verifying the server's certificate and name.
#pragma once

#include "KL_HttpClient.h"
#include "KL_HttpConnectionManager.h"

#include <cstdint>

class KL_TlsContext;
class KL_TlsSession;

class KL_HttpTlsConnector : public KL_HttpClient::Connector {
public:
    // A self-signed server certificate passes (its name is still checked).
    static constexpr uint32_t OPTION_ACCEPT_SELF_SIGNED = 1;
    // The server's name is not checked against its certificate.
    static constexpr uint32_t OPTION_SKIP_NAME_CHECK = 2;

    // Uses the default client context (taken on the first https connection).
    explicit KL_HttpTlsConnector(uint32_t options = 0);
    // The context is not owned and must outlive the connector.
    KL_HttpTlsConnector(KL_TlsContext& context, uint32_t options);

    [[nodiscard]] KL_Result Connect(const KL_HttpUrl& url, KL_HttpClient& client,
                                    const KL_HttpProxyAddress* proxy, bool reuse,
                                    KL_HttpClient::Connection*& connection) override;
    // Checks the session's peer certificate and (unless skipped) that it names the host.
    [[nodiscard]] virtual KL_Result VerifyPeer(KL_TlsSession& session, const char* host);

    // Asks the proxy on the streams for a tunnel to the URL's server: 0 once it answered 200
    // and its head has ended.
    [[nodiscard]] static KL_Result OpenTunnel(KL_InputStream& input, KL_OutputStream& output,
                                              const KL_HttpUrl& url);

private:
    KL_Result Establish(const KL_HttpUrl& url, KL_HttpClient& client, const KL_HttpProxyAddress* proxy,
                        const KL_SocketAddress& address, KL_HttpConnectionManager::Connection& connection);
    KL_Result StartTls(const KL_HttpUrl& url, KL_HttpConnectionManager::Connection& connection,
                       const KL_InputStreamReference& input, const KL_OutputStreamReference& output);

    KL_TlsContext* m_TlsContext;
    uint32_t m_Options;
};
