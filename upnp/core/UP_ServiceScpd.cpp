// The SCPD of a service: the reader (SetSCPDXML) and the writer (GetSCPDXML).
#include "KL_Check.h"
#include "KL_XmlElementNode.h"
#include "KL_XmlParser.h"
#include "UP_Service.h"
#include "UP_XmlHelper.h"

#include <memory>

KL_SET_LOCAL_LOGGER("upnp.core.service");

namespace {

const char* const kServiceNamespace = "urn:schemas-upnp-org:service-1-0";
constexpr KL_Size kMaxTextSize = 1024;

// Logs why the SCPD is refused and answers the code every refusal carries.
#define UP_SCPD_REFUSE(...)                                                                                  \
    do {                                                                                                     \
        KL_LOG_SEVERE(__VA_ARGS__);                                                                          \
        KL_LOG_CHECK_FAILED(KL_LOG_LEVEL_SEVERE, KL_ERROR_INVALID_SYNTAX, "(((-20000-0) - 11))");            \
        return KL_ERROR_INVALID_SYNTAX;                                                                      \
    } while (0)

struct TypeBounds {
    const char* type;
    int64_t lowest;
    int64_t highest;
};

const TypeBounds kTypeBounds[] = {
    {"ui1", 0, 255},
    {"ui2", 0, 65535},
    {"ui4", 0, 4294967295LL},
    {"i1", -128, 127},
    {"i2", -32768, 32767},
    {"i4", -2147483648LL, 2147483647},
    {"int", -2147483648LL, 2147483647},
};

const TypeBounds* FindTypeBounds(const KL_String& type) {
    for (const TypeBounds& bounds : kTypeBounds) {
        if (type == bounds.type) {
            return &bounds;
        }
    }
    return nullptr;
}

} // namespace

KL_Result UP_Service::GetSCPDXML(KL_String& scpd) const {
    if (m_StateVars.GetItemCount() == 0) {
        return KL_FAILURE;
    }
    std::unique_ptr<KL_XmlElementNode> top(new (std::nothrow) KL_XmlElementNode("", "scpd"));
    KL_CHECK_POINTER_SEVERE(top.get());
    KL_CHECK_SEVERE(top->SetNamespaceUri("", kServiceNamespace));
    KL_XmlElementNode* spec_version = UP_XmlHelper::AddChildElement(top.get(), "specVersion");
    KL_CHECK_POINTER_SEVERE(spec_version);
    KL_CHECK_SEVERE(UP_XmlHelper::AddChildText(spec_version, "major", "1"));
    KL_CHECK_SEVERE(UP_XmlHelper::AddChildText(spec_version, "minor", "0"));
    KL_XmlElementNode* action_list = UP_XmlHelper::AddChildElement(top.get(), "actionList");
    KL_CHECK_POINTER_SEVERE(action_list);
    for (const UP_ActionDesc* desc : m_ActionDescs) {
        KL_CHECK_SEVERE(desc->GetSCPDXML(action_list));
    }
    KL_XmlElementNode* table = UP_XmlHelper::AddChildElement(top.get(), "serviceStateTable");
    KL_CHECK_POINTER_SEVERE(table);
    for (const UP_StateVariable* variable : m_StateVars) {
        KL_CHECK_SEVERE(variable->GetSCPDXML(table));
    }
    KL_Result res = KL_SUCCESS;
    KL_CHECK_SEVERE(res = UP_XmlHelper::Serialize(*top, scpd, true, 2));
    return KL_SUCCESS;
}

KL_Result UP_Service::SetSCPDXML(const char* text) {
    if (text == nullptr) {
        return KL_ERROR_INVALID_PARAMETERS;
    }
    Clear();
    KL_XmlParser parser(true);
    KL_XmlNode* tree = nullptr;
    KL_Result res = parser.Parse(text, tree);
    std::unique_ptr<KL_XmlNode> owner(tree);
    if (KL_FAILED(res)) {
        KL_LOG_CHECK_FAILED(KL_LOG_LEVEL_FATAL, res, "(res)");
    } else {
        res = ReadSCPD(tree != nullptr ? tree->AsElementNode() : nullptr);
    }
    if (KL_FAILED(res)) {
        KL_LOG_FATAL("Failed to parse scpd: %s", text);
        return KL_FAILURE;
    }
    return KL_SUCCESS;
}

