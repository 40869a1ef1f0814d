// UP_ArgumentDesc: one argument of an action as its SCPD declares it, and its SCPD element.
#pragma once

#include "KL_Result.h"
#include "KL_String.h"

#include <cstdint>

class KL_XmlElementNode;
class UP_StateVariable;

class UP_ArgumentDesc {
public:
    UP_ArgumentDesc(const char* name, uint32_t position, const char* direction,
                    UP_StateVariable* related_state_variable, bool has_return_value);

    const KL_String& GetName() const { return m_Name; }
    // The 0-based index in the action's SCPD argument list; it orders a call's argument values.
    uint32_t GetPosition() const { return m_Position; }
    const KL_String& GetDirection() const { return m_Direction; }
    UP_StateVariable* GetRelatedStateVariable() const { return m_RelatedStateVariable; }
    bool HasReturnValue() const { return m_HasReturnValue != 0; }
    // Appends "argument" (name, direction, relatedStateVariable, an empty retval when marked).
    KL_Result GetSCPDXML(KL_XmlElementNode* node) const;

private:
    KL_String m_Name;
    uint32_t m_Position;
    KL_String m_Direction;
    UP_StateVariable* m_RelatedStateVariable;
    uint32_t m_HasReturnValue;
};

// Finder over argument descriptions by name, ignoring case.
class UP_ArgumentDescNameFinder {
public:
    explicit UP_ArgumentDescNameFinder(const char* name) : m_Name(name) {}
    bool operator()(const UP_ArgumentDesc* desc) const {
        return desc != nullptr && desc->GetName().Compare(m_Name.GetChars(), true) == 0;
    }

private:
    KL_String m_Name;
};
