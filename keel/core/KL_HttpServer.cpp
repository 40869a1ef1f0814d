#include "KL_HttpServer.h"

#include "KL_Check.h"
#include "KL_HttpEntity.h"
#include "KL_HttpRequest.h"
#include "KL_HttpRequestHandler.h"
#include "KL_HttpResponder.h"
#include "KL_HttpResponse.h"
#include "KL_Socket.h"
#include "KL_SocketInfo.h"
#include "KL_StreamToStreamCopy.h"
#include "KL_System.h"
#include "KL_TimeStamp.h"

#include <memory>

KL_SET_LOCAL_LOGGER("keel.http.server");

namespace {

struct ErrorPage {
    int32_t m_Status;
    const char* m_Reason;
    const char* m_Body;
};

const ErrorPage kNotFoundPage = {404, "Not Found",
                                 "<html><head><title>404 Not Found</title></head><body><h1>Not Found</h1>"
                                 "<p>The requested URL was not found on this server.</p></html>"};
const ErrorPage kForbiddenPage = {403, "Forbidden",
                                  "<html><head><title>403 Forbidden</title></head><body><h1>Forbidden</h1>"
                                  "<p>Access to this URL is forbidden.</p></html>"};
const ErrorPage kInternalErrorPage = {
    500, "Internal Error",
    "<html><head><title>500 Internal Error</title></head><body><h1>Internal Error</h1>"
    "<p>The server encountered an unexpected condition which prevented it from fulfilling the request.</p>"
    "</html>"};

const ErrorPage& ErrorPageFor(KL_Result result) {
    if (result == KL_ERROR_NO_SUCH_ITEM) {
        return kNotFoundPage;
    }
    if (result == KL_ERROR_PERMISSION_DENIED) {
        return kForbiddenPage;
    }
    return kInternalErrorPage;
}

// The page replaces whatever body the handler had set up; it is written as it is.
void SetErrorPage(KL_HttpResponse& response, const ErrorPage& page) {
    KL_HttpEntity* entity = response.GetEntity();
    (void)entity->SetInputStream(page.m_Body);
    (void)entity->SetContentType("text/html");
    (void)entity->SetTransferEncoding("");
    (void)entity->SetContentEncoding("");
    (void)response.SetStatus(page.m_Status, page.m_Reason);
}

bool HandlerMatches(const KL_HttpServer::HandlerConfig& config, const KL_String& path) {
    return config.m_IncludeChildren ? path.StartsWith(config.m_Path.GetChars()) : path == config.m_Path;
}

} // namespace

KL_HttpServer::HandlerConfig::HandlerConfig(KL_HttpRequestHandler* handler, const char* path,
                                            bool include_children, bool transfer_ownership)
    : m_Handler(handler), m_Path(path), m_IncludeChildren(include_children),
      m_HandlerIsOwned(transfer_ownership) {}

KL_HttpServer::HandlerConfig::~HandlerConfig() {
    if (m_HandlerIsOwned) {
        delete m_Handler;
    }
}

KL_HttpServer::KL_HttpServer(uint16_t listen_port, bool reuse_address)
    : KL_HttpServer(KL_IpAddress::Any, listen_port, reuse_address) {}

KL_HttpServer::KL_HttpServer(const KL_IpAddress& listen_address, uint16_t listen_port, bool reuse_address)
    : m_Socket(KL_SOCKET_FLAG_CANCELLABLE), m_ServerHeader("Keel/1.0.0"), m_Run(1) {
    m_Config.m_ListenAddress = listen_address;
    m_Config.m_ListenPort = listen_port;
    m_Config.m_ReuseAddress = reuse_address;
}

KL_HttpServer::~KL_HttpServer() {
    for (HandlerConfig* config : m_RequestHandlers) {
        delete config;
    }
    m_RequestHandlers.Clear();
}

