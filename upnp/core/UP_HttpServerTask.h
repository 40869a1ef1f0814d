// UP_HttpServerTask: a connection task of a UP_HttpServer; every request goes to its handler
// (the server itself).
#pragma once

#include "UP_HttpServerSocketTask.h"

class KL_HttpRequestHandler;

class UP_HttpServerTask : public UP_HttpServerSocketTask {
public:
    // handler: not owned; socket: owned.
    UP_HttpServerTask(KL_HttpRequestHandler* handler, KL_Socket* socket, bool stay_alive_forever = false)
        : UP_HttpServerSocketTask(socket, stay_alive_forever), m_Handler(handler) {}

    // The handler's SetupResponse.
    [[nodiscard]] KL_Result SetupResponse(KL_HttpRequest& request, const KL_HttpRequestContext& context,
                                          KL_HttpResponse& response) override;

protected:
    KL_HttpRequestHandler* m_Handler;
};
