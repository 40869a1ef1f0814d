#include "KL_PosixAtomicVariable.h"

KL_PosixAtomicVariable::KL_PosixAtomicVariable(int32_t value) : m_Value(value) {
    pthread_mutex_init(&m_Mutex, nullptr);
}

KL_PosixAtomicVariable::~KL_PosixAtomicVariable() {
    pthread_mutex_destroy(&m_Mutex);
}

int32_t KL_PosixAtomicVariable::Add(int32_t step) {
    pthread_mutex_lock(&m_Mutex);
    // Wraps around at the limits instead of overflowing.
    const int32_t value = static_cast<int32_t>(
        static_cast<uint32_t>(m_Value.load(std::memory_order_relaxed)) + static_cast<uint32_t>(step));
    m_Value.store(value, std::memory_order_release);
    pthread_mutex_unlock(&m_Mutex);
    return value;
}

int32_t KL_PosixAtomicVariable::Increment() {
    return Add(1);
}

int32_t KL_PosixAtomicVariable::Decrement() {
    return Add(-1);
}

int32_t KL_PosixAtomicVariable::GetValue() {
    return m_Value.load(std::memory_order_acquire);
}

KL_Result KL_PosixAtomicVariable::SetValue(int32_t value) {
    pthread_mutex_lock(&m_Mutex);
    m_Value.store(value, std::memory_order_release);
    pthread_mutex_unlock(&m_Mutex);
    return KL_SUCCESS;
}
