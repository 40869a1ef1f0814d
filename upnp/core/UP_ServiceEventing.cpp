// The eventing side of UP_Service: subscriptions (new, renew, cancel), change collection,
// LastChange and the publication pass of the event task.
#include "KL_Check.h"
#include "KL_HttpRequestContext.h"
#include "KL_HttpResponse.h"
#include "KL_HttpUrl.h"
#include "KL_System.h"
#include "KL_XmlElementNode.h"
#include "UP_DeviceData.h"
#include "UP_HttpRequestContext.h"
#include "UP_LastChangeXMLIterator.h"
#include "UP_Service.h"
#include "UP_ServiceEventTask.h"
#include "UP_XmlHelper.h"

#include <memory>

KL_SET_LOCAL_LOGGER("upnp.core.gena");

namespace {

// An expired subscriber still gets events for this long.
constexpr int64_t kExpiryGraceSeconds = 30;

KL_String FormatTimeout(int32_t seconds) {
    return seconds < 0 ? KL_String("Second-infinite") : "Second-" + KL_String::FromInteger(seconds);
}

void SetSubscriptionHeaders(KL_HttpResponse& response, const KL_String& sid, int32_t timeout) {
    (void)response.GetHeaders().SetHeader("SID", sid.GetChars());
    (void)response.GetHeaders().SetHeader("TIMEOUT", FormatTimeout(timeout).GetChars());
}

// A callback URL is kept only when it is plain HTTP to the subscriber's own IPv4 address:
// anything else would let a client make the device send requests to a third party.
bool IsAcceptableCallback(const KL_String& text, const KL_IpAddress& subscriber) {
    KL_HttpUrl url(text.GetChars());
    if (!url.IsValid() || url.GetScheme().Compare("http", true) != 0) {
        return false;
    }
    KL_IpAddress host;
    return KL_SUCCEEDED(host.Parse(url.GetHost())) && host == subscriber;
}

// Reads "<url><url>...": each bracketed text that is an acceptable URL is added; parsing stops
// at the first character that does not open a bracket. -1 when none was added.
KL_Result AddCallbacks(UP_EventSubscriber& subscriber, const char* callback, const KL_IpAddress& remote) {
    KL_String text(callback);
    KL_Size added = 0;
    KL_Index position = 0;
    while (position < text.GetLength() && text.GetChars()[position] == '<') {
        int end = text.Find('>', position + 1);
        if (end < 0) {
            break;
        }
        KL_String url = text.SubString(position + 1, static_cast<KL_Size>(end) - position - 1);
        if (IsAcceptableCallback(url, remote) && KL_SUCCEEDED(subscriber.AddCallbackURL(url.GetChars()))) {
            ++added;
        } else {
            KL_LOG_WARNING("Refusing callback \"%s\" of subscriber %s", url.GetChars(),
                           subscriber.GetSID().GetChars());
        }
        position = static_cast<KL_Index>(end) + 1;
    }
    return added > 0 ? KL_SUCCESS : KL_FAILURE;
}

bool IsExpired(const UP_EventSubscriber& subscriber, const KL_TimeStamp& now) {
    const KL_TimeStamp& expiry = subscriber.GetExpiry();
    return expiry != KL_TimeStamp() && now >= expiry + KL_TimeStamp::FromSeconds(kExpiryGraceSeconds);
}

// Moves the subscribers that expired (grace included) from subscribers to dropped.
void TakeExpired(KL_List<KL_Reference<UP_EventSubscriber>>& subscribers,
                 KL_List<KL_Reference<UP_EventSubscriber>>& dropped) {
    KL_TimeStamp now;
    (void)KL_System::GetCurrentTimeStamp(now);
    KL_List<KL_Reference<UP_EventSubscriber>> kept;
    for (const KL_Reference<UP_EventSubscriber>& subscriber : subscribers) {
        if (IsExpired(*subscriber, now)) {
            KL_LOG_FINE("Subscriber \"%s\" expired", subscriber->GetSID().GetChars());
            (void)dropped.Add(subscriber);
        } else {
            (void)kept.Add(subscriber);
        }
    }
    subscribers = kept;
}

void AddOnce(KL_List<UP_StateVariable*>& list, UP_StateVariable* variable) {
    if (!list.Contains(variable)) {
        (void)list.Add(variable);
    }
}

} // namespace

