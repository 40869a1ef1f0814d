#include "KL_AtomicVariable.h"

#include "KL_PosixAtomicVariable.h"

KL_AtomicVariable::KL_AtomicVariable(int32_t value) : m_Delegate(new KL_PosixAtomicVariable(value)) {}

KL_AtomicVariable::~KL_AtomicVariable() {
    delete m_Delegate;
}

int32_t KL_AtomicVariable::Increment() {
    return m_Delegate->Increment();
}

int32_t KL_AtomicVariable::Decrement() {
    return m_Delegate->Decrement();
}

int32_t KL_AtomicVariable::GetValue() {
    return m_Delegate->GetValue();
}

KL_Result KL_AtomicVariable::SetValue(int32_t value) {
    return m_Delegate->SetValue(value);
}
