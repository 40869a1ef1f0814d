// KL_XmlTextNode: character data of an element, entities already decoded.
#pragma once

#include "KL_String.h"
#include "KL_XmlNode.h"

class KL_XmlTextNode : public KL_XmlNode {
public:
    explicit KL_XmlTextNode(const KL_String& text) : KL_XmlNode(TEXT), m_Text(text) {}
    explicit KL_XmlTextNode(const char* text) : KL_XmlNode(TEXT), m_Text(text) {}
    ~KL_XmlTextNode() override = default;

    KL_XmlTextNode* AsTextNode() override { return this; }
    const KL_XmlTextNode* AsTextNode() const override { return this; }

    const KL_String& GetString() const { return m_Text; }
    void SetString(const char* text) { m_Text = text; }

private:
    KL_String m_Text;
};
