// UP_StateVariable: one state variable of a service (name, data type, value, allowed values or
// range, eventing and moderation) and its SCPD element.
//
// The value is read and written under the owning service's recursive lock (a variable without a
// service uses a lock of its own): GetValue hands out a copy taken under it, so SOAP answers
// written on connection threads never see a string being rewritten by a setter.
#pragma once

#include "KL_Array.h"
#include "KL_Map.h"
#include "KL_Mutex.h"
#include "KL_Result.h"
#include "KL_String.h"
#include "KL_TimeStamp.h"

#include <cstdint>

class KL_XmlElementNode;
class UP_Service;

// The allowed range of a numeric variable; bounds are signed 64-bit so that every unsigned
// 32-bit bound fits. step is -1 when none is given.
struct KL_AllowedValueRange {
    int64_t min_value = 0;
    int64_t max_value = 0;
    int64_t step = -1;
};

// True for "1", "true" or "yes", ignoring case.
bool UP_IsTrueText(const char* text);

class UP_StateVariable {
public:
    explicit UP_StateVariable(UP_Service* service);
    ~UP_StateVariable();
    UP_StateVariable(const UP_StateVariable&) = delete;
    UP_StateVariable& operator=(const UP_StateVariable&) = delete;

    // -1 for null; 0 without change for the current value; the validation failure; else stores
    // the value and reports the change to the service.
    KL_Result SetValue(const char* value);
    // Only "string" variables with allowed values are checked: every comma-separated piece,
    // trimmed, must be one of them (ignoring case); -20000 otherwise.
    KL_Result ValidateValue(const char* value) const;
    // -1 when the variable is not evented directly.
    KL_Result SetRate(const KL_TimeStamp& interval);
    // With a rate: false while the last publication plus the rate lies ahead; otherwise marks
    // now as the last publication and answers true.
    bool IsReadyToPublish();
    // Without the flag: evented directly. With it: may go through LastChange (not evented
    // directly, no "A_ARG_TYPE_" name, indirect eventing not disabled).
    bool IsSendingEvents(bool indirectly = false) const;
    void DisableIndirectEventing() { m_IsSendingEventsIndirectly = false; }
    KL_Result SetExtraAttribute(const char* key, const char* value);
    // Sets each extra attribute on the element, then "val" = the value.
    KL_Result Serialize(KL_XmlElementNode* element) const;
    // Appends the "stateVariable" element of the SCPD.
    KL_Result GetSCPDXML(KL_XmlElementNode* parent) const;

    UP_Service* GetService() const { return m_Service; }
    const KL_String& GetName() const { return m_Name; }
    const KL_String& GetDataType() const { return m_DataType; }
    const KL_String& GetDefaultValue() const { return m_DefaultValue; }
    // A copy taken under the lock.
    KL_String GetValue() const;
    const KL_AllowedValueRange* GetAllowedValueRange() const { return m_AllowedValueRange; }
    const KL_Array<KL_String*>& GetAllowedValues() const { return m_AllowedValues; }
    KL_TimeStamp GetRate() const { return m_Rate; }

private:
    friend class UP_Service; // the SCPD reader fills the description fields

    KL_MutexInterface& GetLock() const;

    UP_Service* m_Service;
    KL_AllowedValueRange* m_AllowedValueRange = nullptr;
    KL_String m_Name;
    KL_String m_DataType;
    KL_String m_DefaultValue;
    bool m_IsSendingEvents = false;
    bool m_IsSendingEventsIndirectly = true;
    KL_TimeStamp m_Rate;
    KL_TimeStamp m_LastEvent;
    KL_Array<KL_String*> m_AllowedValues;
    KL_String m_Value;
    KL_Map<KL_String, KL_String> m_ExtraAttributes;
    mutable KL_Mutex m_OwnLock; // used only without a service
};
