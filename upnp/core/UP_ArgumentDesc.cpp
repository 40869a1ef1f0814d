#include "UP_ArgumentDesc.h"

#include "KL_Check.h"
#include "KL_XmlElementNode.h"
#include "UP_StateVariable.h"
#include "UP_XmlHelper.h"

KL_SET_LOCAL_LOGGER("upnp.core.action");

UP_ArgumentDesc::UP_ArgumentDesc(const char* name, uint32_t position, const char* direction,
                                 UP_StateVariable* related_state_variable, bool has_return_value)
    : m_Name(name), m_Position(position), m_Direction(direction),
      m_RelatedStateVariable(related_state_variable), m_HasReturnValue(has_return_value ? 1 : 0) {}

KL_Result UP_ArgumentDesc::GetSCPDXML(KL_XmlElementNode* node) const {
    KL_CHECK_POINTER(node);
    auto* argument = new (std::nothrow) KL_XmlElementNode("", "argument");
    KL_CHECK_POINTER(argument);
    KL_Result res = node->AddChild(argument);
    if (KL_FAILED(res)) {
        delete argument;
        return res;
    }
    KL_CHECK_SEVERE(UP_XmlHelper::AddChildText(argument, "name", m_Name.GetChars()));
    KL_CHECK_SEVERE(UP_XmlHelper::AddChildText(argument, "direction", m_Direction.GetChars()));
    KL_CHECK_SEVERE(UP_XmlHelper::AddChildText(
        argument, "relatedStateVariable",
        m_RelatedStateVariable ? m_RelatedStateVariable->GetName().GetChars() : ""));
    if (m_HasReturnValue) {
        auto* retval = new (std::nothrow) KL_XmlElementNode("", "retval");
        KL_CHECK_POINTER(retval);
        res = argument->AddChild(retval);
        if (KL_FAILED(res)) {
            delete retval;
            return res;
        }
    }
    return KL_SUCCESS;
}
