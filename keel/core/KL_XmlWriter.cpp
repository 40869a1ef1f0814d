#include "KL_XmlWriter.h"

#include "KL_Array.h"
#include "KL_Check.h"
#include "KL_XmlElementNode.h"
#include "KL_XmlSerializer.h"

KL_SET_LOCAL_LOGGER("keel.xml");

namespace {

// An element whose start tag is written, with the next child to write.
struct OpenElement {
    const KL_XmlElementNode* element = nullptr;
    KL_List<KL_XmlNode*>::Iterator next;
};

KL_Result WriteStartTag(KL_XmlSerializer& serializer, const KL_XmlElementNode& element) {
    KL_CHECK(serializer.StartElement(element.GetPrefix().GetChars(), element.GetTag().GetChars()));
    for (const KL_XmlAttribute* attribute : element.GetAttributes()) {
        KL_CHECK(serializer.Attribute(attribute->GetPrefix().GetChars(), attribute->GetName().GetChars(),
                                      attribute->GetValue().GetChars()));
    }
    if (element.GetNamespaceMap() != nullptr) {
        for (const KL_XmlNamespaceMap::Entry* entry : element.GetNamespaceMap()->GetEntries()) {
            const KL_String& prefix = entry->GetPrefix();
            if (prefix.IsEmpty()) {
                KL_CHECK(serializer.Attribute(nullptr, "xmlns", entry->GetUri().GetChars()));
            } else {
                KL_CHECK(serializer.Attribute("xmlns", prefix.GetChars(), entry->GetUri().GetChars()));
            }
        }
    }
    return KL_SUCCESS;
}

KL_Result WriteEndTag(KL_XmlSerializer& serializer, const KL_XmlElementNode& element) {
    return serializer.EndElement(element.GetPrefix().GetChars(), element.GetTag().GetChars());
}

} // namespace

KL_Result KL_XmlWriter::Serialize(const KL_XmlNode& node, KL_OutputStream& stream, bool add_xml_decl) {
    KL_XmlSerializer serializer(&stream, m_Indentation, true, add_xml_decl);
    KL_CHECK(serializer.StartDocument());
    const KL_XmlElementNode* root = node.AsElementNode();
    if (root == nullptr) {
        const KL_XmlTextNode* text = node.AsTextNode();
        KL_CHECK(serializer.Text(text ? text->GetString().GetChars() : ""));
        return serializer.EndDocument();
    }
    KL_Array<OpenElement> open;
    KL_CHECK(WriteStartTag(serializer, *root));
    KL_CHECK(open.Add(OpenElement{root, root->GetChildren().GetFirstItem()}));
    while (!open.IsEmpty()) {
        OpenElement& top = open[open.GetItemCount() - 1];
        if (!top.next) {
            KL_CHECK(WriteEndTag(serializer, *top.element));
            KL_CHECK(open.Erase(open.GetItemCount() - 1));
            continue;
        }
        const KL_XmlNode* child = *top.next;
        ++top.next;
        if (const KL_XmlElementNode* element = child->AsElementNode()) {
            KL_CHECK(WriteStartTag(serializer, *element));
            KL_CHECK(open.Add(OpenElement{element, element->GetChildren().GetFirstItem()}));
        } else if (const KL_XmlTextNode* text = child->AsTextNode()) {
            KL_CHECK(serializer.Text(text->GetString().GetChars()));
        }
    }
    return serializer.EndDocument();
}
