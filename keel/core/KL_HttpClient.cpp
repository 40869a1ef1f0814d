#include "KL_HttpClient.h"

#include "KL_Check.h"
#include "KL_HttpConnectionManager.h"
#include "KL_HttpEntity.h"
#include "KL_HttpProxySelector.h"
#include "KL_HttpRequest.h"
#include "KL_HttpRequestContext.h"
#include "KL_HttpResponse.h"
#include "KL_HttpStaticProxySelector.h"
#include "KL_HttpTlsConnector.h"
#include "KL_Log.h"

KL_SET_LOCAL_LOGGER("keel.http.client");

namespace {

constexpr int kMaxAttempts = 10;

bool IsRedirectStatus(int32_t status) {
    return status == 301 || status == 302 || status == 303 || status == 307;
}

// Moves the request body, if any, back to its start: false when it cannot be moved.
bool RewindBody(KL_HttpRequest& request) {
    KL_HttpEntity* entity = request.GetEntity();
    KL_InputStreamReference body;
    if (entity == nullptr || KL_FAILED(entity->GetInputStream(body)) || body.IsNull()) {
        return true;
    }
    return KL_SUCCEEDED(body->Seek(0));
}

} // namespace

KL_HttpClient::KL_HttpClient(Connector* connector, bool transfer_ownership)
    : m_ProxySelector(KL_HttpProxySelector::GetDefault()) {
    if (connector == nullptr) {
        m_Connector = new KL_HttpTlsConnector(0);
        m_ConnectorIsOwned = true;
    } else {
        m_Connector = connector;
        m_ConnectorIsOwned = transfer_ownership;
    }
}

KL_HttpClient::~KL_HttpClient() {
    // A response body may still hold a connection of this client: it must not be reached
    // through a stale client entry.
    if (KL_HttpConnectionManager* manager = KL_HttpConnectionManager::GetExistingInstance()) {
        (void)manager->UntrackClient(this);
    }
    if (m_ProxySelectorIsOwned) {
        delete m_ProxySelector;
    }
    if (m_ConnectorIsOwned) {
        delete m_Connector;
    }
}

KL_Result KL_HttpClient::SetConfig(const Config& config) {
    m_Config = config;
    return KL_SUCCESS;
}

KL_Result KL_HttpClient::SetTimeouts(KL_Timeout connection_timeout, KL_Timeout io_timeout,
                                     KL_Timeout name_resolver_timeout) {
    m_Config.m_ConnectionTimeout = connection_timeout;
    m_Config.m_IoTimeout = io_timeout;
    m_Config.m_NameResolverTimeout = name_resolver_timeout;
    return KL_SUCCESS;
}

KL_Result KL_HttpClient::SetUserAgent(const char* user_agent) {
    m_Config.m_UserAgent = user_agent;
    return KL_SUCCESS;
}

KL_Result KL_HttpClient::SetProxy(const char* http_host, uint16_t http_port, const char* https_host,
                                  uint16_t https_port) {
    if (m_ProxySelectorIsOwned) {
        delete m_ProxySelector;
    }
    m_ProxySelector = new KL_HttpStaticProxySelector(http_host, http_port, https_host, https_port);
    m_ProxySelectorIsOwned = true;
    return KL_SUCCESS;
}

KL_Result KL_HttpClient::SetProxySelector(KL_HttpProxySelector* selector) {
    if (m_ProxySelectorIsOwned && m_ProxySelector != selector) {
        delete m_ProxySelector;
    }
    m_ProxySelector = selector;
    m_ProxySelectorIsOwned = false;
    return KL_SUCCESS;
}

KL_Result KL_HttpClient::SetConnector(Connector* connector) {
    if (m_ConnectorIsOwned && m_Connector != connector) {
        delete m_Connector;
    }
    m_Connector = connector;
    m_ConnectorIsOwned = false;
    return KL_SUCCESS;
}

