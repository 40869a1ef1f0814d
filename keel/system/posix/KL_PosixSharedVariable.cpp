#include "KL_PosixSharedVariable.h"

#include "KL_PosixClock.h"

#include <cerrno>

KL_PosixSharedVariable::KL_PosixSharedVariable(int32_t value) : m_Value(value) {
    pthread_mutex_init(&m_Mutex, nullptr);
    KL_PosixInitCondition(&m_Condition);
}

KL_PosixSharedVariable::~KL_PosixSharedVariable() {
    pthread_cond_destroy(&m_Condition);
    pthread_mutex_destroy(&m_Mutex);
}

KL_Result KL_PosixSharedVariable::SetValue(int32_t value) {
    pthread_mutex_lock(&m_Mutex);
    m_Value.store(value, std::memory_order_release);
    pthread_cond_broadcast(&m_Condition);
    pthread_mutex_unlock(&m_Mutex);
    return KL_SUCCESS;
}

int32_t KL_PosixSharedVariable::GetValue() {
    return m_Value.load(std::memory_order_acquire);
}

KL_Result KL_PosixSharedVariable::WaitUntilEquals(int32_t value, KL_Timeout timeout) {
    return WaitFor(value, true, timeout);
}

KL_Result KL_PosixSharedVariable::WaitWhileEquals(int32_t value, KL_Timeout timeout) {
    return WaitFor(value, false, timeout);
}

KL_Result KL_PosixSharedVariable::WaitFor(int32_t value, bool untilEquals, KL_Timeout timeout) {
    struct timespec deadline = {};
    const bool timed = timeout != KL_TIMEOUT_INFINITE;
    if (timed && KL_FAILED(KL_PosixComputeDeadline(timeout, deadline))) {
        return KL_FAILURE;
    }
    KL_Result result = KL_SUCCESS;
    pthread_mutex_lock(&m_Mutex);
    while ((m_Value.load(std::memory_order_relaxed) == value) != untilEquals) {
        if (KL_PosixConditionWait(&m_Condition, &m_Mutex, timed ? &deadline : nullptr) == ETIMEDOUT) {
            // The value may have changed at the very deadline: a last look decides.
            if ((m_Value.load(std::memory_order_relaxed) == value) != untilEquals) {
                result = KL_ERROR_TIMEOUT;
            }
            break;
        }
    }
    pthread_mutex_unlock(&m_Mutex);
    return result;
}
