// The shared variable over a POSIX mutex and a condition on the monotonic clock.
#pragma once

#include "KL_SharedVariable.h"

#include <atomic>
#include <pthread.h>

class KL_PosixSharedVariable : public KL_SharedVariableInterface {
public:
    explicit KL_PosixSharedVariable(int32_t value);
    ~KL_PosixSharedVariable() override;
    KL_PosixSharedVariable(const KL_PosixSharedVariable&) = delete;
    KL_PosixSharedVariable& operator=(const KL_PosixSharedVariable&) = delete;

    KL_Result SetValue(int32_t value) override;
    int32_t GetValue() override;
    KL_Result WaitUntilEquals(int32_t value, KL_Timeout timeout = KL_TIMEOUT_INFINITE) override;
    KL_Result WaitWhileEquals(int32_t value, KL_Timeout timeout = KL_TIMEOUT_INFINITE) override;

private:
    KL_Result WaitFor(int32_t value, bool untilEquals, KL_Timeout timeout);

    std::atomic<int32_t> m_Value;
    pthread_mutex_t m_Mutex;
    pthread_cond_t m_Condition;
};