bool KL_HttpClient::IsAborted() {
    KL_AutoLock lock(m_AbortLock);
    return m_Aborted;
}

KL_Result KL_HttpClient::TrackConnection(Connection* connection) {
    KL_CHECK_POINTER(connection);
    KL_AutoLock lock(m_AbortLock);
    if (m_Aborted) {
        return KL_ERROR_CANCELLED;
    }
    return KL_HttpConnectionManager::GetInstance()->Track(this, connection);
}

KL_Result KL_HttpClient::Abort() {
    KL_AutoLock lock(m_AbortLock);
    m_Aborted = true;
    return KL_HttpConnectionManager::GetInstance()->AbortConnections(this);
}

// Points the request at the redirect's location.
KL_Result KL_HttpClient::FollowRedirect(KL_HttpRequest& request, const KL_HttpResponse& response) {
    const KL_String location(response.GetHeaders().GetHeaderValue("Location"));
    if (!location.StartsWith("/") &&
        (location.StartsWith("http://", true) || location.StartsWith("https://", true))) {
        KL_LOG_FINE("redirecting to %s", location.GetChars());
        KL_HttpUrl url(location.GetChars());
        if (!url.IsValid()) {
            return KL_ERROR_INVALID_SYNTAX;
        }
        KL_CHECK(request.SetUrl(url));
        while (KL_SUCCEEDED(request.GetHeaders().RemoveHeader("Host"))) {
        }
        return KL_SUCCESS;
    }
    if (location.StartsWith("/")) {
        return request.GetUrl().SetPathQueryFragment(location.GetChars());
    }
    KL_LOG_FINE("Location: header (%s) is not an absolute URL, using it as a relative URL",
                location.GetChars());
    const KL_String& path = request.GetUrl().GetPath();
    const int slash = path.ReverseFind('/');
    KL_String target = slash < 0 ? KL_String("/") : path.SubString(0, static_cast<KL_Size>(slash + 1));
    target += location;
    return request.GetUrl().SetPathQueryFragment(target.GetChars());
}

KL_Result KL_HttpClient::SendRequest(KL_HttpRequest& request, KL_HttpResponse*& response,
                                     KL_HttpRequestContext* context) {
    {
        KL_AutoLock lock(m_AbortLock);
        m_Aborted = false;
    }
    response = nullptr;
    if (request.GetEntity() != nullptr && request.GetMethod() == "GET") {
        return KL_ERROR_HTTP_INVALID_REQUEST;
    }
    uint32_t redirects = 0;
    for (;;) {
        const KL_Result result = SendRequestOnce(request, response, context);
        if (KL_FAILED(result) || response == nullptr || m_Config.m_MaxRedirects == 0 ||
            (request.GetMethod() != "GET" && request.GetMethod() != "HEAD")) {
            return result;
        }
        if (!IsRedirectStatus(response->GetStatusCode()) ||
            response->GetHeaders().GetHeaderValue("Location") == nullptr) {
            return KL_SUCCESS;
        }
        if (redirects >= m_Config.m_MaxRedirects) {
            KL_LOG_WARNING("too many HTTP redirects");
            delete response;
            response = nullptr;
            return KL_ERROR_HTTP_TOO_MANY_REDIRECTS;
        }
        if (KL_FAILED(FollowRedirect(request, *response))) {
            // A location that names no URL: the redirect itself is the answer.
            KL_LOG_WARNING("cannot follow Location: %s", response->GetHeaders().GetHeaderValue("Location"));
            return KL_SUCCESS;
        }
        ++redirects;
        delete response;
        response = nullptr;
        if (IsAborted()) {
            return KL_ERROR_CANCELLED;
        }
    }
}

