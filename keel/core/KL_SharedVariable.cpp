#include "KL_SharedVariable.h"

#include "KL_PosixSharedVariable.h"

KL_SharedVariable::KL_SharedVariable(int32_t value) : m_Delegate(new KL_PosixSharedVariable(value)) {}

KL_SharedVariable::~KL_SharedVariable() {
    delete m_Delegate;
}

KL_Result KL_SharedVariable::SetValue(int32_t value) {
    return m_Delegate->SetValue(value);
}

int32_t KL_SharedVariable::GetValue() {
    return m_Delegate->GetValue();
}

KL_Result KL_SharedVariable::WaitUntilEquals(int32_t value, KL_Timeout timeout) {
    return m_Delegate->WaitUntilEquals(value, timeout);
}

KL_Result KL_SharedVariable::WaitWhileEquals(int32_t value, KL_Timeout timeout) {
    return m_Delegate->WaitWhileEquals(value, timeout);
}
