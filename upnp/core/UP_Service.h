// UP_Service: one UPnP service of a device: type, id and name, its three URLs, the action
// descriptions and state variables read from its SCPD (SetSCPDXML) and written back
// (GetSCPDXML), its element of the device description, and its eventing state.
//
// URLs are stored relative to the device ("Name/<uuid>/scpd.xml"); their "relative form" is the
// path and query of that URL normalised against the device, so it begins with "/".
//
// m_Lock is recursive and guards the state variables' values, the eventing lists and the
// subscribers; state variables take it around every read and write of their value.
#pragma once

#include "KL_Array.h"
#include "KL_List.h"
#include "KL_Mutex.h"
#include "KL_Reference.h"
#include "KL_Result.h"
#include "KL_String.h"
#include "KL_TimeStamp.h"
#include "UP_ActionDesc.h"
#include "UP_EventSubscriber.h"
#include "UP_StateVariable.h"

#include <cstdint>

class KL_XmlElementNode;
class UP_DeviceData;
class UP_ServiceEventTask;
class KL_HttpRequestContext;
class KL_HttpResponse;

// Subscribers a service takes at most, in all and from one peer address.
constexpr KL_Size UP_SERVICE_MAX_SUBSCRIBERS = 31;
constexpr KL_Size UP_SERVICE_MAX_SUBSCRIBERS_PER_PEER = 4;

class UP_Service {
public:
    UP_Service(UP_DeviceData* device, const char* service_type, const char* service_id,
               const char* service_name = nullptr, const char* last_change_namespace = nullptr);
    virtual ~UP_Service();
    UP_Service(const UP_Service&) = delete;
    UP_Service& operator=(const UP_Service&) = delete;

    // Name + "/" + device UUID + "/scpd.xml", "/control.xml", "/event.xml".
    KL_Result InitURLs(const char* name);
    // Sets the three stored URLs as given (the description reader's services).
    void SetURLs(const char* scpd_url, const char* control_url, const char* event_sub_url);
    // The stored URL normalised by the device: the full "http://" text when absolute, else its
    // path and query. Without a device, the stored text.
    KL_String GetSCPDURL(bool absolute = false) const { return MakeURL(m_SCPDURL, absolute); }
    KL_String GetControlURL(bool absolute = false) const { return MakeURL(m_ControlURL, absolute); }
    KL_String GetEventSubURL(bool absolute = false) const { return MakeURL(m_EventSubURL, absolute); }

    // Appends the "service" element of the device description.
    KL_Result GetDescription(KL_XmlElementNode* parent, KL_XmlElementNode** service = nullptr) const;
    // -1 without state variables.
    KL_Result GetSCPDXML(KL_String& scpd) const;
    // Replaces actions, variables and subscribers by those of the text; -20000 for null, -1 for
    // any failure (what was read before it stays).
    KL_Result SetSCPDXML(const char* text);

    UP_ActionDesc* FindActionDesc(const char* name) const;
    UP_StateVariable* FindStateVariable(const char* name) const;
    // A copy taken under the lock; -20000 when no variable has that name.
    KL_Result GetStateVariableValue(const char* name, KL_String& value) const;
    KL_Result SetStateVariable(const char* name, const char* value);
    KL_Result SetStateVariableRate(const char* name, const KL_TimeStamp& interval);
    KL_Result SetStateVariableExtraAttribute(const char* name, const char* key, const char* value);
    // The integer value plus one; -1 for an unknown variable or a value that is no integer.
    KL_Result IncStateVariable(const char* name);
    // True when a variable is evented directly.
    bool IsSubscribable() const;
    // Replaces the last character of the service type by the version; -1 for 0.
    KL_Result ForceVersion(uint32_t version);

    // Called by a state variable after every real change of its value (under the lock).
    KL_Result AddChanged(UP_StateVariable* variable);
    // Change reports received so far (diagnostics and tests).
    uint32_t GetChangeReportCount() const;

