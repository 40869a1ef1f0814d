// UP_Argument: one argument value of one action call, checked against its description's related
// state variable.
#pragma once

#include "KL_Result.h"
#include "KL_String.h"

class UP_ActionDesc;
class UP_ArgumentDesc;

class UP_Argument {
public:
    explicit UP_Argument(UP_ArgumentDesc* desc) : m_Desc(desc) {}

    // Finds the description by name (ignoring case; -20003 when none), validates and stores the
    // value; the new argument is handed out only on success.
    static KL_Result CreateArgument(const UP_ActionDesc& action_desc, const char* name, const char* value,
                                    UP_Argument*& argument);
    // Validates, then stores; a refused value leaves the old one.
    KL_Result SetValue(const char* value);
    // The related state variable's check (0 without one).
    KL_Result ValidateValue(const char* value) const;

    UP_ArgumentDesc* GetDesc() const { return m_Desc; }
    const KL_String& GetValue() const { return m_Value; }

private:
    UP_ArgumentDesc* m_Desc;
    KL_String m_Value;
};