KL_Result KL_HttpClient::SendRequestOnce(KL_HttpRequest& request, KL_HttpResponse*& response,
                                         KL_HttpRequestContext* context) {
    response = nullptr;
    KL_CHECK_POINTER(m_Connector);
    KL_LOG_FINE("requesting URL %s", request.GetUrl().ToString().GetChars());
    KL_HttpProxyAddress proxy;
    if (m_ProxySelector != nullptr) {
        const KL_Result result = m_ProxySelector->GetProxyForUrl(request.GetUrl(), proxy);
        if (result == KL_ERROR_HTTP_NO_PROXY) {
            proxy = KL_HttpProxyAddress();
        } else if (KL_FAILED(result)) {
            KL_LOG_WARNING("proxy selector failure (%d)", result);
            return result;
        }
    }
    const bool use_proxy = !proxy.GetHostName().IsEmpty();
    const bool http_1_1 = request.GetProtocol() == KL_HTTP_PROTOCOL_1_1;
    KL_Result result = KL_FAILURE;
    for (int attempt = 0; attempt < kMaxAttempts; ++attempt) {
        Connection* connection = nullptr;
        result =
            m_Connector->Connect(request.GetUrl(), *this, use_proxy ? &proxy : nullptr, http_1_1, connection);
        if (KL_FAILED(result)) {
            return result;
        }
        const bool reused = connection->IsRecycled();
        KL_SocketInfo info;
        if (context != nullptr && KL_SUCCEEDED(connection->GetInfo(info))) {
            context->SetLocalAddress(info.local_address);
            context->SetRemoteAddress(info.remote_address);
        }
        if (reused && !RewindBody(request)) {
            KL_LOG_FINE("rewinding body stream would fail ... create new connection");
            delete connection;
            continue;
        }
        bool retry = false;
        result = Exchange(request, connection, use_proxy, response, retry);
        // A connection not handed on to the pool or a response body is closed here.
        delete connection;
        if (KL_SUCCEEDED(result) || !retry) {
            return result;
        }
    }
    if (IsAborted()) {
        return result;
    }
    KL_LOG_WARNING("failed after max reconnection attempts");
    return KL_ERROR_HTTP_TOO_MANY_RECONNECTS;
}

// Writes the request on the connection and reads the answer. retry tells whether a failure is
// worth another attempt (only on a connection that came from the pool).
KL_Result KL_HttpClient::Exchange(KL_HttpRequest& request, Connection*& connection, bool use_proxy,
                                  KL_HttpResponse*& response, bool& retry) {
    const bool reused = connection->IsRecycled();
    const char* connection_header = request.GetHeaders().GetHeaderValue("Connection");
    const bool should_persist =
        request.GetProtocol() == KL_HTTP_PROTOCOL_1_1 && connection->SupportsPersistence() &&
        !(connection_header != nullptr && KL_String::Compare(connection_header, "close") == 0);
    if (!m_Config.m_UserAgent.IsEmpty() && request.GetHeaders().GetHeader("User-Agent") == nullptr) {
        (void)request.GetHeaders().AddHeader("User-Agent", m_Config.m_UserAgent.GetChars());
    }
    KL_Result result = KL_ERROR_INVALID_STATE;
    if (!connection->GetOutputStream().IsNull()) {
        result = WriteRequest(*connection->GetOutputStream(), request, should_persist, use_proxy);
    }
    if (KL_SUCCEEDED(result)) {
        result = ReadResponse(connection->GetInputStream(), should_persist, request.GetMethod() != "HEAD",
                              response, &connection);
        if (KL_FAILED(result)) {
            KL_LOG_FINE("failed to parse the response (%d)", result);
        }
    } else {
        KL_LOG_FINE("failed to write request headers (%d)", result);
    }
    if (KL_SUCCEEDED(result) || !reused || IsAborted()) {
        return result;
    }
    KL_LOG_FINE("error is not fatal, retrying");
    KL_LOG_FINE("rewinding body stream in order to resend");
    if (!RewindBody(request)) {
        return KL_ERROR_HTTP_CANNOT_RESEND_BODY;
    }
    retry = true;
    return result;
}
