// An integer changed by one step at a time from any thread.
#pragma once

#include "KL_Result.h"

#include <cstdint>

class KL_AtomicVariableInterface {
public:
    virtual ~KL_AtomicVariableInterface() = default;
    // Each returns the new value.
    virtual int32_t Increment() = 0;
    virtual int32_t Decrement() = 0;
    // An atomic load, no lock.
    virtual int32_t GetValue() = 0;
    virtual KL_Result SetValue(int32_t value) = 0;
};

class KL_AtomicVariable : public KL_AtomicVariableInterface {
public:
    explicit KL_AtomicVariable(int32_t value = 0);
    ~KL_AtomicVariable() override;
    KL_AtomicVariable(const KL_AtomicVariable&) = delete;
    KL_AtomicVariable& operator=(const KL_AtomicVariable&) = delete;

    int32_t Increment() override;
    int32_t Decrement() override;
    int32_t GetValue() override;
    KL_Result SetValue(int32_t value) override;

private:
    KL_AtomicVariableInterface* m_Delegate;
};
