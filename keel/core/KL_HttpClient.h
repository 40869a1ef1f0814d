// KL_HttpClient: sends HTTP requests over connections its connector provides.
//
// SendRequest picks a proxy, takes a connection from the connector (a pooled kept-alive one
// when the pool holds one to the same server), writes the request, reads the response head and
// hands the response back with a body stream that returns the connection to the pool once the
// body has been read to its end. Redirects of GET and HEAD are followed.
#pragma once

#include "KL_InputStream.h"
#include "KL_Mutex.h"
#include "KL_OutputStream.h"
#include "KL_Result.h"
#include "KL_String.h"
#include "KL_Types.h"

#include "KL_SocketInfo.h"

#include <cstdint>

class KL_HttpProxyAddress;
class KL_HttpProxySelector;
class KL_HttpRequest;
class KL_HttpRequestContext;
class KL_HttpResponse;
class KL_HttpUrl;

class KL_HttpClient {
public:
    struct Config {
        KL_Timeout m_ConnectionTimeout = 30000;
        KL_Timeout m_IoTimeout = 30000;
        KL_Timeout m_NameResolverTimeout = 60000;
        uint32_t m_MaxRedirects = 20; // 0 follows none
        KL_String m_UserAgent = KL_String("Keel/1.0.0");
    };

    // One connection to a server. A response body keeps its connection until the body has been
    // read to its end; then a persistent connection goes back to the pool with Recycle,
    // otherwise it is deleted, which closes it.
    class Connection {
    public:
        virtual ~Connection() = default;
        virtual KL_InputStreamReference& GetInputStream() = 0;
        virtual KL_OutputStreamReference& GetOutputStream() = 0;
        // Local and remote addresses of the connection's socket.
        [[nodiscard]] virtual KL_Result GetInfo(KL_SocketInfo& info) = 0;
        virtual bool SupportsPersistence() = 0;
        // True when the connection came from the pool.
        virtual bool IsRecycled() = 0;
        // Hands the connection back to the pool, which owns it from then on.
        virtual KL_Result Recycle() = 0;
        // Cancels the socket: reads and writes in progress fail.
        virtual KL_Result Abort() = 0;
    };

    // Makes the connections of a client. Connect gives a connection to the URL's server (or to
    // the proxy when one is given), a pooled one when reuse is allowed and one fits, registered
    // with the client's TrackConnection; the caller owns it.
    class Connector {
    public:
        virtual ~Connector() = default;
        [[nodiscard]] virtual KL_Result Connect(const KL_HttpUrl& url, KL_HttpClient& client,
                                                const KL_HttpProxyAddress* proxy, bool reuse,
                                                Connection*& connection) = 0;
    };

    // Without a connector the client makes its own KL_HttpTlsConnector (options 0). A given
    // connector is owned when transfer_ownership.
    explicit KL_HttpClient(Connector* connector = nullptr, bool transfer_ownership = false);
    virtual ~KL_HttpClient();
    KL_HttpClient(const KL_HttpClient&) = delete;
    KL_HttpClient& operator=(const KL_HttpClient&) = delete;

    KL_Result SetConfig(const Config& config);
    const Config& GetConfig() const { return m_Config; }
    KL_Result SetTimeouts(KL_Timeout connection_timeout, KL_Timeout io_timeout,
                          KL_Timeout name_resolver_timeout);
    KL_Result SetUserAgent(const char* user_agent);
    // Replaces the proxy selector with a static one (owned).
    KL_Result SetProxy(const char* http_host, uint16_t http_port, const char* https_host,
                       uint16_t https_port);
    // The selector (null: no proxy) and the connector are not owned.
    KL_Result SetProxySelector(KL_HttpProxySelector* selector);
    KL_Result SetConnector(Connector* connector);

    // Sends the request, following redirects. On success response (the caller owns it) holds
    // the final answer; context, when given, gets the connection's addresses.
    [[nodiscard]] KL_Result SendRequest(KL_HttpRequest& request, KL_HttpResponse*& response,
                                        KL_HttpRequestContext* context = nullptr);
    // One exchange, without redirects (retrying only failures of pooled connections).
    [[nodiscard]] KL_Result SendRequestOnce(KL_HttpRequest& request, KL_HttpResponse*& response,
                                            KL_HttpRequestContext* context = nullptr);

    // Registers a connection handed to this client so that Abort reaches it;
    // KL_ERROR_CANCELLED once the client has been aborted.
    KL_Result TrackConnection(Connection* connection);
    // Cancels every connection of this client (may be called from another thread).
    KL_Result Abort();

    // Completes the head (Connection, Host, entity headers) and writes the request and its body.
    [[nodiscard]] static KL_Result WriteRequest(KL_OutputStream& output, KL_HttpRequest& request,
                                                bool should_persist, bool use_proxy);
    // Reads a response head (skipping informational ones) and installs its body stream. The
    // connection, when given, is taken from the caller (*connection becomes null) when the body
    // stream or the pool takes it over.
    [[nodiscard]] static KL_Result ReadResponse(const KL_InputStreamReference& input, bool should_persist,
                                                bool expect_entity, KL_HttpResponse*& response,
                                                Connection** connection);

private:
    bool IsAborted();
    KL_Result FollowRedirect(KL_HttpRequest& request, const KL_HttpResponse& response);
    KL_Result Exchange(KL_HttpRequest& request, Connection*& connection, bool use_proxy,
                       KL_HttpResponse*& response, bool& retry);

    Config m_Config;
    KL_HttpProxySelector* m_ProxySelector = nullptr;
    bool m_ProxySelectorIsOwned = false;
    Connector* m_Connector = nullptr;
    bool m_ConnectorIsOwned = false;
    KL_Mutex m_AbortLock;
    bool m_Aborted = false;
};
