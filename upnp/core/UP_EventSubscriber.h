// UP_EventSubscriber: one GENA subscriber of a service, shared through counted references and
// listed by the service. It holds the subscription's identity, callbacks and expiry, builds the
// NOTIFY requests (Notify) and sends them, in order, on a task of its own that runs on the device
// host's task manager.
//
// The initial NOTIFY must not overtake the SUBSCRIBE answer: the service holds the subscriber's
// notifications (HoldNotifications) until that answer has been written (ReleaseNotifications).
// At most UP_EVENT_SUBSCRIBER_MAX_QUEUED NOTIFYs wait for a subscriber; one more makes Notify
// fail, and the service drops a subscriber whose Notify fails.
//
// Locking: Notify runs under the service lock; the notification state has its own lock, so the
// release may come from any thread.
#pragma once

#include "KL_Array.h"
#include "KL_List.h"
#include "KL_Mutex.h"
#include "KL_Reference.h"
#include "KL_Result.h"
#include "KL_SocketAddress.h"
#include "KL_String.h"
#include "KL_TimeStamp.h"
#include "UP_TaskManager.h"

#include <cstdint>

class KL_HttpRequest;
class UP_HttpClientSocketTask;
class UP_Service;
class UP_StateVariable;

// NOTIFY requests that may wait for one subscriber (held or not yet sent).
constexpr uint32_t UP_EVENT_SUBSCRIBER_MAX_QUEUED = 64;

class UP_EventSubscriber {
public:
    // timeout in seconds (-1: 300 s).
    UP_EventSubscriber(const KL_Reference<UP_TaskManager>& task_manager, UP_Service* service, const char* sid,
                       int32_t timeout);
    // Kills the notification task (a NOTIFY being sent is cut off).
    virtual ~UP_EventSubscriber();
    UP_EventSubscriber(const UP_EventSubscriber&) = delete;
    UP_EventSubscriber& operator=(const UP_EventSubscriber&) = delete;

    // Expiry = now + seconds (-1: 300 s).
    void SetTimeout(int32_t seconds);
    const KL_TimeStamp& GetExpiry() const { return m_ExpirationTime; }
    uint32_t GetEventKey() const { return m_EventKey; }
    void SetEventKey(uint32_t key) { m_EventKey = key; }
    const KL_SocketAddress& GetLocalAddress() const { return m_LocalAddress; }
    void SetLocalAddress(const KL_SocketAddress& address) { m_LocalAddress = address; }
    // The address the SUBSCRIBE came from (the service bounds subscriptions per peer).
    const KL_IpAddress& GetPeerAddress() const { return m_PeerAddress; }
    void SetPeerAddress(const KL_IpAddress& address) { m_PeerAddress = address; }
    const KL_String& GetSID() const { return m_SID; }
    UP_Service* GetService() const { return m_Service; }
    const KL_Array<KL_String>& GetCallbackURLs() const { return m_CallbackURLs; }

    // KL_ERROR_INVALID_PARAMETERS for null; otherwise appended.
    KL_Result AddCallbackURL(const char* url);
    // 0 when listed, KL_ERROR_NO_SUCH_ITEM otherwise.
    KL_Result FindCallbackURL(const char* url) const;

    // Builds one NOTIFY (SEQ = event key, which then advances, wrapping to 1) with the directly
    // evented variables of the list and queues it. -1 when none is evented directly;
    // KL_ERROR_NOT_ENOUGH_SPACE when the subscriber already has too many NOTIFYs waiting.
    KL_Result Notify(const KL_List<UP_StateVariable*>& variables);

    // While held, NOTIFYs are kept here instead of being sent.
    void HoldNotifications();
    // Hands the held NOTIFYs, in order, to the notification task (started when needed).
    KL_Result ReleaseNotifications();
    // Held plus not yet sent.
    uint32_t GetQueuedCount() const;

private:
    KL_Result BuildPropertySet(const KL_List<UP_StateVariable*>& variables, KL_String& body) const;
    KL_Result Send(KL_HttpRequest* request);
    KL_Result StartTask();

    KL_Reference<UP_TaskManager> m_TaskManager;
    UP_Service* m_Service;
    uint32_t m_EventKey = 0;
    UP_HttpClientSocketTask* m_SubscriberTask = nullptr;
    KL_String m_SID;
    KL_SocketAddress m_LocalAddress;
    KL_IpAddress m_PeerAddress;
    KL_Array<KL_String> m_CallbackURLs;
    KL_TimeStamp m_ExpirationTime;

    mutable KL_Mutex m_NotifyLock;
    bool m_Holding = false;
    KL_List<KL_HttpRequest*> m_Held;
};
