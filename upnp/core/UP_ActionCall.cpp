#include "UP_ActionCall.h"

#include "KL_Check.h"
#include "UP_DeviceData.h"
#include "UP_StateVariable.h"

KL_SET_LOCAL_LOGGER("upnp.core.action");

UP_ActionCall::UP_ActionCall(UP_ActionDesc& action_desc) : m_ActionDesc(action_desc) {}

UP_ActionCall::UP_ActionCall(UP_ActionDesc& action_desc, const KL_Reference<UP_DeviceData>& root_device)
    : m_ActionDesc(action_desc), m_RootDevice(root_device) {}

UP_ActionCall::~UP_ActionCall() {
    for (UP_Argument* argument : m_Arguments) {
        delete argument;
    }
}

UP_Argument* UP_ActionCall::FindArgument(const char* name, KL_Index* position) const {
    if (name == nullptr) {
        return nullptr;
    }
    for (KL_Index i = 0; i < m_Arguments.GetItemCount(); ++i) {
        if (m_Arguments[i]->GetDesc()->GetName().Compare(name, true) == 0) {
            if (position != nullptr) {
                *position = i;
            }
            return m_Arguments[i];
        }
    }
    return nullptr;
}

KL_Result UP_ActionCall::GetArgumentValue(const char* name, KL_String& value) const {
    const UP_Argument* argument = FindArgument(name);
    if (argument == nullptr) {
        return KL_FAILURE;
    }
    value = argument->GetValue();
    return KL_SUCCESS;
}

KL_Result UP_ActionCall::GetArgumentValue(const char* name, uint32_t& value) const {
    KL_String tmp_value;
    KL_CHECK(GetArgumentValue(name, tmp_value));
    return tmp_value.ToInteger(value, true);
}

KL_Result UP_ActionCall::GetArgumentValue(const char* name, int32_t& value) const {
    KL_String tmp_value;
    KL_CHECK(GetArgumentValue(name, tmp_value));
    return tmp_value.ToInteger(value, true);
}

KL_Result UP_ActionCall::GetArgumentValue(const char* name, bool& value) const {
    KL_String text;
    if (KL_FAILED(GetArgumentValue(name, text))) {
        return KL_FAILURE;
    }
    if (text == "1" || text.Compare("TRUE", true) == 0 || text.Compare("YES", true) == 0) {
        value = true;
        return KL_SUCCESS;
    }
    if (text == "0" || text.Compare("FALSE", true) == 0 || text.Compare("NO", true) == 0) {
        value = false;
        return KL_SUCCESS;
    }
    return KL_FAILURE;
}

KL_Result UP_ActionCall::VerifyArgumentValue(const char* name, const char* expected) const {
    KL_String str;
    KL_CHECK_SEVERE(GetArgumentValue(name, str));
    return str.Compare(expected ? expected : "", true) == 0 ? KL_SUCCESS : KL_FAILURE;
}

KL_Result UP_ActionCall::InsertArgument(UP_Argument* argument) {
    KL_Result res = m_Arguments.Add(argument); // grows the array; the slot is moved into place below
    if (KL_FAILED(res)) {
        delete argument;
        return res;
    }
    uint32_t position = argument->GetDesc()->GetPosition();
    KL_Index i = m_Arguments.GetItemCount() - 1;
    while (i > 0 && m_Arguments[i - 1]->GetDesc()->GetPosition() > position) {
        m_Arguments[i] = m_Arguments[i - 1];
        --i;
    }
    m_Arguments[i] = argument;
    return KL_SUCCESS;
}

KL_Result UP_ActionCall::SetArgumentValue(const char* name, const char* value) {
    KL_Index position = 0;
    UP_Argument* existing = FindArgument(name, &position);
    if (existing != nullptr) {
        KL_Result res = existing->SetValue(value);
        if (KL_FAILED(res)) {
            m_Arguments.Erase(position);
            delete existing;
        }
        return res;
    }
    UP_Argument* arg = nullptr;
    KL_CHECK_SEVERE(UP_Argument::CreateArgument(m_ActionDesc, name, value, arg));
    return InsertArgument(arg);
}

KL_Result UP_ActionCall::SetArgumentOutFromStateVariable(const UP_ArgumentDesc* desc) {
    UP_StateVariable* variable = desc->GetRelatedStateVariable();
    if (desc->GetDirection().Compare("out", true) != 0 || variable == nullptr) {
        return KL_FAILURE;
    }
    // A copy taken under the service lock: setters may run on other threads.
    KL_String value = variable->GetValue();
    return SetArgumentValue(desc->GetName().GetChars(), value.GetChars());
}

KL_Result UP_ActionCall::SetArgumentOutFromStateVariable(const char* name) {
    UP_ArgumentDesc* arg_desc = nullptr;
    KL_CHECK_SEVERE(
        KL_ContainerFind(m_ActionDesc.GetArgumentDescs(), UP_ArgumentDescNameFinder(name), arg_desc));
    return SetArgumentOutFromStateVariable(arg_desc);
}

KL_Result UP_ActionCall::SetArgumentsOutFromStateVariable() {
    for (const UP_ArgumentDesc* arg_desc : m_ActionDesc.GetArgumentDescs()) {
        if (arg_desc->GetDirection().Compare("out", true) == 0) {
            KL_CHECK_SEVERE(SetArgumentOutFromStateVariable(arg_desc));
        }
    }
    return KL_SUCCESS;
}

KL_Result UP_ActionCall::VerifyArguments(bool input) {
    const char* direction = input ? "in" : "out";
    for (const UP_ArgumentDesc* desc : m_ActionDesc.GetArgumentDescs()) {
        if (desc->GetDirection().Compare(direction, true) == 0 &&
            FindArgument(desc->GetName().GetChars()) == nullptr) {
            KL_LOG_WARNING("Argument %s for action %s not found", desc->GetName().GetChars(),
                           m_ActionDesc.GetName().GetChars());
            return KL_FAILURE;
        }
    }
    m_ErrorCode = 0;
    m_ErrorDescription = "";
    return KL_SUCCESS;
}

KL_Result UP_ActionCall::SetActionError(uint32_t code, const char* description) {
    m_ErrorCode = code;
    m_ErrorDescription = description ? description : "";
    return KL_SUCCESS;
}

KL_String UP_ActionCall::GetActionError(uint32_t* code) const {
    if (code != nullptr) {
        *code = m_ErrorCode;
    }
    return m_ErrorDescription;
}
