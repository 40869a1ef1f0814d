#include "UP_LastChangeXMLIterator.h"

#include "KL_Check.h"
#include "KL_XmlElementNode.h"
#include "UP_StateVariable.h"

KL_SET_LOCAL_LOGGER("upnp.core.gena");

KL_Result UP_LastChangeXMLIterator::operator()(UP_StateVariable* variable) const {
    KL_CHECK_POINTER(m_Instance);
    KL_CHECK_POINTER(variable);
    if (!variable->IsSendingEvents(true)) {
        return KL_SUCCESS;
    }
    auto* element = new KL_XmlElementNode("", variable->GetName().GetChars());
    KL_Result res = m_Instance->AddChild(element);
    if (KL_FAILED(res)) {
        delete element;
        KL_LOG_CHECK_FAILED(KL_LOG_LEVEL_SEVERE, res, "(m_Instance->AddChild(element))");
        return res;
    }
    KL_CHECK_SEVERE(variable->Serialize(element));
    return KL_SUCCESS;
}
