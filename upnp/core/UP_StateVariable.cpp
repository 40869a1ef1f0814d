#include "UP_StateVariable.h"

#include "KL_Check.h"
#include "KL_System.h"
#include "KL_XmlElementNode.h"
#include "UP_Service.h"
#include "UP_XmlHelper.h"

KL_SET_LOCAL_LOGGER("upnp.core.service");

bool UP_IsTrueText(const char* text) {
    if (text == nullptr) {
        return false;
    }
    return KL_String::Compare(text, "1", true) == 0 || KL_String::Compare(text, "true", true) == 0 ||
           KL_String::Compare(text, "yes", true) == 0;
}

UP_StateVariable::UP_StateVariable(UP_Service* service) : m_Service(service) {}

UP_StateVariable::~UP_StateVariable() {
    delete m_AllowedValueRange;
    for (KL_String* value : m_AllowedValues) {
        delete value;
    }
}

KL_MutexInterface& UP_StateVariable::GetLock() const {
    return m_Service != nullptr ? m_Service->GetLock() : m_OwnLock;
}

KL_String UP_StateVariable::GetValue() const {
    KL_AutoLock lock(GetLock());
    return m_Value;
}

KL_Result UP_StateVariable::SetValue(const char* value) {
    if (value == nullptr) {
        return KL_FAILURE;
    }
    // Compare, validate, store and report under one lock: readers copy the value under it.
    KL_AutoLock lock(GetLock());
    if (m_Value == value) {
        return KL_SUCCESS;
    }
    KL_Result result = ValidateValue(value);
    if (KL_FAILED(result)) {
        return result;
    }
    m_Value = value;
    if (m_Service != nullptr) {
        m_Service->AddChanged(this);
    }
    return KL_SUCCESS;
}

KL_Result UP_StateVariable::ValidateValue(const char* value) const {
    if (m_DataType.Compare("string", true) != 0 || m_AllowedValues.IsEmpty()) {
        return KL_SUCCESS;
    }
    KL_String text(value);
    for (KL_String& piece : text.Split(",")) {
        piece.Trim();
        bool allowed = false;
        for (const KL_String* candidate : m_AllowedValues) {
            if (candidate->Compare(piece.GetChars(), true) == 0) {
                allowed = true;
                break;
            }
        }
        if (!allowed) {
            KL_LOG_WARNING("Invalid value of %s for state variable %s", piece.GetChars(), m_Name.GetChars());
            return KL_ERROR_INVALID_PARAMETERS;
        }
    }
    return KL_SUCCESS;
}

KL_Result UP_StateVariable::SetRate(const KL_TimeStamp& interval) {
    if (!m_IsSendingEvents) {
        return KL_FAILURE;
    }
    KL_AutoLock lock(GetLock());
    m_Rate = interval;
    return KL_SUCCESS;
}

bool UP_StateVariable::IsReadyToPublish() {
    KL_AutoLock lock(GetLock());
    KL_TimeStamp now;
    if (KL_FAILED(KL_System::GetCurrentTimeStamp(now))) {
        return true;
    }
    if (m_Rate != KL_TimeStamp() && m_LastEvent + m_Rate > now) {
        return false;
    }
    m_LastEvent = now;
    return true;
}

bool UP_StateVariable::IsSendingEvents(bool indirectly) const {
    if (!indirectly) {
        return m_IsSendingEvents;
    }
    return !m_IsSendingEvents && !m_Name.StartsWith("A_ARG_TYPE_") && m_IsSendingEventsIndirectly;
}

KL_Result UP_StateVariable::SetExtraAttribute(const char* key, const char* value) {
    KL_AutoLock lock(GetLock());
    return m_ExtraAttributes.Put(KL_String(key), KL_String(value));
}

KL_Result UP_StateVariable::Serialize(KL_XmlElementNode* element) const {
    KL_CHECK_POINTER(element);
    KL_AutoLock lock(GetLock());
    for (const auto* entry : m_ExtraAttributes.GetEntries()) {
        KL_CHECK_SEVERE(element->SetAttribute(entry->GetKey().GetChars(), entry->GetValue().GetChars()));
    }
    KL_CHECK_SEVERE(element->SetAttribute("val", m_Value.GetChars()));
    return KL_SUCCESS;
}

KL_Result UP_StateVariable::GetSCPDXML(KL_XmlElementNode* parent) const {
    KL_CHECK_POINTER(parent);
    auto* variable = new (std::nothrow) KL_XmlElementNode("", "stateVariable");
    KL_CHECK_POINTER(variable);
    KL_Result res = parent->AddChild(variable);
    if (KL_FAILED(res)) {
        delete variable;
        return res;
    }
    KL_CHECK_SEVERE(variable->SetAttribute("sendEvents", m_IsSendingEvents ? "yes" : "no"));
    KL_CHECK_SEVERE(UP_XmlHelper::AddChildText(variable, "name", m_Name.GetChars()));
    KL_CHECK_SEVERE(UP_XmlHelper::AddChildText(variable, "dataType", m_DataType.GetChars()));
    if (!m_DefaultValue.IsEmpty()) {
        KL_CHECK_SEVERE(UP_XmlHelper::AddChildText(variable, "defaultValue", m_DefaultValue.GetChars()));
    }
    if (!m_AllowedValues.IsEmpty()) {
        auto* list = new (std::nothrow) KL_XmlElementNode("", "allowedValueList");
        KL_CHECK_POINTER(list);
        res = variable->AddChild(list);
        if (KL_FAILED(res)) {
            delete list;
            return res;
        }
        for (const KL_String* value : m_AllowedValues) {
            KL_CHECK_SEVERE(UP_XmlHelper::AddChildText(list, "allowedValue", value->GetChars()));
        }
    } else if (m_AllowedValueRange != nullptr) {
        auto* range = new (std::nothrow) KL_XmlElementNode("", "allowedValueRange");
        KL_CHECK_POINTER(range);
        res = variable->AddChild(range);
        if (KL_FAILED(res)) {
            delete range;
            return res;
        }
        KL_CHECK_SEVERE(UP_XmlHelper::AddChildText(
            range, "minimum", KL_String::FromInteger(m_AllowedValueRange->min_value).GetChars()));
        KL_CHECK_SEVERE(UP_XmlHelper::AddChildText(
            range, "maximum", KL_String::FromInteger(m_AllowedValueRange->max_value).GetChars()));
        if (m_AllowedValueRange->step != -1) {
            KL_CHECK_SEVERE(UP_XmlHelper::AddChildText(
                range, "step", KL_String::FromInteger(m_AllowedValueRange->step).GetChars()));
        }
    }
    return KL_SUCCESS;
}