KL_Result UP_Service::ReadSCPD(const KL_XmlElementNode* root) {
    if (root == nullptr || root->GetTag() != "scpd") {
        UP_SCPD_REFUSE("Invalid scpd root tag name");
    }
    KL_Array<KL_XmlElementNode*> variables;
    const KL_XmlElementNode* table = UP_XmlHelper::GetChildElement(root, "serviceStateTable");
    if (table == nullptr || KL_FAILED(UP_XmlHelper::GetChildren(table, variables, "stateVariable")) ||
        variables.IsEmpty()) {
        UP_SCPD_REFUSE("No state variables found");
    }
    for (KL_Index i = 0; i < variables.GetItemCount(); ++i) {
        KL_CHECK_SEVERE(ReadStateVariable(variables[i], int(i + 1)));
    }
    const KL_XmlElementNode* action_list = UP_XmlHelper::GetChildElement(root, "actionList");
    if (action_list != nullptr) {
        KL_Array<KL_XmlElementNode*> actions;
        KL_CHECK_SEVERE(UP_XmlHelper::GetChildren(action_list, actions, "action"));
        for (KL_Index i = 0; i < actions.GetItemCount(); ++i) {
            KL_CHECK_SEVERE(ReadAction(actions[i], int(i + 1)));
        }
    }
    return KL_SUCCESS;
}

KL_Result UP_Service::ReadStateVariable(const KL_XmlElementNode* element, int position) {
    KL_String name;
    KL_String type;
    UP_XmlHelper::GetChildText(element, "name", name, nullptr, kMaxTextSize);
    UP_XmlHelper::GetChildText(element, "dataType", type, nullptr, kMaxTextSize);
    if (name.IsEmpty() || type.IsEmpty()) {
        UP_SCPD_REFUSE("Invalid state variable name or type at position %d", position);
    }
    auto* variable = new (std::nothrow) UP_StateVariable(this);
    KL_CHECK_POINTER_SEVERE(variable);
    KL_Result res = m_StateVars.Add(variable);
    if (KL_FAILED(res)) {
        delete variable;
        return res;
    }
    variable->m_Name = name;
    variable->m_DataType = type;
    KL_String send_events;
    UP_XmlHelper::GetAttribute(element, "sendEvents", send_events);
    variable->m_IsSendingEvents = UP_IsTrueText(send_events.GetChars());
    UP_XmlHelper::GetChildText(element, "defaultValue", variable->m_DefaultValue, nullptr, kMaxTextSize);

    const KL_XmlElementNode* list = UP_XmlHelper::GetChildElement(element, "allowedValueList");
    if (list != nullptr) {
        KL_Array<KL_XmlElementNode*> values;
        KL_CHECK_SEVERE(UP_XmlHelper::GetChildren(list, values, "allowedValue"));
        for (const KL_XmlElementNode* value : values) {
            auto* text = new (std::nothrow) KL_String(UP_XmlHelper::GetText(value));
            KL_CHECK_POINTER_SEVERE(text);
            res = variable->m_AllowedValues.Add(text);
            if (KL_FAILED(res)) {
                delete text;
                return res;
            }
        }
        return KL_SUCCESS;
    }
    const KL_XmlElementNode* range = UP_XmlHelper::GetChildElement(element, "allowedValueRange");
    return range != nullptr ? ReadRange(variable, range) : KL_SUCCESS;
}