KL_Result UP_Service::ProcessNewSubscription(const KL_Reference<UP_TaskManager>& task_manager,
                                             const KL_HttpRequestContext& context, const char* callback,
                                             int32_t timeout, KL_HttpResponse& response) {
    KL_LOG_FINE("New subscription for %s (timeout = %d)", GetEventSubURL().GetChars(), timeout);
    KL_String uuid;
    KL_Result res = UP_DeviceData::GenerateUUID(uuid);
    if (KL_FAILED(res)) {
        response.SetStatus(500, "Internal Server Error");
        return res;
    }
    KL_Reference<UP_EventSubscriber> subscriber(
        new UP_EventSubscriber(task_manager, this, ("uuid:" + uuid).GetChars(), timeout));
    if (callback == nullptr || *callback != '<' ||
        KL_FAILED(AddCallbacks(*subscriber, callback, context.GetRemoteAddress().m_IpAddress))) {
        KL_LOG_CHECK_FAILED(KL_LOG_LEVEL_FATAL, KL_FAILURE, "((-1))");
        response.SetStatus(412, "Precondition Failed");
        return KL_FAILURE;
    }
    subscriber->SetLocalAddress(context.GetLocalAddress());
    subscriber->SetPeerAddress(context.GetRemoteAddress().m_IpAddress);
    res = AddSubscriber(subscriber, task_manager);
    if (res == KL_ERROR_INVALID_STATE) {
        response.SetStatus(412, "Precondition Failed");
        return KL_FAILURE;
    }
    if (KL_FAILED(res)) {
        // No event task: a SID handed out now would name a subscription that does not exist.
        response.SetStatus(500, "Internal Server Error");
        return res;
    }
    SetSubscriptionHeaders(response, subscriber->GetSID(), timeout);
    // The initial NOTIFY leaves once the answer carrying the SID has been written: a control
    // point that sees the event first would not know the SID yet.
    const UP_HttpRequestContext* up_context = UP_HttpRequestContext::From(&context);
    if (up_context != nullptr) {
        up_context->SetResponseWrittenCallback(
            [subscriber](KL_Result) { (void)subscriber->ReleaseNotifications(); });
    } else {
        (void)subscriber->ReleaseNotifications();
    }
    return KL_SUCCESS;
}

