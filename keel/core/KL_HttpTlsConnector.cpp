#include "KL_HttpTlsConnector.h"

#include "KL_Check.h"
#include "KL_HttpProxyAddress.h"
#include "KL_HttpUrl.h"
#include "KL_IpAddress.h"
#include "KL_Log.h"
#include "KL_TcpClientSocket.h"
#include "KL_TlsClientSession.h"
#include "KL_TlsContext.h"

#include <memory>

KL_SET_LOCAL_LOGGER("keel.tls");

namespace {

constexpr KL_Size kMaxTunnelResponse = 16384;

// "HTTP/1.x 200 ...": at least 12 characters, a blank at 8 and the status at 9 to 11.
KL_Result CheckTunnelStatus(const KL_String& line) {
    KL_LOG_FINE("proxy response: %s", line.GetChars());
    if (line.GetLength() < 12 || !line.StartsWith("HTTP/1.") || line.GetChars()[8] != ' ') {
        return KL_ERROR_HTTP_INVALID_RESPONSE_LINE;
    }
    if (line.SubString(9, 3) != "200") {
        KL_LOG_WARNING("proxy response is not 200 (%s)", line.GetChars());
        return KL_ERROR_HTTP_INVALID_RESPONSE_LINE;
    }
    return KL_SUCCESS;
}

} // namespace

KL_HttpTlsConnector::KL_HttpTlsConnector(uint32_t options) : m_TlsContext(nullptr), m_Options(options) {}

KL_HttpTlsConnector::KL_HttpTlsConnector(KL_TlsContext& context, uint32_t options)
    : m_TlsContext(&context), m_Options(options) {}

KL_Result KL_HttpTlsConnector::VerifyPeer(KL_TlsSession& session, const char* host) {
    KL_Result result = session.VerifyPeerCertificate();
    if (result == KL_ERROR_TLS_CERTIFICATE_SELF_SIGNED) {
        if ((m_Options & OPTION_ACCEPT_SELF_SIGNED) == 0) {
            KL_LOG_FINE("rejecting self-signed certificate");
            return result;
        }
        result = KL_SUCCESS;
    }
    if (result != KL_SUCCESS) {
        KL_LOG_WARNING("TLS certificate verification failed (%d:%s)", result, KL_GetResultText(result));
        return result;
    }
    if ((m_Options & OPTION_SKIP_NAME_CHECK) != 0) {
        return KL_SUCCESS;
    }
    result = session.VerifyDnsNameMatch(host);
    if (KL_FAILED(result)) {
        KL_LOG_WARNING("TLS certificate does not match DNS name (%d:%s)", result, KL_GetResultText(result));
        return KL_ERROR_TLS_DNS_NAME_MISMATCH;
    }
    return KL_SUCCESS;
}

KL_Result KL_HttpTlsConnector::OpenTunnel(KL_InputStream& input, KL_OutputStream& output,
                                          const KL_HttpUrl& url) {
    const unsigned port = url.GetPort();
    const KL_String request =
        KL_String::Format("CONNECT %s:%u HTTP/1.1\r\nHost: %s:%u\r\n\r\n", url.GetHost().GetChars(), port,
                          url.GetHost().GetChars(), port);
    KL_CHECK(output.WriteFully(request.GetChars(), request.GetLength()));
    KL_CHECK(output.Flush());
    KL_String text;
    bool status_seen = false;
    for (KL_Size reads = 0; reads < kMaxTunnelResponse && text.GetLength() < kMaxTunnelResponse; ++reads) {
        char c = 0;
        KL_Size count = 0;
        KL_CHECK(input.Read(&c, 1, &count));
        if (count == 0) {
            continue;
        }
        text += c;
        if (!status_seen && c == '\n') {
            KL_String line = text;
            line.TrimRight("\r\n");
            KL_CHECK_WARNING(CheckTunnelStatus(line));
            status_seen = true;
        }
        if (status_seen && text.EndsWith("\r\n\r\n")) {
            return KL_SUCCESS;
        }
    }
    KL_LOG_WARNING("proxy response head does not end within %u bytes",
                   static_cast<unsigned>(kMaxTunnelResponse));
    return KL_ERROR_HTTP_INVALID_RESPONSE_LINE;
}

