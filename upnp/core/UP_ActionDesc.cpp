#include "UP_ActionDesc.h"

#include "KL_Check.h"
#include "KL_XmlElementNode.h"
#include "UP_XmlHelper.h"

KL_SET_LOCAL_LOGGER("upnp.core.action");

UP_ActionDesc::UP_ActionDesc(UP_Service* service, const char* name) : m_Name(name), m_Service(service) {}

UP_ActionDesc::~UP_ActionDesc() {
    for (UP_ArgumentDesc* desc : m_ArgumentDescs) {
        delete desc;
    }
}

KL_Result UP_ActionDesc::AddArgumentDesc(UP_ArgumentDesc* desc) {
    KL_CHECK_POINTER(desc);
    KL_Result res = m_ArgumentDescs.Add(desc);
    if (KL_FAILED(res)) {
        delete desc;
    }
    return res;
}

UP_ArgumentDesc* UP_ActionDesc::FindArgumentDesc(const char* name) const {
    UP_ArgumentDesc* desc = nullptr;
    if (name == nullptr ||
        KL_FAILED(KL_ContainerFind(m_ArgumentDescs, UP_ArgumentDescNameFinder(name), desc))) {
        return nullptr;
    }
    return desc;
}

KL_Result UP_ActionDesc::GetSCPDXML(KL_XmlElementNode* node) const {
    KL_CHECK_POINTER(node);
    auto* action = new (std::nothrow) KL_XmlElementNode("", "action");
    KL_CHECK_POINTER(action);
    KL_Result res = node->AddChild(action);
    if (KL_FAILED(res)) {
        delete action;
        return res;
    }
    KL_CHECK_SEVERE(UP_XmlHelper::AddChildText(action, "name", m_Name.GetChars()));
    auto* list = new (std::nothrow) KL_XmlElementNode("", "argumentList");
    KL_CHECK_POINTER(list);
    res = action->AddChild(list);
    if (KL_FAILED(res)) {
        delete list;
        return res;
    }
    for (const UP_ArgumentDesc* desc : m_ArgumentDescs) {
        KL_CHECK_SEVERE(desc->GetSCPDXML(list));
    }
    return KL_SUCCESS;
}
