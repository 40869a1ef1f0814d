// KL_HttpRequestHandler: what answers a request on the runtime's HTTP server. SetupResponse fills
// in the response head (and its entity's body stream); SendResponseBody writes the body after the
// server has sent the head.
#pragma once

#include "KL_OutputStream.h"
#include "KL_Result.h"

class KL_HttpRequest;
class KL_HttpRequestContext;
class KL_HttpResponse;

class KL_HttpRequestHandler {
public:
    virtual ~KL_HttpRequestHandler() = default;

    // 0 sends the response as set up; KL_ERROR_TERMINATED does too and then stops the server's
    // loop; KL_ERROR_NO_SUCH_ITEM and KL_ERROR_PERMISSION_DENIED give the 404 and 403 pages, any
    // other failure the 500 page.
    [[nodiscard]] virtual KL_Result SetupResponse(KL_HttpRequest& request,
                                                  const KL_HttpRequestContext& context,
                                                  KL_HttpResponse& response) = 0;

    // Copies the entity's body stream to the output (its content length's worth when known),
    // chunked when the entity's transfer coding is "chunked". A body that fails half way is not
    // ended with the last chunk, so the client sees it cut short.
    [[nodiscard]] virtual KL_Result SendResponseBody(const KL_HttpRequestContext& context,
                                                     KL_HttpResponse& response, KL_OutputStream& output);
};
