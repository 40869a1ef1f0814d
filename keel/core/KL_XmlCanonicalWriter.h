// KL_XmlCanonicalWriter: writes an element tree in canonical form: no indentation, no short
// form for empty elements, and on each element only the namespace bindings that differ from
// those already written above it (never "xml" bound to its fixed URI), default namespace first
// and then by prefix; then the unprefixed attributes by name, then the prefixed ones by
// namespace URI and local name (an attribute whose prefix is bound to nothing is left out).
//
// CollectNamespaces prepares a sub-tree for being written on its own: it binds on the
// sub-tree's top element every prefix that an element or attribute below needs from outside.
//
// Both walk the tree without recursion.
#pragma once

#include "KL_Result.h"

class KL_OutputStream;
class KL_XmlElementNode;

class KL_XmlCanonicalWriter {
public:
    [[nodiscard]] KL_Result Serialize(const KL_XmlElementNode& element, KL_OutputStream& stream);

    // Skips the prefixes that the top element already binds, and "xml".
    [[nodiscard]] static KL_Result CollectNamespaces(KL_XmlElementNode& top);
};
