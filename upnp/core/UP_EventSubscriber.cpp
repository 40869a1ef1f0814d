#include "UP_EventSubscriber.h"

#include "KL_Check.h"
#include "KL_HttpEntity.h"
#include "KL_HttpRequest.h"
#include "KL_HttpUrl.h"
#include "KL_System.h"
#include "KL_XmlElementNode.h"
#include "UP_HttpClientSocketTask.h"
#include "UP_HttpMessageHelper.h"
#include "UP_StateVariable.h"
#include "UP_XmlHelper.h"

#include <atomic>
#include <memory>

KL_SET_LOCAL_LOGGER("upnp.core.gena");

namespace {

constexpr const char* kEventNamespace = "urn:schemas-upnp-org:event-1-0";
constexpr int32_t kDefaultTimeoutSeconds = 300;

// The subscriber's sending task: waits for NOTIFYs until killed and counts the ones not yet sent,
// so that a subscriber whose callback stalls cannot pile up requests without bound.
class NotifyTask : public UP_HttpClientSocketTask {
public:
    NotifyTask() : UP_HttpClientSocketTask(nullptr, true) {
        KL_HttpClient::Config config;
        config.m_ConnectionTimeout = 2000;
        config.m_IoTimeout = 30000;
        config.m_NameResolverTimeout = 60000;
        // A callback answering with a redirect must not make the device call a third party.
        config.m_MaxRedirects = 0;
        config.m_UserAgent = "Keel/1.0.0";
        (void)SetHttpClientConfig(config);
    }

    KL_Result AddRequest(KL_HttpRequest* request) override {
        ++m_Waiting;
        KL_Result result = UP_HttpClientSocketTask::AddRequest(request);
        if (KL_FAILED(result)) {
            --m_Waiting;
        }
        return result;
    }

    KL_Result ProcessResponse(KL_Result result, KL_HttpRequest& request, const KL_SocketInfo& info,
                              KL_HttpResponse* response) override {
        --m_Waiting;
        return UP_HttpClientSocketTask::ProcessResponse(result, request, info, response);
    }

    uint32_t GetWaiting() const { return m_Waiting.load(); }

private:
    std::atomic<uint32_t> m_Waiting{0};
};

} // namespace

UP_EventSubscriber::UP_EventSubscriber(const KL_Reference<UP_TaskManager>& task_manager, UP_Service* service,
                                       const char* sid, int32_t timeout)
    : m_TaskManager(task_manager), m_Service(service), m_SID(sid) {
    KL_LOG_FINE("Creating new subscriber (%s)", m_SID.GetChars());
    SetTimeout(timeout);
}

UP_EventSubscriber::~UP_EventSubscriber() {
    KL_LOG_FINE("Deleting subscriber (%s)", m_SID.GetChars());
    if (m_SubscriberTask != nullptr) {
        (void)m_SubscriberTask->Kill();
        m_SubscriberTask = nullptr;
    }
    KL_HttpRequest* request = nullptr;
    while (KL_SUCCEEDED(m_Held.PopHead(request))) {
        delete request;
    }
}

void UP_EventSubscriber::SetTimeout(int32_t seconds) {
    if (seconds == -1) {
        seconds = kDefaultTimeoutSeconds;
    }
    KL_LOG_FINE("subscriber (%s) expiring in %d seconds", m_SID.GetChars(), seconds);
    KL_TimeStamp now;
    (void)KL_System::GetCurrentTimeStamp(now);
    m_ExpirationTime = now + KL_TimeStamp::FromSeconds(seconds);
}

KL_Result UP_EventSubscriber::AddCallbackURL(const char* url) {
    KL_CHECK_POINTER_LEVEL(KL_LOG_LEVEL_FATAL, url);
    KL_LOG_FINE("Adding callback \"%s\" to subscriber %s", url, m_SID.GetChars());
    return m_CallbackURLs.Add(KL_String(url));
}

KL_Result UP_EventSubscriber::FindCallbackURL(const char* url) const {
    if (url != nullptr) {
        for (const KL_String& listed : m_CallbackURLs) {
            if (listed == url) {
                return KL_SUCCESS;
            }
        }
    }
    return KL_ERROR_NO_SUCH_ITEM;
}

KL_Result UP_EventSubscriber::BuildPropertySet(const KL_List<UP_StateVariable*>& variables,
                                               KL_String& body) const {
    std::unique_ptr<KL_XmlElementNode> propertyset(new KL_XmlElementNode("e", "propertyset"));
    KL_CHECK_FATAL(propertyset->SetNamespaceUri("e", kEventNamespace));
    bool any = false;
    for (UP_StateVariable* variable : variables) {
        if (variable == nullptr || !variable->IsSendingEvents()) {
            continue;
        }
        auto* property = new KL_XmlElementNode("e", "property");
        KL_Result res = propertyset->AddChild(property);
        if (KL_FAILED(res)) {
            delete property;
            KL_LOG_CHECK_FAILED(KL_LOG_LEVEL_FATAL, res, "(propertyset->AddChild(property))");
            return res;
        }
        KL_CHECK_FATAL(UP_XmlHelper::AddChildText(property, variable->GetName().GetChars(),
                                                  variable->GetValue().GetChars()));
        any = true;
    }
    if (!any) {
        return KL_FAILURE;
    }
    if (KL_FAILED(UP_XmlHelper::Serialize(*propertyset, body, true, 0)) || body.IsEmpty()) {
        KL_LOG_CHECK_FAILED(KL_LOG_LEVEL_FATAL, KL_FAILURE, "((-1))");
        return KL_FAILURE;
    }
    return KL_SUCCESS;
}

