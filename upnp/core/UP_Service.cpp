#include "UP_Service.h"

#include "KL_Check.h"
#include "KL_HttpUrl.h"
#include "KL_XmlElementNode.h"
#include "UP_DeviceData.h"
#include "UP_XmlHelper.h"

KL_SET_LOCAL_LOGGER("upnp.core.service");

UP_Service::UP_Service(UP_DeviceData* device, const char* service_type, const char* service_id,
                       const char* service_name, const char* last_change_namespace)
    : m_Device(device), m_ServiceType(service_type), m_ServiceID(service_id), m_ServiceName(service_name),
      m_LastChangeNamespace(last_change_namespace) {
    if (service_name != nullptr && *service_name != '\0') {
        InitURLs(service_name);
    }
}

UP_Service::~UP_Service() {
    Clear();
}

void UP_Service::Clear() {
    KL_AutoLock lock(m_Lock);
    m_Subscribers.Clear();
    m_StateVarsChanged.Clear();
    m_StateVarsToPublish.Clear();
    for (UP_ActionDesc* desc : m_ActionDescs) {
        delete desc;
    }
    m_ActionDescs.Clear();
    for (UP_StateVariable* variable : m_StateVars) {
        delete variable;
    }
    m_StateVars.Clear();
}

KL_Result UP_Service::InitURLs(const char* name) {
    KL_String uuid = m_Device != nullptr ? m_Device->GetUUID() : KL_String();
    KL_String prefix = KL_String(name) + "/" + uuid;
    m_SCPDURL = prefix + "/scpd.xml";
    m_ControlURL = prefix + "/control.xml";
    m_EventSubURL = prefix + "/event.xml";
    return KL_SUCCESS;
}

void UP_Service::SetURLs(const char* scpd_url, const char* control_url, const char* event_sub_url) {
    m_SCPDURL = scpd_url;
    m_ControlURL = control_url;
    m_EventSubURL = event_sub_url;
}

KL_String UP_Service::MakeURL(const KL_String& url, bool absolute) const {
    if (m_Device == nullptr || url.IsEmpty()) {
        return url;
    }
    KL_HttpUrl normalized = m_Device->NormalizeURL(url.GetChars());
    return absolute ? normalized.ToString() : normalized.ToRequestString();
}

KL_Result UP_Service::GetDescription(KL_XmlElementNode* parent, KL_XmlElementNode** service_out) const {
    KL_CHECK_POINTER(parent);
    auto* service = new (std::nothrow) KL_XmlElementNode("", "service");
    KL_CHECK_POINTER(service);
    KL_Result res = parent->AddChild(service);
    if (KL_FAILED(res)) {
        delete service;
        KL_LOG_CHECK_FAILED(KL_LOG_LEVEL_SEVERE, res, "(parent->AddChild(service))");
        return res;
    }
    KL_CHECK_SEVERE(UP_XmlHelper::AddChildText(service, "serviceType", m_ServiceType.GetChars()));
    KL_CHECK_SEVERE(UP_XmlHelper::AddChildText(service, "serviceId", m_ServiceID.GetChars()));
    KL_CHECK_SEVERE(UP_XmlHelper::AddChildText(service, "SCPDURL", GetSCPDURL().GetChars()));
    KL_CHECK_SEVERE(UP_XmlHelper::AddChildText(service, "controlURL", GetControlURL().GetChars()));
    KL_CHECK_SEVERE(UP_XmlHelper::AddChildText(service, "eventSubURL", GetEventSubURL().GetChars()));
    if (service_out != nullptr) {
        *service_out = service;
    }
    return KL_SUCCESS;
}

UP_ActionDesc* UP_Service::FindActionDesc(const char* name) const {
    if (name == nullptr) {
        return nullptr;
    }
    for (UP_ActionDesc* desc : m_ActionDescs) {
        if (desc->GetName().Compare(name, true) == 0) {
            return desc;
        }
    }
    return nullptr;
}

UP_StateVariable* UP_Service::FindStateVariable(const char* name) const {
    if (name == nullptr) {
        return nullptr;
    }
    for (UP_StateVariable* variable : m_StateVars) {
        if (variable->GetName().Compare(name, true) == 0) {
            return variable;
        }
    }
    return nullptr;
}

KL_Result UP_Service::GetStateVariableValue(const char* name, KL_String& value) const {
    UP_StateVariable* variable = FindStateVariable(name);
    KL_CHECK_POINTER_LEVEL(KL_LOG_LEVEL_FATAL, variable);
    value = variable->GetValue();
    return KL_SUCCESS;
}

KL_Result UP_Service::SetStateVariable(const char* name, const char* value) {
    UP_StateVariable* variable = FindStateVariable(name);
    return variable != nullptr ? variable->SetValue(value) : KL_FAILURE;
}

KL_Result UP_Service::SetStateVariableRate(const char* name, const KL_TimeStamp& interval) {
    UP_StateVariable* variable = FindStateVariable(name);
    return variable != nullptr ? variable->SetRate(interval) : KL_FAILURE;
}

KL_Result UP_Service::SetStateVariableExtraAttribute(const char* name, const char* key, const char* value) {
    UP_StateVariable* variable = FindStateVariable(name);
    if (variable == nullptr) {
        return KL_FAILURE;
    }
    variable->SetExtraAttribute(key, value);
    return KL_SUCCESS;
}

KL_Result UP_Service::IncStateVariable(const char* name) {
    UP_StateVariable* variable = FindStateVariable(name);
    if (variable == nullptr) {
        return KL_FAILURE;
    }
    KL_AutoLock lock(m_Lock); // read and write as one step
    KL_String value = variable->GetValue();
    int64_t number = 0;
    if (value.IsEmpty() || KL_FAILED(value.ToInteger(number, false))) {
        return KL_FAILURE;
    }
    return variable->SetValue(KL_String::FromInteger(number + 1).GetChars());
}

bool UP_Service::IsSubscribable() const {
    for (const UP_StateVariable* variable : m_StateVars) {
        if (variable->IsSendingEvents()) {
            return true;
        }
    }
    return false;
}

KL_Result UP_Service::ForceVersion(uint32_t version) {
    if (version == 0 || m_ServiceType.IsEmpty()) {
        return KL_FAILURE;
    }
    m_ServiceType = m_ServiceType.Left(m_ServiceType.GetLength() - 1) + KL_String::FromIntegerU(version);
    return KL_SUCCESS;
}

// AddChanged is with the eventing code (UP_ServiceEventing.cpp).

uint32_t UP_Service::GetChangeReportCount() const {
    KL_AutoLock lock(m_Lock);
    return m_ChangeReports;
}