KL_Result KL_HttpServer::Bind() {
    if (m_BoundPort != 0) {
        return KL_SUCCESS;
    }
    KL_CHECK_WARNING(m_Socket.Bind(KL_SocketAddress(m_Config.m_ListenAddress, m_Config.m_ListenPort),
                                   m_Config.m_ReuseAddress));
    KL_SocketInfo info;
    KL_CHECK_WARNING(m_Socket.GetInfo(info));
    m_BoundPort = static_cast<uint16_t>(info.local_address.m_Port);
    return KL_SUCCESS;
}

KL_Result KL_HttpServer::Listen(uint32_t max_clients) {
    KL_CHECK_WARNING(Bind());
    return m_Socket.Listen(max_clients);
}

KL_Result KL_HttpServer::SetConfig(const Config& config) {
    m_Config = config;
    return Bind();
}

KL_Result KL_HttpServer::SetListenPort(uint16_t port, bool reuse_address) {
    m_Config.m_ListenPort = port;
    m_Config.m_ReuseAddress = reuse_address;
    return Bind();
}

KL_Result KL_HttpServer::SetTimeouts(KL_Timeout connection_timeout, KL_Timeout io_timeout) {
    m_Config.m_ConnectionTimeout = connection_timeout;
    m_Config.m_IoTimeout = io_timeout;
    return KL_SUCCESS;
}

KL_Result KL_HttpServer::SetServerHeader(const char* server_header) {
    m_ServerHeader = server_header;
    return KL_SUCCESS;
}

KL_Result KL_HttpServer::Abort() {
    (void)m_Socket.Cancel(true);
    return KL_SUCCESS;
}

void KL_HttpServer::Terminate() {
    (void)m_Run.SetValue(0);
}

KL_Result KL_HttpServer::AddRequestHandler(KL_HttpRequestHandler* handler, const char* path,
                                           bool include_children, bool transfer_ownership) {
    m_RequestHandlers.Add(new HandlerConfig(handler, path, include_children, transfer_ownership));
    return KL_SUCCESS;
}

KL_HttpRequestHandler* KL_HttpServer::FindRequestHandler(KL_HttpRequest& request) {
    const KL_String path = KL_Uri::PercentDecode(request.GetUrl().GetPath().GetChars());
    for (const HandlerConfig* config : m_RequestHandlers) {
        if (HandlerMatches(*config, path)) {
            return config->m_Handler;
        }
    }
    return nullptr;
}

KL_List<KL_HttpRequestHandler*> KL_HttpServer::FindRequestHandlers(KL_HttpRequest& request) {
    KL_List<KL_HttpRequestHandler*> handlers;
    const KL_String path = KL_Uri::PercentDecode(request.GetUrl().GetPath().GetChars());
    for (const HandlerConfig* config : m_RequestHandlers) {
        if (!HandlerMatches(*config, path)) {
            continue;
        }
        if (config->m_IncludeChildren) {
            handlers.Add(config->m_Handler);
        } else {
            handlers.Insert(handlers.GetFirstItem(), config->m_Handler);
        }
    }
    return handlers;
}

KL_Result KL_HttpServer::WaitForNewClient(KL_InputStreamReference& input, KL_OutputStreamReference& output,
                                          KL_HttpRequestContext* context, uint32_t socket_flags) {
    KL_CHECK_WARNING(Bind());
    KL_Socket* accepted = nullptr;
    const KL_Result result = m_Socket.WaitForNewClient(accepted, m_Config.m_ConnectionTimeout, socket_flags);
    std::unique_ptr<KL_Socket> client(accepted);
    if (KL_FAILED(result)) {
        return result;
    }
    if (!client) {
        return KL_ERROR_INTERNAL;
    }
    if (context != nullptr) {
        KL_SocketInfo info;
        if (KL_SUCCEEDED(client->GetInfo(info))) {
            context->SetLocalAddress(info.local_address);
            context->SetRemoteAddress(info.remote_address);
        }
    }
    (void)client->SetReadTimeout(m_Config.m_IoTimeout);
    (void)client->SetWriteTimeout(m_Config.m_IoTimeout);
    KL_CHECK_WARNING(client->GetInputStream(input));
    KL_CHECK_WARNING(client->GetOutputStream(output));
    return KL_SUCCESS;
}