KL_Result UP_Service::ReadRange(UP_StateVariable* variable, const KL_XmlElementNode* range) {
    KL_String minimum;
    KL_String maximum;
    KL_String step;
    UP_XmlHelper::GetChildText(range, "minimum", minimum, nullptr, kMaxTextSize);
    UP_XmlHelper::GetChildText(range, "maximum", maximum, nullptr, kMaxTextSize);
    UP_XmlHelper::GetChildText(range, "step", step, nullptr, kMaxTextSize);
    auto* bounds = new (std::nothrow) KL_AllowedValueRange();
    KL_CHECK_POINTER_SEVERE(bounds);
    delete variable->m_AllowedValueRange;
    variable->m_AllowedValueRange = bounds;
    const TypeBounds* type_bounds = FindTypeBounds(variable->m_DataType);
    if ((minimum.IsEmpty() || maximum.IsEmpty()) && type_bounds == nullptr) {
        UP_SCPD_REFUSE("Invalid variable data type %s", variable->m_DataType.GetChars());
    }
    // A bound that does not parse counts as 0, as the relaxed parser answers.
    if (minimum.IsEmpty()) {
        bounds->min_value = type_bounds->lowest;
    } else {
        minimum.ToInteger(bounds->min_value, true);
    }
    if (maximum.IsEmpty()) {
        bounds->max_value = type_bounds->highest;
    } else {
        maximum.ToInteger(bounds->max_value, true);
    }
    if (!step.IsEmpty()) {
        step.ToInteger(bounds->step, true);
    }
    return KL_SUCCESS;
}

KL_Result UP_Service::ReadAction(const KL_XmlElementNode* element, int position) {
    KL_String name;
    UP_XmlHelper::GetChildText(element, "name", name, nullptr, kMaxTextSize);
    if (name.IsEmpty()) {
        UP_SCPD_REFUSE("Invalid action name for action number %d", position);
    }
    auto* action = new (std::nothrow) UP_ActionDesc(this, name.GetChars());
    KL_CHECK_POINTER_SEVERE(action);
    KL_Result res = m_ActionDescs.Add(action);
    if (KL_FAILED(res)) {
        delete action;
        return res;
    }
    const KL_XmlElementNode* list = UP_XmlHelper::GetChildElement(element, "argumentList");
    if (list == nullptr) {
        return KL_SUCCESS;
    }
    KL_Array<KL_XmlElementNode*> arguments;
    KL_CHECK_SEVERE(UP_XmlHelper::GetChildren(list, arguments, "argument"));
    bool return_found = false;
    for (KL_Index i = 0; i < arguments.GetItemCount(); ++i) {
        KL_CHECK_SEVERE(ReadArgument(action, arguments[i], i, return_found));
    }
    return KL_SUCCESS;
}

KL_Result UP_Service::ReadArgument(UP_ActionDesc* action, const KL_XmlElementNode* element, uint32_t position,
                                   bool& return_found) {
    KL_String name;
    KL_String direction;
    KL_String related;
    UP_XmlHelper::GetChildText(element, "name", name, nullptr, kMaxTextSize);
    UP_XmlHelper::GetChildText(element, "direction", direction, nullptr, kMaxTextSize);
    UP_XmlHelper::GetChildText(element, "relatedStateVariable", related, nullptr, kMaxTextSize);
    if (name.IsEmpty() || direction.IsEmpty() || related.IsEmpty()) {
        UP_SCPD_REFUSE("Invalid argument for action %s", action->GetName().GetChars());
    }
    UP_StateVariable* variable = FindStateVariable(related.GetChars());
    if (variable == nullptr) {
        UP_SCPD_REFUSE("State variable not found %s", related.GetChars());
    }
    // Documents spell the marker "retval"; some write "retVal".
    bool is_return = UP_XmlHelper::GetChildElement(element, "retval") != nullptr ||
                     UP_XmlHelper::GetChildElement(element, "retVal") != nullptr;
    if (is_return) {
        if (return_found) {
            UP_SCPD_REFUSE("Return argument already found");
        }
        return_found = true;
    }
    auto* desc = new (std::nothrow)
        UP_ArgumentDesc(name.GetChars(), position, direction.GetChars(), variable, is_return);
    KL_CHECK_POINTER_SEVERE(desc);
    return action->AddArgumentDesc(desc);
}
