#include "UP_XmlHelper.h"

#include "KL_Check.h"
#include "KL_StringOutputStream.h"
#include "KL_XmlAttribute.h"
#include "KL_XmlElementNode.h"
#include "KL_XmlTextNode.h"
#include "KL_XmlWriter.h"

#include <cstring>

KL_SET_LOCAL_LOGGER("upnp.core.xml");

namespace {

// Translates a helper namespace argument into the element node's form (null/"" = none, "*" = any).
const char* ResolveNamespace(const KL_XmlElementNode* element, const char* namespc) {
    if (namespc == nullptr) {
        return "*";
    }
    if (*namespc == '\0') {
        const KL_String* uri = element->GetNamespace();
        return uri != nullptr ? uri->GetChars() : nullptr;
    }
    return namespc;
}

bool AttributeNamespaceMatches(const KL_XmlElementNode* element, const KL_XmlAttribute* attribute,
                               const char* namespc) {
    if (namespc == nullptr || std::strcmp(namespc, "*") == 0) {
        return true;
    }
    if (attribute->GetPrefix().IsEmpty()) {
        return *namespc == '\0';
    }
    const KL_String* uri = element->GetNamespaceUri(attribute->GetPrefix().GetChars());
    return uri != nullptr && std::strcmp(uri->GetChars(), namespc) == 0;
}

} // namespace

KL_XmlElementNode* UP_XmlHelper::GetChildElement(const KL_XmlElementNode* element, const char* tag,
                                                 const char* namespc) {
    if (element == nullptr || tag == nullptr) {
        return nullptr;
    }
    return element->GetChild(tag, ResolveNamespace(element, namespc));
}

KL_String UP_XmlHelper::GetText(const KL_XmlElementNode* element) {
    KL_String text;
    if (element == nullptr) {
        return text;
    }
    for (const KL_XmlNode* child : element->GetChildren()) {
        if (const KL_XmlTextNode* node = child->AsTextNode()) {
            text += node->GetString();
        }
    }
    return text;
}

KL_Result UP_XmlHelper::GetChildText(const KL_XmlElementNode* element, const char* tag, KL_String& text,
                                     const char* namespc, KL_Size max_size) {
    text = "";
    const KL_XmlElementNode* child = GetChildElement(element, tag, namespc);
    if (child == nullptr) {
        return KL_FAILURE;
    }
    text = GetText(child);
    if (max_size != 0 && text.GetLength() > max_size) {
        text = text.Left(max_size);
    }
    return KL_SUCCESS;
}

KL_Result UP_XmlHelper::GetChildren(const KL_XmlElementNode* element, KL_Array<KL_XmlElementNode*>& children,
                                    const char* tag, const char* namespc) {
    if (element == nullptr) {
        return KL_FAILURE;
    }
    bool any = namespc == nullptr || std::strcmp(namespc, "*") == 0;
    for (KL_XmlNode* node : element->GetChildren()) {
        KL_XmlElementNode* child = node->AsElementNode();
        if (child == nullptr || tag == nullptr || child->GetTag() != tag) {
            continue;
        }
        if (!any) {
            const KL_String* uri = child->GetNamespace();
            bool matches =
                *namespc == '\0' ? (uri == nullptr || uri->IsEmpty()) : (uri != nullptr && *uri == namespc);
            if (!matches) {
                continue;
            }
        }
        KL_CHECK(children.Add(child));
    }
    return KL_SUCCESS;
}

KL_Result UP_XmlHelper::FindAttribute(const KL_XmlElementNode* element, const char* name,
                                      KL_XmlAttribute*& attribute, const char* namespc) {
    attribute = nullptr;
    if (element == nullptr || name == nullptr) {
        return KL_FAILURE;
    }
    for (KL_XmlAttribute* candidate : element->GetAttributes()) {
        if (candidate->GetName() == name && AttributeNamespaceMatches(element, candidate, namespc)) {
            attribute = candidate;
            return KL_SUCCESS;
        }
    }
    return KL_FAILURE;
}

KL_Result UP_XmlHelper::GetAttribute(const KL_XmlElementNode* element, const char* name, KL_String& value,
                                     const char* namespc, KL_Size max_length) {
    KL_XmlAttribute* attribute = nullptr;
    if (KL_FAILED(FindAttribute(element, name, attribute, namespc))) {
        return KL_FAILURE;
    }
    value = attribute->GetValue();
    if (max_length != 0 && value.GetLength() > max_length) {
        value = value.Left(max_length);
    }
    return KL_SUCCESS;
}

KL_Result UP_XmlHelper::SetAttribute(KL_XmlElementNode* element, const char* name, const char* value,
                                     const char* namespc) {
    KL_XmlAttribute* attribute = nullptr;
    if (KL_FAILED(FindAttribute(element, name, attribute, namespc))) {
        return KL_FAILURE;
    }
    attribute->SetValue(value ? value : "");
    return KL_SUCCESS;
}

KL_Result UP_XmlHelper::RemoveAttribute(KL_XmlElementNode* element, const char* name, const char* namespc) {
    KL_XmlAttribute* attribute = nullptr;
    if (KL_FAILED(FindAttribute(element, name, attribute, namespc))) {
        return KL_FAILURE;
    }
    // The element owns its attribute records; the list is only exposed read-only.
    auto& attributes = const_cast<KL_List<KL_XmlAttribute*>&>(element->GetAttributes());
    KL_CHECK(attributes.Remove(attribute));
    delete attribute;
    return KL_SUCCESS;
}

KL_XmlElementNode* UP_XmlHelper::AddChildElement(KL_XmlElementNode* parent, const char* tag,
                                                 const char* prefix) {
    if (parent == nullptr) {
        return nullptr;
    }
    auto* element = new (std::nothrow) KL_XmlElementNode(prefix, tag);
    if (element != nullptr && KL_FAILED(parent->AddChild(element))) {
        delete element;
        element = nullptr;
    }
    return element;
}

KL_Result UP_XmlHelper::AddChildText(KL_XmlElementNode* parent, const char* name, const char* text,
                                     const char* prefix) {
    if (parent == nullptr || name == nullptr) {
        return KL_FAILURE;
    }
    auto* child = new (std::nothrow) KL_XmlElementNode(prefix ? prefix : "", name);
    if (child == nullptr) {
        return KL_ERROR_OUT_OF_MEMORY;
    }
    KL_Result result = child->AddText(text ? text : "");
    if (KL_SUCCEEDED(result)) {
        result = parent->AddChild(child);
    }
    if (KL_FAILED(result)) {
        delete child;
    }
    return result;
}

KL_Result UP_XmlHelper::Serialize(const KL_XmlNode& node, KL_String& text, bool add_xml_decl,
                                  uint32_t indentation) {
    text = "";
    KL_String buffer;
    KL_StringOutputStream stream(&buffer);
    KL_XmlWriter writer(indentation);
    KL_CHECK_SEVERE(writer.Serialize(node, stream, add_xml_decl));
    text = buffer;
    return KL_SUCCESS;
}

KL_String UP_XmlHelper::Serialize(const KL_XmlNode& node, bool add_xml_decl, uint32_t indentation) {
    KL_String text;
    if (KL_FAILED(Serialize(node, text, add_xml_decl, indentation))) {
        KL_LOG_WARNING("Failed to serialize xml node");
        return KL_String();
    }
    return text;
}
