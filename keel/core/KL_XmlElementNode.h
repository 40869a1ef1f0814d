// KL_XmlElementNode: an element of an XML tree. It owns its children, attributes and namespace
// map; the namespace scope is found through m_NamespaceParent, the nearest ancestor element
// that binds prefixes.
//
// Namespace arguments of the look-ups: null or "" matches only nodes without a namespace, "*"
// matches any, any other text must equal the namespace URI.
//
// Trees may be arbitrarily deep when built by hand: freeing one and re-pointing namespace
// scopes never recurse.
#pragma once

#include "KL_List.h"
#include "KL_Result.h"
#include "KL_String.h"
#include "KL_XmlAttribute.h"
#include "KL_XmlNamespaceMap.h"
#include "KL_XmlNode.h"
#include "KL_XmlTextNode.h"

#include <cstdint>

class KL_XmlElementNode : public KL_XmlNode {
public:
    // The fixed URI of the "xml" prefix.
    static const KL_String XmlNamespaceUri;

    KL_XmlElementNode(const char* prefix, const char* tag);
    // The qualified tag is split at its first ":".
    explicit KL_XmlElementNode(const char* qualified_tag);
    ~KL_XmlElementNode() override;

    KL_XmlElementNode* AsElementNode() override { return this; }
    const KL_XmlElementNode* AsElementNode() const override { return this; }
    void SetParent(KL_XmlNode* parent) override;

    // Takes ownership of the child; KL_ERROR_INVALID_PARAMETERS for null.
    KL_Result AddChild(KL_XmlNode* child);
    // The n-th (0-based) child element with that tag whose namespace matches, or null.
    KL_XmlElementNode* GetChild(const char* tag, const char* namespc = nullptr, uint32_t n = 0) const;
    // The text of the n-th text child, or null.
    const KL_String* GetText(uint32_t n = 0) const;
    KL_Result AddText(const char* text);

    // Appends without looking for an existing attribute of that name.
    KL_Result AddAttribute(const char* qualified_name, const char* value);
    // Replaces the value of an attribute with the same prefix and name, else appends one.
    KL_Result SetAttribute(const char* prefix, const char* name, const char* value);
    KL_Result SetAttribute(const char* name, const char* value);
    // The value of the first attribute with that name whose namespace matches, or null.
    const KL_String* GetAttribute(const char* name, const char* namespc = nullptr) const;

    // The URI bound to the element's own prefix (the default namespace when it has none).
    const KL_String* GetNamespace() const;
    // The URI bound to a prefix in scope; null when unbound or bound to "".
    const KL_String* GetNamespaceUri(const char* prefix) const;
    KL_Result SetNamespaceUri(const char* prefix, const char* uri);
    // The first prefix of the nearest namespace map that is bound to the URI, or null.
    const KL_String* GetNamespacePrefix(const char* uri) const;

    const KL_String& GetPrefix() const { return m_Prefix; }
    const KL_String& GetTag() const { return m_Tag; }
    const KL_List<KL_XmlNode*>& GetChildren() const { return m_Children; }
    const KL_List<KL_XmlAttribute*>& GetAttributes() const { return m_Attributes; }
    const KL_XmlNamespaceMap* GetNamespaceMap() const { return m_NamespaceMap; }
    const KL_XmlElementNode* GetNamespaceParent() const { return m_NamespaceParent; }

private:
    // Re-points the namespace parent of every descendant element below this one.
    void RelinkNamespaceParents();

    KL_String m_Prefix;
    KL_String m_Tag;
    KL_List<KL_XmlNode*> m_Children;
    KL_List<KL_XmlAttribute*> m_Attributes;
    KL_XmlNamespaceMap* m_NamespaceMap = nullptr;
    KL_XmlElementNode* m_NamespaceParent = nullptr;
};