KL_Result KL_HttpTlsConnector::StartTls(const KL_HttpUrl& url,
                                        KL_HttpConnectionManager::Connection& connection,
                                        const KL_InputStreamReference& input,
                                        const KL_OutputStreamReference& output) {
    KL_TlsContext* context = m_TlsContext != nullptr ? m_TlsContext : KL_TlsContext::GetDefaultContext();
    KL_TlsClientSession session(*context, input, output);
    session.SetServerName(url.GetHost().GetChars());
    KL_Result result = session.Handshake();
    if (KL_FAILED(result)) {
        KL_LOG_WARNING("TLS handshake failed (%d:%s)", result, KL_GetResultText(result));
        return result;
    }
    result = VerifyPeer(session, url.GetHost().GetChars());
    if (KL_FAILED(result)) {
        KL_LOG_WARNING("VerifyPeer failed (%d:%s)", result, KL_GetResultText(result));
        return result;
    }
    KL_InputStreamReference tls_input;
    KL_OutputStreamReference tls_output;
    KL_CHECK(session.GetInputStream(tls_input));
    KL_CHECK(session.GetOutputStream(tls_output));
    connection.SetStreams(tls_input, tls_output);
    return KL_SUCCESS;
}

KL_Result KL_HttpTlsConnector::Establish(const KL_HttpUrl& url, KL_HttpClient& client,
                                         const KL_HttpProxyAddress* proxy, const KL_SocketAddress& address,
                                         KL_HttpConnectionManager::Connection& connection) {
    KL_LOG_FINE("TLS connector will connect to %s:%d", address.m_IpAddress.ToString().GetChars(),
                static_cast<int>(address.m_Port));
    KL_CHECK(client.TrackConnection(&connection));
    KL_CHECK(connection.GetSocket()->Connect(address, client.GetConfig().m_ConnectionTimeout));
    KL_InputStreamReference input;
    KL_OutputStreamReference output;
    KL_CHECK(connection.GetSocket()->GetInputStream(input));
    KL_CHECK(connection.GetSocket()->GetOutputStream(output));
    if (url.GetSchemeId() != KL_Uri::SCHEME_ID_HTTPS) {
        connection.SetStreams(input, output);
        return KL_SUCCESS;
    }
    if (proxy != nullptr) {
        KL_CHECK(OpenTunnel(*input, *output, url));
    }
    return StartTls(url, connection, input, output);
}

KL_Result KL_HttpTlsConnector::Connect(const KL_HttpUrl& url, KL_HttpClient& client,
                                       const KL_HttpProxyAddress* proxy, bool reuse,
                                       KL_HttpClient::Connection*& connection) {
    connection = nullptr;
    const KL_String& host = proxy != nullptr ? proxy->GetHostName() : url.GetHost();
    const uint16_t port = proxy != nullptr ? proxy->GetPort() : url.GetPort();
    KL_IpAddress ip;
    KL_CHECK(ip.ResolveName(host, client.GetConfig().m_NameResolverTimeout));
    const KL_SocketAddress address(ip, port);
    // Connections through a proxy are never looked up again: they carry no key.
    const KL_String key = proxy != nullptr
                              ? KL_String()
                              : KL_HttpConnectionManager::MakeKey(url.GetScheme().GetChars(),
                                                                  url.GetHost().GetChars(), url.GetPort());
    KL_HttpConnectionManager* manager = KL_HttpConnectionManager::GetInstance();
    if (proxy == nullptr && reuse) {
        KL_LOG_FINEST("looking for a connection to reuse");
        if (KL_HttpConnectionManager::Connection* pooled = manager->FindConnection(address, key.GetChars())) {
            KL_LOG_FINE("reusing connection");
            const KL_Result tracked = client.TrackConnection(pooled);
            if (KL_FAILED(tracked)) {
                delete pooled;
                return tracked;
            }
            connection = pooled;
            return KL_SUCCESS;
        }
    }
    KL_SocketReference socket(new KL_TcpClientSocket(KL_SOCKET_FLAG_CANCELLABLE));
    (void)socket->SetReadTimeout(client.GetConfig().m_IoTimeout);
    (void)socket->SetWriteTimeout(client.GetConfig().m_IoTimeout);
    std::unique_ptr<KL_HttpConnectionManager::Connection> made(
        new KL_HttpConnectionManager::Connection(manager, socket, key.GetChars()));
    KL_CHECK(Establish(url, client, proxy, address, *made));
    connection = made.release();
    return KL_SUCCESS;
}
