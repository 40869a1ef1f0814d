// UP_HttpRequestHandler: the small handler a device host registers on its HTTP server for "/"
// (children included, owned by the server). It forwards every request to the host's own
// request-handler interface, so the server never owns (or deletes) the host.
#pragma once

#include "KL_HttpRequestHandler.h"

class UP_HttpRequestHandler : public KL_HttpRequestHandler {
public:
    // host: the device host's request-handler interface, not owned; it outlives the server.
    explicit UP_HttpRequestHandler(KL_HttpRequestHandler* host) : m_Host(host) {}

    // The host's SetupResponse; KL_ERROR_INVALID_STATE without a host.
    [[nodiscard]] KL_Result SetupResponse(KL_HttpRequest& request, const KL_HttpRequestContext& context,
                                          KL_HttpResponse& response) override;

private:
    KL_HttpRequestHandler* m_Host;
};
