// KL_HttpServer: the runtime's small HTTP/1.x server. It owns a listening socket, its
// configuration and a list of request handlers; Loop accepts one connection at a time and answers
// exactly one request on it (no keep-alive). Handlers are registered before requests are served;
// the list is not locked.
//
//   KL_HttpServer server(KL_IpAddress(127, 0, 0, 1), 0);
//   server.AddRequestHandler(new KL_HttpFileRequestHandler("/", "/srv"), "/", true, true);
//   server.Loop();     // until Terminate (and Abort to wake the accept) from another thread
#pragma once

#include "KL_AtomicVariable.h"
#include "KL_HttpRequestContext.h"
#include "KL_InputStream.h"
#include "KL_IpAddress.h"
#include "KL_List.h"
#include "KL_OutputStream.h"
#include "KL_Result.h"
#include "KL_String.h"
#include "KL_TcpServerSocket.h"
#include "KL_Types.h"

#include <cstdint>

class KL_HttpRequest;
class KL_HttpRequestHandler;
class KL_HttpResponder;
class KL_HttpResponse;

class KL_HttpServer {
public:
    struct Config {
        KL_Timeout m_ConnectionTimeout = KL_TIMEOUT_INFINITE; // the accept wait
        KL_Timeout m_IoTimeout = 60000;                       // reads and writes of each accepted connection
        KL_IpAddress m_ListenAddress = KL_IpAddress::Any;
        uint16_t m_ListenPort = 0;
        bool m_ReuseAddress = false;
    };

    // One registration: the handler, the path it answers and whether the server owns it.
    class HandlerConfig {
    public:
        HandlerConfig(KL_HttpRequestHandler* handler, const char* path, bool include_children,
                      bool transfer_ownership);
        HandlerConfig(const HandlerConfig&) = delete;
        HandlerConfig& operator=(const HandlerConfig&) = delete;
        ~HandlerConfig();

        KL_HttpRequestHandler* m_Handler;
        KL_String m_Path;
        bool m_IncludeChildren;
        bool m_HandlerIsOwned;
    };

    explicit KL_HttpServer(uint16_t listen_port = 0, bool reuse_address = false);
    KL_HttpServer(const KL_IpAddress& listen_address, uint16_t listen_port, bool reuse_address = false);
    KL_HttpServer(const KL_HttpServer&) = delete;
    KL_HttpServer& operator=(const KL_HttpServer&) = delete;
    virtual ~KL_HttpServer();

    // Appends a registration (no duplicate check). include_children: the path is a prefix of
    // the request paths it answers (byte-wise, no segment boundary); otherwise it must be equal.
    virtual KL_Result AddRequestHandler(KL_HttpRequestHandler* handler, const char* path,
                                        bool include_children = false, bool transfer_ownership = false);
    // The first registration matching the percent-decoded request path, or null.
    virtual KL_HttpRequestHandler* FindRequestHandler(KL_HttpRequest& request);
    // Every match: exact ones first (latest registered first), then prefix ones in order.
    virtual KL_List<KL_HttpRequestHandler*> FindRequestHandlers(KL_HttpRequest& request);
    // Reads one request from input and writes the answer to output.
    [[nodiscard]] virtual KL_Result RespondToClient(const KL_InputStreamReference& input,
                                                    const KL_OutputStreamReference& output,
                                                    const KL_HttpRequestContext& context);

    // Binds the socket once (listen port 0 picks an ephemeral port); later calls do nothing.
    [[nodiscard]] KL_Result Bind();
    // Binds, then listens, so that clients are queued before the first WaitForNewClient (which
    // otherwise starts listening itself).
    [[nodiscard]] KL_Result Listen(uint32_t max_clients = 20);
    [[nodiscard]] KL_Result SetConfig(const Config& config);
    [[nodiscard]] KL_Result SetListenPort(uint16_t port, bool reuse_address = false);
    KL_Result SetTimeouts(KL_Timeout connection_timeout, KL_Timeout io_timeout);
    KL_Result SetServerHeader(const char* server_header);
    // Cancels the listening socket (for good): waiting accepts end with KL_ERROR_CANCELLED.
    KL_Result Abort();
    // Makes Loop stop after the request it is serving, if any.
    void Terminate();

    // Accepts one connection and hands out its streams (the socket object itself is deleted).
    [[nodiscard]] KL_Result WaitForNewClient(KL_InputStreamReference& input, KL_OutputStreamReference& output,
                                             KL_HttpRequestContext* context, uint32_t socket_flags = 0);
    // Serves connections one after another until Terminate or KL_ERROR_TERMINATED.
    KL_Result Loop(bool cancellable_sockets = true);

    const Config& GetConfig() const { return m_Config; }
    uint16_t GetPort() const { return m_BoundPort; }
    const KL_String& GetServerHeader() const { return m_ServerHeader; }
    const KL_List<HandlerConfig*>& GetRequestHandlers() const { return m_RequestHandlers; }

protected:
    KL_TcpServerSocket m_Socket;
    Config m_Config;

private:
    KL_Result RespondWithHandler(KL_HttpResponder& responder, KL_HttpRequest& request,
                                 KL_HttpRequestHandler* handler, const KL_HttpRequestContext& context,
                                 KL_HttpResponse& response, const KL_OutputStreamReference& output);

    uint16_t m_BoundPort = 0;
    KL_List<HandlerConfig*> m_RequestHandlers;
    KL_String m_ServerHeader;
    KL_AtomicVariable m_Run;
};
