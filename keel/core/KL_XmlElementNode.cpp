#include "KL_XmlElementNode.h"

#include "KL_Check.h"

#include <cstring>
#include <new>

KL_SET_LOCAL_LOGGER("keel.xml");

const KL_String KL_XmlElementNode::XmlNamespaceUri("http://www.w3.org/XML/1998/namespace");

namespace {

bool IsEmptyText(const char* text) {
    return text == nullptr || text[0] == 0;
}

bool IsAny(const char* namespc) {
    return namespc != nullptr && std::strcmp(namespc, "*") == 0;
}

// Adds a newly made attribute (null when out of memory), which the list then owns.
KL_Result AddNewAttribute(KL_List<KL_XmlAttribute*>& attributes, KL_XmlAttribute* attribute) {
    if (attribute == nullptr) {
        return KL_ERROR_OUT_OF_MEMORY;
    }
    KL_Result result = attributes.Add(attribute);
    if (KL_FAILED(result)) {
        delete attribute;
    }
    return result;
}

} // namespace

KL_XmlElementNode::KL_XmlElementNode(const char* prefix, const char* tag)
    : KL_XmlNode(ELEMENT), m_Prefix(prefix), m_Tag(tag) {}

KL_XmlElementNode::KL_XmlElementNode(const char* qualified_tag) : KL_XmlNode(ELEMENT) {
    const char* colon = qualified_tag ? std::strchr(qualified_tag, ':') : nullptr;
    if (colon == nullptr) {
        m_Tag = qualified_tag;
    } else {
        m_Prefix = KL_String(qualified_tag, static_cast<KL_Size>(colon - qualified_tag));
        m_Tag = colon + 1;
    }
}

// Frees the sub-tree without recursion: descend to an element whose first child is a leaf,
// delete leaves one by one, and climb back through the parent pointers.
KL_XmlElementNode::~KL_XmlElementNode() {
    for (KL_XmlAttribute* attribute : m_Attributes) {
        delete attribute;
    }
    m_Attributes.Clear();
    delete m_NamespaceMap;
    KL_XmlElementNode* current = this;
    for (;;) {
        KL_XmlNode* first = current->m_Children.IsEmpty() ? nullptr : *current->m_Children.GetFirstItem();
        if (first != nullptr) {
            KL_XmlElementNode* element = first->AsElementNode();
            if (element != nullptr && !element->m_Children.IsEmpty()) {
                current = element;
                continue;
            }
            (void)current->m_Children.PopHead(first);
            delete first;
            continue;
        }
        if (current == this) {
            break;
        }
        KL_XmlElementNode* parent = current->m_Parent->AsElementNode();
        KL_XmlNode* done = nullptr;
        (void)parent->m_Children.PopHead(done);
        delete done;
        current = parent;
    }
}

void KL_XmlElementNode::SetParent(KL_XmlNode* parent) {
    m_Parent = parent;
    KL_XmlElementNode* element = parent ? parent->AsElementNode() : nullptr;
    KL_XmlElementNode* scope = nullptr;
    if (element != nullptr) {
        scope = element->m_NamespaceMap ? element : element->m_NamespaceParent;
    }
    if (scope != m_NamespaceParent) {
        m_NamespaceParent = scope;
        RelinkNamespaceParents();
    }
}

// Walks the elements below this one breadth first, without recursion; an element with a map
// of its own is the scope of everything below it, so the walk stops there.
void KL_XmlElementNode::RelinkNamespaceParents() {
    KL_List<KL_XmlElementNode*> pending;
    KL_XmlElementNode* element = this;
    do {
        KL_XmlElementNode* scope = element->m_NamespaceMap ? element : element->m_NamespaceParent;
        for (KL_XmlNode* child : element->m_Children) {
            KL_XmlElementNode* child_element = child->AsElementNode();
            if (child_element == nullptr) {
                continue;
            }
            child_element->m_NamespaceParent = scope;
            if (child_element->m_NamespaceMap == nullptr && !child_element->m_Children.IsEmpty() &&
                KL_FAILED(pending.Add(child_element))) {
                KL_LOG_SEVERE("namespace scopes of a sub-tree not updated: out of memory");
                return;
            }
        }
    } while (KL_SUCCEEDED(pending.PopHead(element)));
}

KL_Result KL_XmlElementNode::AddChild(KL_XmlNode* child) {
    KL_CHECK_POINTER(child);
    child->SetParent(this);
    return m_Children.Add(child);
}

