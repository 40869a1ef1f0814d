#include "KL_HttpRequestHandler.h"

#include "KL_Check.h"
#include "KL_ClosableOutputStream.h"
#include "KL_HttpChunkedOutputStream.h"
#include "KL_HttpEntity.h"
#include "KL_HttpResponse.h"
#include "KL_StreamToStreamCopy.h"

#include <memory>

KL_SET_LOCAL_LOGGER("keel.http.server.handler");

KL_Result KL_HttpRequestHandler::SendResponseBody(const KL_HttpRequestContext&, KL_HttpResponse& response,
                                                  KL_OutputStream& output) {
    const KL_HttpEntity* entity = response.GetEntity();
    KL_InputStreamReference body;
    if (entity == nullptr || KL_FAILED(entity->GetInputStream(body))) {
        return KL_SUCCESS;
    }
    if (entity->ContentLengthIsKnown() && entity->GetContentLength() == 0) {
        return KL_SUCCESS;
    }
    KL_ClosableOutputStream gate(output);
    std::unique_ptr<KL_HttpChunkedOutputStream> chunked;
    if (entity->IsChunked()) {
        chunked = std::make_unique<KL_HttpChunkedOutputStream>(gate);
    }
    KL_OutputStream& target = chunked ? static_cast<KL_OutputStream&>(*chunked) : gate;
    KL_LargeSize written = 0;
    const KL_Result result = KL_StreamToStreamCopy(*body, target, 0, entity->GetContentLength(), &written);
    if (KL_FAILED(result)) {
        KL_LOG_WARNING("body stream only partially sent, %lld bytes (%d:%s)", static_cast<long long>(written),
                       result, KL_GetResultText(result));
    }
    (void)target.Flush();
    if (KL_FAILED(result)) {
        gate.Close();
    }
    chunked.reset(); // writes the last chunk, unless the body failed
    return result;
}