// Queues the initial event (held) and lists the subscriber, starting the event task with the
// first one. KL_ERROR_INVALID_STATE when the initial event cannot be built.
KL_Result UP_Service::AddSubscriber(const KL_Reference<UP_EventSubscriber>& subscriber,
                                    const KL_Reference<UP_TaskManager>& task_manager) {
    // Declared before the guard: expired subscribers are deleted after the lock is released.
    KL_List<KL_Reference<UP_EventSubscriber>> expired;
    KL_AutoLock lock(m_Lock);
    // Control points that vanished without UNSUBSCRIBE must not hold the places for ever when
    // nothing changes (expiry is otherwise only looked at when an event goes out).
    TakeExpired(m_Subscribers, expired);
    if (m_Subscribers.GetItemCount() >= UP_SERVICE_MAX_SUBSCRIBERS) {
        return KL_FAILURE;
    }
    // One peer must not take every place.
    KL_Size from_peer = 0;
    for (const KL_Reference<UP_EventSubscriber>& listed : m_Subscribers) {
        from_peer += listed->GetPeerAddress() == subscriber->GetPeerAddress() ? 1 : 0;
    }
    if (from_peer >= UP_SERVICE_MAX_SUBSCRIBERS_PER_PEER) {
        KL_LOG_WARNING("Refusing subscriber %s: %s holds %d subscriptions already",
                       subscriber->GetSID().GetChars(), subscriber->GetPeerAddress().ToString().GetChars(),
                       static_cast<int>(from_peer));
        return KL_FAILURE;
    }
    (void)UpdateLastChange(m_StateVars);
    subscriber->HoldNotifications();
    KL_Result res = subscriber->Notify(m_StateVars);
    (void)UpdateLastChange(m_StateVarsChanged);
    if (KL_FAILED(res)) {
        KL_LOG_CHECK_FAILED(KL_LOG_LEVEL_FATAL, res, "(res)");
        return KL_ERROR_INVALID_STATE;
    }
    if (m_EventTask == nullptr) {
        KL_CHECK_POINTER_LEVEL(KL_LOG_LEVEL_SEVERE, task_manager.AsPointer());
        auto* task = new UP_ServiceEventTask(this);
        res = task_manager->StartTask(task, nullptr, true);
        if (KL_FAILED(res)) {
            KL_LOG_CHECK_FAILED(KL_LOG_LEVEL_SEVERE, res, "(task_manager->StartTask(task))");
            return res;
        }
        m_EventTask = task;
    }
    return m_Subscribers.Add(subscriber);
}

KL_Reference<UP_EventSubscriber> UP_Service::TakeSubscriber(const char* sid) {
    KL_AutoLock lock(m_Lock);
    for (auto it = m_Subscribers.GetFirstItem(); it; ++it) {
        if (sid != nullptr && (*it)->GetSID().Compare(sid, true) == 0) {
            KL_Reference<UP_EventSubscriber> found = *it;
            (void)m_Subscribers.Erase(it);
            return found;
        }
    }
    return KL_Reference<UP_EventSubscriber>();
}

KL_Result UP_Service::ProcessRenewSubscription(const KL_HttpRequestContext& context, const char* sid,
                                               int32_t timeout, KL_HttpResponse& response) {
    // Declared before the guard: a dropped subscriber is deleted after the lock is released.
    KL_Reference<UP_EventSubscriber> dropped;
    KL_AutoLock lock(m_Lock);
    KL_LOG_FINE("Renewing subscription for %s (sub=%s)", GetEventSubURL().GetChars(), sid ? sid : "");
    KL_TimeStamp now;
    (void)KL_System::GetCurrentTimeStamp(now);
    for (const KL_Reference<UP_EventSubscriber>& subscriber : m_Subscribers) {
        if (sid == nullptr || subscriber->GetSID().Compare(sid, true) != 0) {
            continue;
        }
        if (subscriber->GetExpiry() > now) {
            subscriber->SetLocalAddress(context.GetLocalAddress());
            subscriber->SetTimeout(timeout);
            SetSubscriptionHeaders(response, subscriber->GetSID(), timeout);
            return KL_SUCCESS;
        }
        KL_LOG_FINE("Subscriber \"%s\" didn't renew in time", subscriber->GetSID().GetChars());
        dropped = TakeSubscriber(sid);
        break;
    }
    KL_LOG_WARNING("Failed to renew subscription for %s!", sid ? sid : "");
    response.SetStatus(412, "Precondition Failed");
    return KL_FAILURE;
}

KL_Result UP_Service::ProcessCancelSubscription(const KL_HttpRequestContext&, const char* sid,
                                                KL_HttpResponse& response) {
    KL_Reference<UP_EventSubscriber> dropped = TakeSubscriber(sid);
    if (dropped.IsNull()) {
        KL_LOG_WARNING("Cancelling subscription for unknown subscriber %s!", sid ? sid : "");
        response.SetStatus(412, "Precondition Failed");
        return KL_FAILURE;
    }
    KL_LOG_FINE("Cancelling subscription for %s (sub=%s)", GetEventSubURL().GetChars(), sid);
    return KL_SUCCESS;
}

