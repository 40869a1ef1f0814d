// UP_XmlHelper: static helpers over the keel XML tree shared by the description, SCPD, SOAP and
// DIDL code: child and attribute look-ups, attribute edits, text children and serialisation.
//
// Namespace arguments of the look-ups (unless said otherwise): null = no constraint, "" = the
// namespace of the element searched in, "*" = any namespace, any other text = that URI.
#pragma once

#include "KL_Array.h"
#include "KL_Result.h"
#include "KL_String.h"
#include "KL_Types.h"

#include <cstdint>

class KL_XmlAttribute;
class KL_XmlElementNode;
class KL_XmlNode;

class UP_XmlHelper {
public:
    // The first child element with that tag (and namespace), or null.
    static KL_XmlElementNode* GetChildElement(const KL_XmlElementNode* element, const char* tag,
                                              const char* namespc = nullptr);
    // Clears text; -1 for a null element or a missing child; otherwise the child's text cut to
    // max_size characters (0: no limit) and 0.
    static KL_Result GetChildText(const KL_XmlElementNode* element, const char* tag, KL_String& text,
                                  const char* namespc = nullptr, KL_Size max_size = 0);
    // Appends every child element with exactly that tag whose namespace matches: "*" or null any,
    // "" only an element without namespace, else that URI. -1 for a null element.
    static KL_Result GetChildren(const KL_XmlElementNode* element, KL_Array<KL_XmlElementNode*>& children,
                                 const char* tag, const char* namespc = nullptr);
    // The first attribute of that name; with a namespace its prefix must resolve to that URI
    // (no prefix matches ""). -1 when none.
    static KL_Result FindAttribute(const KL_XmlElementNode* element, const char* name,
                                   KL_XmlAttribute*& attribute, const char* namespc = nullptr);
    // The value cut to max_length characters (0: no limit); -1 when absent.
    static KL_Result GetAttribute(const KL_XmlElementNode* element, const char* name, KL_String& value,
                                  const char* namespc = nullptr, KL_Size max_length = 0);
    // Changes an existing attribute; -1 when absent.
    static KL_Result SetAttribute(KL_XmlElementNode* element, const char* name, const char* value,
                                  const char* namespc = nullptr);
    // -1 when absent.
    static KL_Result RemoveAttribute(KL_XmlElementNode* element, const char* name,
                                     const char* namespc = nullptr);
    // Appends a new, empty child element and hands it out; null for a null parent or on failure.
    static KL_XmlElementNode* AddChildElement(KL_XmlElementNode* parent, const char* tag,
                                              const char* prefix = "");
    // Appends a new child element holding the text (also an empty one); -1 for a null parent.
    static KL_Result AddChildText(KL_XmlElementNode* parent, const char* name, const char* text,
                                  const char* prefix = nullptr);
    // The concatenated text children of an element (empty for null).
    static KL_String GetText(const KL_XmlElementNode* element);
    // Serialises through a string output stream: indentation 0 writes no line breaks.
    static KL_Result Serialize(const KL_XmlNode& node, KL_String& text, bool add_xml_decl = false,
                               uint32_t indentation = 0);
    // As above; an empty text (and a warning in the log) on failure.
    static KL_String Serialize(const KL_XmlNode& node, bool add_xml_decl = false, uint32_t indentation = 0);
};
