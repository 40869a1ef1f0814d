#include "KL_XmlCanonicalWriter.h"

#include "KL_Array.h"
#include "KL_Check.h"
#include "KL_XmlElementNode.h"
#include "KL_XmlSerializer.h"

#include <algorithm>
#include <cstring>

KL_SET_LOCAL_LOGGER("keel.xml");

namespace {

struct Binding {
    KL_String prefix;
    KL_String uri;
};

using Bindings = KL_Array<Binding>;

// The default namespace (empty prefix) sorts first, then prefixes in ascending byte order.
bool BindingBefore(const Binding& a, const Binding& b) {
    return std::strcmp(a.prefix.GetChars(), b.prefix.GetChars()) < 0;
}

const Binding* FindBinding(const Bindings& bindings, const KL_String& prefix) {
    for (const Binding& binding : bindings) {
        if (binding.prefix == prefix) {
            return &binding;
        }
    }
    return nullptr;
}

// Every binding in scope of the element, the nearest declaration of each prefix winning.
KL_Result InScopeBindings(const KL_XmlElementNode& element, Bindings& out) {
    const KL_XmlElementNode* scope = element.GetNamespaceMap() ? &element : element.GetNamespaceParent();
    for (; scope != nullptr; scope = scope->GetNamespaceParent()) {
        for (const KL_XmlNamespaceMap::Entry* entry : scope->GetNamespaceMap()->GetEntries()) {
            if (FindBinding(out, entry->GetPrefix()) == nullptr) {
                KL_CHECK(out.Add(Binding{entry->GetPrefix(), entry->GetUri()}));
            }
        }
    }
    return KL_SUCCESS;
}

// Writes the bindings that differ from those rendered above and records them in rendered.
KL_Result WriteNamespaces(KL_XmlSerializer& serializer, const KL_XmlElementNode& element,
                          Bindings& rendered) {
    Bindings scope;
    KL_CHECK(InScopeBindings(element, scope));
    std::sort(scope.begin(), scope.end(), BindingBefore);
    for (const Binding& binding : scope) {
        if (binding.prefix == "xml" && binding.uri == KL_XmlElementNode::XmlNamespaceUri) {
            continue;
        }
        const Binding* above = FindBinding(rendered, binding.prefix);
        if (above != nullptr ? above->uri == binding.uri : binding.uri.IsEmpty()) {
            continue;
        }
        if (binding.prefix.IsEmpty()) {
            KL_CHECK(serializer.Attribute(nullptr, "xmlns", binding.uri.GetChars()));
        } else {
            KL_CHECK(serializer.Attribute("xmlns", binding.prefix.GetChars(), binding.uri.GetChars()));
        }
        if (above != nullptr) {
            const_cast<Binding*>(above)->uri = binding.uri;
        } else {
            KL_CHECK(rendered.Add(binding));
        }
    }
    return KL_SUCCESS;
}

struct SortedAttribute {
    const KL_XmlAttribute* attribute;
    const KL_String* uri; // null for an unprefixed attribute
};

bool AttributeBefore(const SortedAttribute& a, const SortedAttribute& b) {
    if ((a.uri == nullptr) != (b.uri == nullptr)) {
        return a.uri == nullptr;
    }
    if (a.uri != nullptr) {
        int order = std::strcmp(a.uri->GetChars(), b.uri->GetChars());
        if (order != 0) {
            return order < 0;
        }
    }
    return std::strcmp(a.attribute->GetName().GetChars(), b.attribute->GetName().GetChars()) < 0;
}

KL_Result WriteAttributes(KL_XmlSerializer& serializer, const KL_XmlElementNode& element) {
    KL_Array<SortedAttribute> sorted;
    for (const KL_XmlAttribute* attribute : element.GetAttributes()) {
        const KL_String* uri = nullptr;
        if (!attribute->GetPrefix().IsEmpty()) {
            uri = element.GetNamespaceUri(attribute->GetPrefix().GetChars());
            if (uri == nullptr) {
                continue;
            }
        }
        KL_CHECK(sorted.Add(SortedAttribute{attribute, uri}));
    }
    std::stable_sort(sorted.begin(), sorted.end(), AttributeBefore);
    for (const SortedAttribute& item : sorted) {
        const KL_XmlAttribute* attribute = item.attribute;
        KL_CHECK(serializer.Attribute(attribute->GetPrefix().GetChars(), attribute->GetName().GetChars(),
                                      attribute->GetValue().GetChars()));
    }
    return KL_SUCCESS;
}

struct CanonicalFrame {
    const KL_XmlElementNode* element = nullptr;
    KL_List<KL_XmlNode*>::Iterator next;
    Bindings rendered; // the bindings in force for this element's children
};

KL_Result OpenElement(KL_XmlSerializer& serializer, const KL_XmlElementNode& element, const Bindings& above,
                      KL_Array<CanonicalFrame>& open) {
    CanonicalFrame frame;
    frame.element = &element;
    frame.next = element.GetChildren().GetFirstItem();
    KL_CHECK(frame.rendered.Assign(above));
    KL_CHECK(serializer.StartElement(element.GetPrefix().GetChars(), element.GetTag().GetChars()));
    KL_CHECK(WriteNamespaces(serializer, element, frame.rendered));
    KL_CHECK(WriteAttributes(serializer, element));
    return open.Add(frame);
}

// True when a map of the element or of an ancestor up to the top binds the prefix.
bool BoundInside(const KL_XmlElementNode& element, const KL_XmlElementNode& top, const char* prefix) {
    for (const KL_XmlNode* node = &element; node != nullptr; node = node->GetParent()) {
        const KL_XmlElementNode* scope = node->AsElementNode();
        if (scope != nullptr && scope->GetNamespaceMap() != nullptr &&
            scope->GetNamespaceMap()->GetNamespaceUri(prefix) != nullptr) {
            return true;
        }
        if (node == &top) {
            break;
        }
    }
    return false;
}

KL_Result CollectPrefix(KL_XmlElementNode& top, const KL_XmlElementNode& element, const char* prefix) {
    if (std::strcmp(prefix, "xml") == 0 || BoundInside(element, top, prefix)) {
        return KL_SUCCESS;
    }
    const KL_String* uri = top.GetNamespaceUri(prefix);
    return uri != nullptr ? top.SetNamespaceUri(prefix, uri->GetChars()) : KL_SUCCESS;
}

KL_Result CollectElement(KL_XmlElementNode& top, const KL_XmlElementNode& element) {
    KL_CHECK(CollectPrefix(top, element, element.GetPrefix().GetChars()));
    for (const KL_XmlAttribute* attribute : element.GetAttributes()) {
        if (!attribute->GetPrefix().IsEmpty()) {
            KL_CHECK(CollectPrefix(top, element, attribute->GetPrefix().GetChars()));
        }
    }
    return KL_SUCCESS;
}

} // namespace

