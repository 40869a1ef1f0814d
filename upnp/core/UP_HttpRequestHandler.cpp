#include "UP_HttpRequestHandler.h"

#include "KL_Check.h"
#include "KL_Log.h"

KL_SET_LOCAL_LOGGER("upnp.core.http");

KL_Result UP_HttpRequestHandler::SetupResponse(KL_HttpRequest& request, const KL_HttpRequestContext& context,
                                               KL_HttpResponse& response) {
    if (m_Host == nullptr) {
        KL_LOG_SEVERE("@@@ NULL pointer parameter");
        return KL_ERROR_INVALID_STATE;
    }
    return m_Host->SetupResponse(request, context, response);
}
