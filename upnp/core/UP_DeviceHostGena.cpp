// GENA subscriptions of UP_DeviceHost: SUBSCRIBE (new and renewal) and UNSUBSCRIBE on a service's
// event URL. The service does the work; the host checks the header combination.
#include "KL_Check.h"
#include "KL_HttpRequest.h"
#include "KL_HttpResponse.h"
#include "UP_DeviceHost.h"
#include "UP_FrameworkDefaults.h"
#include "UP_Service.h"

KL_SET_LOCAL_LOGGER("upnp.core.devicehost");

KL_Result UP_DeviceHost::ProcessHttpSubscriberRequest(KL_HttpRequest& request,
                                                      const KL_HttpRequestContext& context,
                                                      KL_HttpResponse& response) {
    const KL_HttpHeaders& headers = request.GetHeaders();
    const char* nt = headers.GetHeaderValue("NT");
    const char* callback = headers.GetHeaderValue("CALLBACK");
    const char* sid = headers.GetHeaderValue("SID");

    UP_Service* service = nullptr;
    KL_String url = request.GetUrl().ToRequestString();
    KL_Result res = FindServiceByEventSubURL(url.GetChars(), service, true);
    if (KL_FAILED(res)) {
        KL_LOG_CHECK_FAILED(KL_LOG_LEVEL_WARNING, res, "(FindServiceByEventSubURL(url, service, true))");
        response.SetStatus(400, "Bad Request");
        return KL_SUCCESS;
    }
    const auto lease = static_cast<int32_t>(UP_FrameworkDefaults::Instance().GetDefaultSubscribeLease());
    const KL_String& method = request.GetMethod();
    if (method == "SUBSCRIBE" && sid == nullptr) {
        if (nt == nullptr || KL_String::Compare(nt, "upnp:event", true) != 0 || callback == nullptr) {
            response.SetStatus(412, "Precondition failed");
            return KL_SUCCESS;
        }
        res = service->ProcessNewSubscription(m_TaskManager, context, callback, lease, response);
    } else if (method == "SUBSCRIBE") {
        if (nt != nullptr || callback != nullptr) {
            response.SetStatus(400, "Bad Request");
            return KL_SUCCESS;
        }
        res = service->ProcessRenewSubscription(context, sid, lease, response);
    } else if (method == "UNSUBSCRIBE") {
        if (sid == nullptr || *sid == '\0') {
            response.SetStatus(412, "Precondition failed");
            return KL_SUCCESS;
        }
        if (nt != nullptr || callback != nullptr) {
            response.SetStatus(400, "Bad Request");
            return KL_SUCCESS;
        }
        res = service->ProcessCancelSubscription(context, sid, response);
    } else {
        response.SetStatus(400, "Bad Request");
        return KL_SUCCESS;
    }
    // A status the service set is the answer; a failure that set none gets the server's page.
    return KL_FAILED(res) && response.GetStatusCode() == 200 ? res : KL_SUCCESS;
}