KL_XmlElementNode* KL_XmlElementNode::GetChild(const char* tag, const char* namespc, uint32_t n) const {
    if (tag == nullptr) {
        return nullptr;
    }
    for (KL_XmlNode* child : m_Children) {
        KL_XmlElementNode* element = child->AsElementNode();
        if (element == nullptr || std::strcmp(element->m_Tag.GetChars(), tag) != 0) {
            continue;
        }
        if (!IsAny(namespc)) {
            const KL_String* uri = element->GetNamespace();
            bool matches = IsEmptyText(namespc)
                               ? uri == nullptr
                               : uri != nullptr && std::strcmp(uri->GetChars(), namespc) == 0;
            if (!matches) {
                continue;
            }
        }
        if (n-- == 0) {
            return element;
        }
    }
    return nullptr;
}

const KL_String* KL_XmlElementNode::GetText(uint32_t n) const {
    for (KL_XmlNode* child : m_Children) {
        KL_XmlTextNode* text = child->AsTextNode();
        if (text != nullptr && n-- == 0) {
            return &text->GetString();
        }
    }
    return nullptr;
}

KL_Result KL_XmlElementNode::AddText(const char* text) {
    auto* node = new (std::nothrow) KL_XmlTextNode(text);
    if (node == nullptr) {
        return KL_ERROR_OUT_OF_MEMORY;
    }
    KL_Result result = AddChild(node);
    if (KL_FAILED(result)) {
        delete node;
    }
    return result;
}

KL_Result KL_XmlElementNode::AddAttribute(const char* qualified_name, const char* value) {
    KL_CHECK_POINTER(qualified_name);
    KL_CHECK_POINTER(value);
    return AddNewAttribute(m_Attributes, new (std::nothrow) KL_XmlAttribute(qualified_name, value));
}

KL_Result KL_XmlElementNode::SetAttribute(const char* prefix, const char* name, const char* value) {
    KL_CHECK_POINTER(name);
    KL_CHECK_POINTER(value);
    const char* wanted_prefix = prefix ? prefix : "";
    for (KL_XmlAttribute* attribute : m_Attributes) {
        if (std::strcmp(attribute->GetName().GetChars(), name) == 0 &&
            std::strcmp(attribute->GetPrefix().GetChars(), wanted_prefix) == 0) {
            attribute->SetValue(value);
            return KL_SUCCESS;
        }
    }
    return AddNewAttribute(m_Attributes, new (std::nothrow) KL_XmlAttribute(wanted_prefix, name, value));
}

KL_Result KL_XmlElementNode::SetAttribute(const char* name, const char* value) {
    return SetAttribute(nullptr, name, value);
}

const KL_String* KL_XmlElementNode::GetAttribute(const char* name, const char* namespc) const {
    if (name == nullptr) {
        return nullptr;
    }
    for (const KL_XmlAttribute* attribute : m_Attributes) {
        if (std::strcmp(attribute->GetName().GetChars(), name) != 0) {
            continue;
        }
        const KL_String& prefix = attribute->GetPrefix();
        bool matches = IsAny(namespc);
        if (!matches && IsEmptyText(namespc)) {
            matches = prefix.IsEmpty();
        } else if (!matches && !prefix.IsEmpty()) {
            const KL_String* uri = GetNamespaceUri(prefix.GetChars());
            matches = uri != nullptr && std::strcmp(uri->GetChars(), namespc) == 0;
        }
        if (matches) {
            return &attribute->GetValue();
        }
    }
    return nullptr;
}

const KL_String* KL_XmlElementNode::GetNamespace() const {
    return GetNamespaceUri(m_Prefix.GetChars());
}

const KL_String* KL_XmlElementNode::GetNamespaceUri(const char* prefix) const {
    const char* wanted = prefix ? prefix : "";
    for (const KL_XmlElementNode* element = m_NamespaceMap ? this : m_NamespaceParent; element != nullptr;
         element = element->m_NamespaceParent) {
        const KL_String* uri = element->m_NamespaceMap->GetNamespaceUri(wanted);
        if (uri != nullptr) {
            return uri->IsEmpty() ? nullptr : uri;
        }
    }
    return std::strcmp(wanted, "xml") == 0 ? &XmlNamespaceUri : nullptr;
}

KL_Result KL_XmlElementNode::SetNamespaceUri(const char* prefix, const char* uri) {
    if (m_NamespaceMap == nullptr) {
        m_NamespaceMap = new (std::nothrow) KL_XmlNamespaceMap();
        if (m_NamespaceMap == nullptr) {
            return KL_ERROR_OUT_OF_MEMORY;
        }
        RelinkNamespaceParents();
    }
    return m_NamespaceMap->SetNamespaceUri(prefix, uri);
}

const KL_String* KL_XmlElementNode::GetNamespacePrefix(const char* uri) const {
    const KL_XmlElementNode* element = m_NamespaceMap ? this : m_NamespaceParent;
    return element ? element->m_NamespaceMap->GetNamespacePrefix(uri) : nullptr;
}
