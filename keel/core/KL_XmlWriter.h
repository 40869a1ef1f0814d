// KL_XmlWriter: writes an element tree (or a single text node) as XML text. Namespace
// declarations of an element follow its ordinary attributes; childless elements take the short
// form "/>"; with indentation 0 the output has no line breaks. Deep trees are walked without
// recursion.
#pragma once

#include "KL_Result.h"

#include <cstdint>

class KL_OutputStream;
class KL_XmlNode;

class KL_XmlWriter {
public:
    explicit KL_XmlWriter(uint32_t indentation = 0) : m_Indentation(indentation) {}

    // With add_xml_decl the declaration line comes first.
    [[nodiscard]] KL_Result Serialize(const KL_XmlNode& node, KL_OutputStream& stream,
                                      bool add_xml_decl = false);

private:
    uint32_t m_Indentation;
};