KL_Result KL_HttpServer::Loop(bool cancellable_sockets) {
    KL_HttpRequestContext context;
    KL_Result result = KL_SUCCESS;
    for (;;) {
        KL_InputStreamReference input;
        KL_OutputStreamReference output;
        result =
            WaitForNewClient(input, output, &context, cancellable_sockets ? KL_SOCKET_FLAG_CANCELLABLE : 0);
        KL_LOG_FINE("WaitForNewClient returned %d (%s)", result, KL_GetResultText(result));
        if (m_Run.GetValue() == 0) {
            break;
        }
        if (result == KL_ERROR_TIMEOUT) {
            continue;
        }
        if (KL_FAILED(result)) {
            if (result == KL_ERROR_TERMINATED) {
                break;
            }
            KL_LOG_WARNING("sleeping before restarting the loop");
            (void)KL_System::Sleep(KL_TimeStamp(1.0));
            continue;
        }
        result = RespondToClient(input, output, context);
        KL_LOG_FINE("ResponToClient returned %d (%s)", result, KL_GetResultText(result));
        // One request per connection: dropping the streams closes it.
        input.Release();
        output.Release();
        if (result == KL_ERROR_TERMINATED || m_Run.GetValue() == 0) {
            break;
        }
    }
    return result;
}

KL_Result KL_HttpServer::RespondToClient(const KL_InputStreamReference& input,
                                         const KL_OutputStreamReference& output,
                                         const KL_HttpRequestContext& context) {
    KL_HttpResponder responder(input, output);
    KL_HttpRequest* parsed = nullptr;
    KL_CHECK_FINE(responder.ParseRequest(parsed, &context.GetLocalAddress()));
    std::unique_ptr<KL_HttpRequest> request(parsed);

    KL_HttpResponse response(200, "OK", KL_HTTP_PROTOCOL_1_0);
    (void)response.SetEntity(new KL_HttpEntity());
    KL_HttpRequestHandler* handler = FindRequestHandler(*request);
    if (handler == nullptr) {
        SetErrorPage(response, kNotFoundPage);
    }
    return RespondWithHandler(responder, *request, handler, context, response, output);
}

// Runs the handler (null: the 404 page is set up already), then sends head and body.
KL_Result KL_HttpServer::RespondWithHandler(KL_HttpResponder& responder, KL_HttpRequest& request,
                                            KL_HttpRequestHandler* handler,
                                            const KL_HttpRequestContext& context, KL_HttpResponse& response,
                                            const KL_OutputStreamReference& output) {
    KL_Result setup_result = KL_SUCCESS;
    if (handler != nullptr) {
        setup_result = handler->SetupResponse(request, context, response);
        if (KL_FAILED(setup_result) && setup_result != KL_ERROR_TERMINATED) {
            KL_LOG_FINE("SetupResponse failed (%d:%s)", setup_result, KL_GetResultText(setup_result));
            SetErrorPage(response, ErrorPageFor(setup_result));
            handler = nullptr;
            setup_result = KL_SUCCESS;
        }
    }
    if (!m_ServerHeader.IsEmpty() && response.GetHeaders().GetHeader("Server") == nullptr) {
        (void)response.GetHeaders().AddHeader("Server", m_ServerHeader.GetChars());
    }
    const KL_Result head_result = responder.SendResponseHeaders(response);
    if (KL_FAILED(head_result)) {
        KL_LOG_WARNING("SendResponseHeaders failed (%d:%s)", head_result, KL_GetResultText(head_result));
        return head_result;
    }
    KL_Result body_result = KL_SUCCESS;
    if (!(request.GetMethod() == "HEAD")) {
        if (handler != nullptr) {
            body_result = handler->SendResponseBody(context, response, *output);
        } else {
            KL_InputStreamReference body;
            if (KL_SUCCEEDED(response.GetEntity()->GetInputStream(body))) {
                KL_CHECK_FINE(
                    KL_StreamToStreamCopy(*body, *output, 0, response.GetEntity()->GetContentLength()));
            }
        }
    }
    (void)output->Flush();
    return KL_FAILED(body_result) ? body_result : setup_result;
}
