// GENA subscriptions of UP_DeviceHost: SUBSCRIBE (new and renewal) and UNSUBSCRIBE on a service's
// event URL. The service does the work; the host checks the header combination.
#include "KL_Check.h"
#include "KL_HttpRequest.h"
#include "KL_HttpResponse.h"
#include "KL_Utils.h"
#include "UP_DeviceHost.h"
#include "UP_FrameworkDefaults.h"
#include "UP_Service.h"

#include <strings.h>

KL_SET_LOCAL_LOGGER("upnp.core.devicehost");

namespace {

// The lease granted to a SUBSCRIBE: the whole seconds its "TIMEOUT" asks for ("Second-" N) when
// they are fewer than the default lease; otherwise ("Second-infinite", more, an unreadable value
// or none) the default lease, which stays the longest.
int32_t GrantedLease(const char* timeout, int32_t lease) {
    static const char kPrefix[] = "Second-";
    constexpr size_t kPrefixLength = sizeof kPrefix - 1;
    uint32_t asked = 0;
    if (timeout == nullptr || strncasecmp(timeout, kPrefix, kPrefixLength) != 0 ||
        KL_FAILED(KL_ParseInteger32U(timeout + kPrefixLength, asked, false))) {
        return lease;
    }
    return asked > 0 && asked < static_cast<uint32_t>(lease) ? static_cast<int32_t>(asked) : lease;
}

} // namespace

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
    const int32_t lease =
        GrantedLease(headers.GetHeaderValue("TIMEOUT"),
                     static_cast<int32_t>(UP_FrameworkDefaults::Instance().GetDefaultSubscribeLease()));
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