KL_Result UP_Service::AddChanged(UP_StateVariable* variable) {
    KL_CHECK_POINTER(variable);
    KL_AutoLock lock(m_Lock);
    ++m_ChangeReports;
    // Without an event task nobody ever subscribed: there is nothing to publish.
    if (m_EventTask == nullptr) {
        return KL_SUCCESS;
    }
    if (variable->IsSendingEvents()) {
        AddOnce(m_StateVarsToPublish, variable);
    } else if (variable->IsSendingEvents(true)) {
        AddOnce(m_StateVarsChanged, variable);
        (void)UpdateLastChange(m_StateVarsChanged);
    }
    return KL_SUCCESS;
}

KL_Result UP_Service::UpdateLastChange(const KL_List<UP_StateVariable*>& variables) {
    KL_AutoLock lock(m_Lock);
    UP_StateVariable* last_change = FindStateVariable("LastChange");
    if (last_change == nullptr) {
        return KL_FAILURE;
    }
    if (variables.IsEmpty()) {
        (void)m_StateVarsToPublish.Remove(last_change);
        return KL_SUCCESS;
    }
    std::unique_ptr<KL_XmlElementNode> top(new KL_XmlElementNode("", "Event"));
    KL_CHECK_SEVERE(top->SetNamespaceUri("", m_LastChangeNamespace.GetChars()));
    auto* instance = new KL_XmlElementNode("", "InstanceID");
    KL_Result res = top->AddChild(instance);
    if (KL_FAILED(res)) {
        delete instance;
        KL_LOG_CHECK_FAILED(KL_LOG_LEVEL_SEVERE, res, "(top->AddChild(instance))");
        return res;
    }
    KL_CHECK_SEVERE(instance->SetAttribute("val", "0"));
    KL_CHECK_SEVERE(variables.ApplyUntil(UP_LastChangeXMLIterator(instance), KL_UntilResultNotEquals(0)));
    KL_String value;
    KL_CHECK_SEVERE(UP_XmlHelper::Serialize(*top, value, false));
    // Stored as is: no validation and no change report of its own.
    last_change->m_Value = value;
    AddOnce(m_StateVarsToPublish, last_change);
    return KL_SUCCESS;
}

KL_Result UP_Service::PauseEventing(bool pause) {
    KL_AutoLock lock(m_Lock);
    m_EventingPaused = pause;
    return KL_SUCCESS;
}

KL_Size UP_Service::GetSubscriberCount() const {
    KL_AutoLock lock(m_Lock);
    return m_Subscribers.GetItemCount();
}

KL_Result UP_Service::NotifyChanged() {
    // Declared before the guard: dropped subscribers are deleted after the lock is released.
    KL_List<KL_Reference<UP_EventSubscriber>> dropped;
    KL_AutoLock lock(m_Lock);
    if (m_EventingPaused) {
        return KL_SUCCESS;
    }
    KL_List<UP_StateVariable*> events;
    KL_List<UP_StateVariable*> waiting;
    for (UP_StateVariable* variable : m_StateVarsToPublish) {
        if (!variable->IsReadyToPublish()) {
            (void)waiting.Add(variable);
            continue;
        }
        (void)events.Add(variable);
        if (variable->GetName() == "LastChange") {
            m_StateVarsChanged.Clear();
        }
    }
    m_StateVarsToPublish = waiting;
    if (events.IsEmpty()) {
        return KL_SUCCESS;
    }
    TakeExpired(m_Subscribers, dropped);
    KL_List<KL_Reference<UP_EventSubscriber>> kept;
    for (const KL_Reference<UP_EventSubscriber>& subscriber : m_Subscribers) {
        if (KL_FAILED(subscriber->Notify(events))) {
            (void)dropped.Add(subscriber);
        } else {
            (void)kept.Add(subscriber);
        }
    }
    m_Subscribers = kept;
    return KL_SUCCESS;
}
