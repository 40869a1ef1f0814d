// UP_HttpServerTask: a connection task of a UP_HttpServer; every request goes to its handler
// (the server itself). Its TCP socket sends at once (TCP_NODELAY, kept for the connection's
// life) and acknowledges at once (TCP_QUICKACK re-armed after every read, on Linux), so neither
// side's Nagle waits on the other's delayed ACK.
#pragma once

#include "UP_HttpServerSocketTask.h"

class KL_HttpRequestHandler;
class UP_HttpConnectionSlots;

class UP_HttpServerTask : public UP_HttpServerSocketTask {
public:
    // handler: not owned; socket: owned; slots: null, or the server's where the socket was
    // admitted (the task reads under their limits and leaves them when it ends).
    UP_HttpServerTask(KL_HttpRequestHandler* handler, KL_Socket* socket, bool stay_alive_forever = false,
                      UP_HttpConnectionSlots* slots = nullptr);
    ~UP_HttpServerTask() override;

    // The handler's SetupResponse.
    [[nodiscard]] KL_Result SetupResponse(KL_HttpRequest& request, const KL_HttpRequestContext& context,
                                          KL_HttpResponse& response) override;

protected:
    KL_HttpRequestHandler* m_Handler;
};
