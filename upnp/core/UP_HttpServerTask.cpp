#include "UP_HttpServerTask.h"

#include "KL_HttpRequestHandler.h"
#include "KL_Log.h"

KL_SET_LOCAL_LOGGER("upnp.core.http");

KL_Result UP_HttpServerTask::SetupResponse(KL_HttpRequest& request, const KL_HttpRequestContext& context,
                                           KL_HttpResponse& response) {
    if (m_Handler == nullptr) {
        KL_LOG_SEVERE("@@@ NULL pointer parameter");
        return KL_ERROR_INVALID_PARAMETERS;
    }
    return m_Handler->SetupResponse(request, context, response);
}
