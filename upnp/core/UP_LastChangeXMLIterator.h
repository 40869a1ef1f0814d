// UP_LastChangeXMLIterator: adds one variable's element to the "InstanceID" element of a LastChange
// document. Applied over a list of state variables with ApplyUntil; variables that are not
// evented through LastChange are skipped.
//
//   KL_CHECK(vars.ApplyUntil(UP_LastChangeXMLIterator(instance), KL_UntilResultNotEquals(0)));
#pragma once

#include "KL_Result.h"

class KL_XmlElementNode;
class UP_StateVariable;

class UP_LastChangeXMLIterator {
public:
    // instance: not owned; receives the new elements.
    explicit UP_LastChangeXMLIterator(KL_XmlElementNode* instance) : m_Instance(instance) {}

    // An empty element named after the variable with its extra attributes and "val".
    KL_Result operator()(UP_StateVariable* variable) const;

private:
    KL_XmlElementNode* m_Instance;
};
