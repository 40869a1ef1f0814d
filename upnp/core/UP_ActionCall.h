// UP_ActionCall: one SOAP call of an action: its argument values (kept in SCPD order whatever
// the order they are set in), its UPnP error, and the SOAP texts written from it.
#pragma once

#include "KL_Array.h"
#include "KL_Reference.h"
#include "KL_Result.h"
#include "KL_String.h"
#include "UP_ActionDesc.h"
#include "UP_ActionError.h"
#include "UP_Argument.h"

#include <cstdint>

class KL_OutputStream;
class UP_DeviceData;

class UP_ActionCall {
public:
    explicit UP_ActionCall(UP_ActionDesc& action_desc);
    // For the control-point side: the call targets that root device.
    UP_ActionCall(UP_ActionDesc& action_desc, const KL_Reference<UP_DeviceData>& root_device);
    ~UP_ActionCall();
    UP_ActionCall(const UP_ActionCall&) = delete;
    UP_ActionCall& operator=(const UP_ActionCall&) = delete;

    UP_ActionDesc& GetActionDesc() const { return m_ActionDesc; }
    const KL_Array<UP_Argument*>& GetArguments() const { return m_Arguments; }

    // 0 and the value of the argument of that name (ignoring case); -1 when none is set.
    KL_Result GetArgumentValue(const char* name, KL_String& value) const;
    // Relaxed decimal conversion; its result, or -1 when the argument is missing.
    KL_Result GetArgumentValue(const char* name, uint32_t& value) const;
    KL_Result GetArgumentValue(const char* name, int32_t& value) const;
    // "1", "TRUE", "YES" / "0", "FALSE", "NO" (words ignoring case); -1 otherwise, value untouched.
    KL_Result GetArgumentValue(const char* name, bool& value) const;
    // 0 when the argument exists and equals expected ignoring case; else -1.
    KL_Result VerifyArgumentValue(const char* name, const char* expected) const;
    // Replaces or inserts (in SCPD position order); a refused new value removes the argument.
    KL_Result SetArgumentValue(const char* name, const char* value);
    // Copies the related state variable's value into the "out" argument of that name.
    KL_Result SetArgumentOutFromStateVariable(const char* name);
    // The above for every "out" argument in SCPD order; the first failure ends it.
    KL_Result SetArgumentsOutFromStateVariable();
    // -1 when an argument of that direction ("in" when input) was not supplied; else clears the
    // error and answers 0.
    KL_Result VerifyArguments(bool input);

    KL_Result SetActionError(uint32_t code, const char* description);
    KL_Result SetActionError(const UP_ActionError& error) {
        return SetActionError(error.code, error.description);
    }
    // The description (empty when none) and, when asked, the code.
    KL_String GetActionError(uint32_t* code = nullptr) const;
    uint32_t GetActionErrorCode() const { return m_ErrorCode; }

    // The response, or the fault when an error code is set.
    KL_Result FormatSoapResponse(KL_OutputStream& stream) const;
    static KL_Result FormatSoapError(uint32_t code, const char* description, KL_OutputStream& stream);
    static KL_Result FormatSoapError(const UP_ActionError& error, KL_OutputStream& stream) {
        return FormatSoapError(error.code, error.description, stream);
    }
    // The request form of the call (for a control point).
    KL_Result FormatSoapRequest(KL_OutputStream& stream) const;

private:
    UP_Argument* FindArgument(const char* name, KL_Index* position = nullptr) const;
    KL_Result InsertArgument(UP_Argument* argument);
    KL_Result SetArgumentOutFromStateVariable(const UP_ArgumentDesc* desc);
    // Writes the body element's argument children of that direction.
    KL_Result FormatSoapCall(KL_OutputStream& stream, const char* suffix, const char* direction) const;

    UP_ActionDesc& m_ActionDesc;
    KL_Array<UP_Argument*> m_Arguments;
    uint32_t m_ErrorCode = 0;
    KL_String m_ErrorDescription;
    KL_Reference<UP_DeviceData> m_RootDevice;
};