KL_Result KL_XmlCanonicalWriter::Serialize(const KL_XmlElementNode& element, KL_OutputStream& stream) {
    KL_XmlSerializer serializer(&stream, 0, false, false);
    KL_Array<CanonicalFrame> open;
    KL_CHECK(OpenElement(serializer, element, Bindings(), open));
    while (!open.IsEmpty()) {
        CanonicalFrame& top = open[open.GetItemCount() - 1];
        if (!top.next) {
            KL_CHECK(
                serializer.EndElement(top.element->GetPrefix().GetChars(), top.element->GetTag().GetChars()));
            KL_CHECK(open.Erase(open.GetItemCount() - 1));
            continue;
        }
        const KL_XmlNode* child = *top.next;
        ++top.next;
        if (const KL_XmlElementNode* child_element = child->AsElementNode()) {
            Bindings above;
            KL_CHECK(above.Assign(top.rendered));
            KL_CHECK(OpenElement(serializer, *child_element, above, open));
        } else if (const KL_XmlTextNode* text = child->AsTextNode()) {
            KL_CHECK(serializer.Text(text->GetString().GetChars()));
        }
    }
    return serializer.EndDocument();
}

KL_Result KL_XmlCanonicalWriter::CollectNamespaces(KL_XmlElementNode& top) {
    KL_Array<KL_List<KL_XmlNode*>::Iterator> open;
    KL_CHECK(CollectElement(top, top));
    KL_CHECK(open.Add(top.GetChildren().GetFirstItem()));
    while (!open.IsEmpty()) {
        KL_List<KL_XmlNode*>::Iterator& next = open[open.GetItemCount() - 1];
        if (!next) {
            KL_CHECK(open.Erase(open.GetItemCount() - 1));
            continue;
        }
        const KL_XmlElementNode* element = (*next)->AsElementNode();
        ++next;
        if (element != nullptr) {
            KL_CHECK(CollectElement(top, *element));
            KL_CHECK(open.Add(element->GetChildren().GetFirstItem()));
        }
    }
    return KL_SUCCESS;
}
