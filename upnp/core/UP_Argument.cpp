#include "UP_Argument.h"

#include "KL_Check.h"
#include "UP_ActionDesc.h"
#include "UP_ArgumentDesc.h"
#include "UP_StateVariable.h"

KL_SET_LOCAL_LOGGER("upnp.core.action");

KL_Result UP_Argument::CreateArgument(const UP_ActionDesc& action_desc, const char* name, const char* value,
                                      UP_Argument*& argument) {
    argument = nullptr;
    UP_ArgumentDesc* desc = action_desc.FindArgumentDesc(name);
    if (desc == nullptr) {
        KL_LOG_WARNING("Invalid argument %s for action %s", name ? name : "",
                       action_desc.GetName().GetChars());
        return KL_ERROR_NO_SUCH_NAME;
    }
    auto* created = new (std::nothrow) UP_Argument(desc);
    KL_CHECK_POINTER(created);
    KL_Result res = created->SetValue(value);
    if (KL_FAILED(res)) {
        delete created;
        KL_LOG_WARNING("Invalid value of %s for argument %s of action %s", value ? value : "",
                       desc->GetName().GetChars(), action_desc.GetName().GetChars());
        return res;
    }
    argument = created;
    return KL_SUCCESS;
}

KL_Result UP_Argument::ValidateValue(const char* value) const {
    UP_StateVariable* variable = m_Desc ? m_Desc->GetRelatedStateVariable() : nullptr;
    if (variable == nullptr) {
        return KL_SUCCESS;
    }
    return variable->ValidateValue(value ? value : "");
}

KL_Result UP_Argument::SetValue(const char* value) {
    KL_CHECK_SEVERE(ValidateValue(value));
    m_Value = value ? value : "";
    return KL_SUCCESS;
}
