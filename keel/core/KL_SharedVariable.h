// An integer that threads can set and wait on.
#pragma once

#include "KL_Result.h"
#include "KL_Types.h"

#include <cstdint>

class KL_SharedVariableInterface {
public:
    virtual ~KL_SharedVariableInterface() = default;
    // Stores the value and wakes every waiter.
    virtual KL_Result SetValue(int32_t value) = 0;
    // The current value (an atomic load, no lock).
    virtual int32_t GetValue() = 0;
    // 0 once the value equals `value`; KL_ERROR_TIMEOUT when the time-out passes first (a
    // time-out of 0 tests once); -1 when the clock cannot be read.
    virtual KL_Result WaitUntilEquals(int32_t value, KL_Timeout timeout = KL_TIMEOUT_INFINITE) = 0;
    // The same, returning once the value differs from `value`.
    virtual KL_Result WaitWhileEquals(int32_t value, KL_Timeout timeout = KL_TIMEOUT_INFINITE) = 0;
};

class KL_SharedVariable : public KL_SharedVariableInterface {
public:
    explicit KL_SharedVariable(int32_t value = 0);
    ~KL_SharedVariable() override;
    KL_SharedVariable(const KL_SharedVariable&) = delete;
    KL_SharedVariable& operator=(const KL_SharedVariable&) = delete;

    KL_Result SetValue(int32_t value) override;
    int32_t GetValue() override;
    KL_Result WaitUntilEquals(int32_t value, KL_Timeout timeout = KL_TIMEOUT_INFINITE) override;
    KL_Result WaitWhileEquals(int32_t value, KL_Timeout timeout = KL_TIMEOUT_INFINITE) override;

private:
    KL_SharedVariableInterface* m_Delegate;
};