KL_Result UP_EventSubscriber::Notify(const KL_List<UP_StateVariable*>& variables) {
    if (GetQueuedCount() >= UP_EVENT_SUBSCRIBER_MAX_QUEUED) {
        KL_LOG_WARNING("Subscriber %s has %u events waiting: dropping it", m_SID.GetChars(),
                       UP_EVENT_SUBSCRIBER_MAX_QUEUED);
        return KL_ERROR_NOT_ENOUGH_SPACE;
    }
    KL_String body;
    KL_Result res = BuildPropertySet(variables, body);
    if (KL_FAILED(res)) {
        return res;
    }
    KL_HttpUrl url(m_CallbackURLs.GetItemCount() > 0 ? m_CallbackURLs[0].GetChars() : "");
    if (!url.IsValid()) {
        KL_LOG_CHECK_FAILED(KL_LOG_LEVEL_FATAL, KL_FAILURE, "((-1))");
        return KL_FAILURE;
    }
    auto* request = new KL_HttpRequest(url, "NOTIFY", KL_HTTP_PROTOCOL_1_1);
    KL_HttpHeaders& headers = request->GetHeaders();
    (void)headers.SetHeader("NT", "upnp:event");
    (void)headers.SetHeader("NTS", "upnp:propchange");
    (void)headers.SetHeader("SID", m_SID.GetChars());
    (void)headers.SetHeader("SEQ", KL_String::FromIntegerU(m_EventKey).GetChars());
    (void)headers.SetHeader("Content-Type", "text/xml; charset=\"utf-8\"");
    KL_HttpEntity* entity = nullptr;
    res = UP_HttpMessageHelper::SetMessageBody(*request, body, &entity);
    if (KL_FAILED(res) || entity == nullptr) {
        delete request;
        KL_LOG_CHECK_FAILED(KL_LOG_LEVEL_FATAL, res,
                            "(UP_HttpMessageHelper::SetMessageBody(*request, body))");
        return KL_FAILED(res) ? res : KL_FAILURE;
    }
    (void)entity->SetContentType("text/xml; charset=\"utf-8\"");
    // The key that follows 4294967295 is 1: 0 marks the initial event only.
    m_EventKey = m_EventKey == 0xFFFFFFFFu ? 1 : m_EventKey + 1;
    return Send(request);
}

KL_Result UP_EventSubscriber::Send(KL_HttpRequest* request) {
    KL_AutoLock lock(m_NotifyLock);
    if (m_Holding) {
        return m_Held.Add(request);
    }
    if (m_SubscriberTask == nullptr) {
        KL_Result res = StartTask();
        if (KL_FAILED(res)) {
            delete request;
            return res;
        }
    }
    return m_SubscriberTask->AddRequest(request);
}

KL_Result UP_EventSubscriber::StartTask() {
    if (m_TaskManager.IsNull()) {
        KL_LOG_FATAL("@@@ NULL pointer parameter");
        return KL_ERROR_INVALID_PARAMETERS;
    }
    auto* task = new NotifyTask();
    KL_Result res = m_TaskManager->StartTask(task, nullptr, false);
    if (KL_FAILED(res)) {
        delete task;
        KL_LOG_CHECK_FAILED(KL_LOG_LEVEL_FATAL, res,
                            "(m_TaskManager->StartTask(task.AsPointer(), __null , false))");
        return res;
    }
    m_SubscriberTask = task;
    return KL_SUCCESS;
}

void UP_EventSubscriber::HoldNotifications() {
    KL_AutoLock lock(m_NotifyLock);
    m_Holding = true;
}

KL_Result UP_EventSubscriber::ReleaseNotifications() {
    KL_AutoLock lock(m_NotifyLock);
    m_Holding = false;
    KL_Result result = KL_SUCCESS;
    KL_HttpRequest* request = nullptr;
    while (KL_SUCCEEDED(m_Held.PopHead(request))) {
        if (KL_FAILED(result)) {
            delete request; // an earlier one could not be handed over: drop the rest
            continue;
        }
        result = Send(request);
    }
    return result;
}

uint32_t UP_EventSubscriber::GetQueuedCount() const {
    KL_AutoLock lock(m_NotifyLock);
    uint32_t waiting = m_Held.GetItemCount();
    if (m_SubscriberTask != nullptr) {
        waiting += static_cast<const NotifyTask*>(m_SubscriberTask)->GetWaiting();
    }
    return waiting;
}
