// KL_XmlNode: the common base of the nodes of an XML element tree (elements and text).
#pragma once

#include <cstdint>

class KL_XmlElementNode;
class KL_XmlTextNode;

class KL_XmlNode {
public:
    enum Type : int32_t {
        ELEMENT = 1,
        TEXT = 2,
    };

    KL_XmlNode(const KL_XmlNode&) = delete;
    KL_XmlNode& operator=(const KL_XmlNode&) = delete;
    virtual ~KL_XmlNode() = default;

    // The node itself when it is of that kind, else null.
    virtual KL_XmlElementNode* AsElementNode() { return nullptr; }
    virtual const KL_XmlElementNode* AsElementNode() const { return nullptr; }
    virtual KL_XmlTextNode* AsTextNode() { return nullptr; }
    virtual const KL_XmlTextNode* AsTextNode() const { return nullptr; }
    // Stores the parent (not owned); an element also follows its namespace scope.
    virtual void SetParent(KL_XmlNode* parent) { m_Parent = parent; }

    Type GetType() const { return m_Type; }
    KL_XmlNode* GetParent() const { return m_Parent; }

protected:
    explicit KL_XmlNode(Type type) : m_Type(type) {}

    Type m_Type;
    KL_XmlNode* m_Parent = nullptr;
};
