// UP_ActionDesc: one action of a service as its SCPD declares it, with its argument
// descriptions in SCPD order, and its SCPD element.
#pragma once

#include "KL_Array.h"
#include "KL_Result.h"
#include "KL_String.h"
#include "UP_ArgumentDesc.h"

class KL_XmlElementNode;
class UP_Service;

class UP_ActionDesc {
public:
    UP_ActionDesc(UP_Service* service, const char* name);
    ~UP_ActionDesc();
    UP_ActionDesc(const UP_ActionDesc&) = delete;
    UP_ActionDesc& operator=(const UP_ActionDesc&) = delete;

    const KL_String& GetName() const { return m_Name; }
    UP_Service* GetService() const { return m_Service; }
    const KL_Array<UP_ArgumentDesc*>& GetArgumentDescs() const { return m_ArgumentDescs; }
    // Takes ownership (deleted on failure too).
    KL_Result AddArgumentDesc(UP_ArgumentDesc* desc);
    // By name ignoring case, first match in SCPD order; null when none.
    UP_ArgumentDesc* FindArgumentDesc(const char* name) const;
    // Appends "action" with "name" and "argumentList" (also when empty).
    KL_Result GetSCPDXML(KL_XmlElementNode* node) const;

private:
    KL_String m_Name;
    UP_Service* m_Service;
    KL_Array<UP_ArgumentDesc*> m_ArgumentDescs;
};