    // GENA (UP_ServiceEventing.cpp). The subscription operations set the answer's status and
    // headers themselves; they answer -1 (or the failure) when they refused.
    // callback: the CALLBACK value; only URLs whose host is the subscriber's own IPv4 address are
    // kept. The initial event is held until the answer has been written (when the context is a
    // UP_HttpRequestContext; otherwise it is released at once). A service takes at most
    // UP_SERVICE_MAX_SUBSCRIBERS subscribers, UP_SERVICE_MAX_SUBSCRIBERS_PER_PEER of them from one
    // peer address; one more gets 500.
    KL_Result ProcessNewSubscription(const KL_Reference<UP_TaskManager>& task_manager,
                                     const KL_HttpRequestContext& context, const char* callback,
                                     int32_t timeout, KL_HttpResponse& response);
    KL_Result ProcessRenewSubscription(const KL_HttpRequestContext& context, const char* sid, int32_t timeout,
                                       KL_HttpResponse& response);
    KL_Result ProcessCancelSubscription(const KL_HttpRequestContext& context, const char* sid,
                                        KL_HttpResponse& response);
    // Sets LastChange's value from the variables evented through it; -1 without LastChange.
    KL_Result UpdateLastChange(const KL_List<UP_StateVariable*>& variables);
    KL_Result PauseEventing(bool pause);
    // One publication pass (the event task calls it every 100 ms).
    KL_Result NotifyChanged();
    KL_Size GetSubscriberCount() const;

    UP_DeviceData* GetDevice() const { return m_Device; }
    void SetDevice(UP_DeviceData* device) { m_Device = device; }
    const KL_String& GetServiceType() const { return m_ServiceType; }
    const KL_String& GetServiceID() const { return m_ServiceID; }
    const KL_String& GetServiceName() const { return m_ServiceName; }
    const KL_String& GetLastChangeNamespace() const { return m_LastChangeNamespace; }
    const KL_Array<UP_ActionDesc*>& GetActionDescs() const { return m_ActionDescs; }
    const KL_List<UP_StateVariable*>& GetStateVariables() const { return m_StateVars; }
    KL_Mutex& GetLock() const { return m_Lock; }

private:
    KL_String MakeURL(const KL_String& url, bool absolute) const;
    void Clear();
    KL_Result ReadStateVariable(const KL_XmlElementNode* element, int position);
    KL_Result ReadRange(UP_StateVariable* variable, const KL_XmlElementNode* range);
    KL_Result ReadAction(const KL_XmlElementNode* element, int position);
    KL_Result ReadArgument(UP_ActionDesc* action, const KL_XmlElementNode* element, uint32_t position,
                           bool& return_found);
    KL_Result ReadSCPD(const KL_XmlElementNode* root);
    // Eventing helpers (UP_ServiceEventing.cpp).
    KL_Result AddSubscriber(const KL_Reference<UP_EventSubscriber>& subscriber,
                            const KL_Reference<UP_TaskManager>& task_manager);
    KL_Reference<UP_EventSubscriber> TakeSubscriber(const char* sid);

    UP_DeviceData* m_Device;
    KL_String m_ServiceType;
    KL_String m_ServiceID;
    KL_String m_ServiceName;
    KL_String m_SCPDURL;
    KL_String m_ControlURL;
    KL_String m_EventSubURL;
    UP_ServiceEventTask* m_EventTask = nullptr; // made with the first subscriber; not owned
    KL_Array<UP_ActionDesc*> m_ActionDescs;
    KL_List<UP_StateVariable*> m_StateVars;
    mutable KL_Mutex m_Lock;
    KL_List<UP_StateVariable*> m_StateVarsChanged;
    KL_List<UP_StateVariable*> m_StateVarsToPublish;
    KL_List<KL_Reference<UP_EventSubscriber>> m_Subscribers;
    bool m_EventingPaused = false;
    KL_String m_LastChangeNamespace;
    uint32_t m_ChangeReports = 0;
};
