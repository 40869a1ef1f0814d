// The atomic variable: changes under a POSIX mutex, reads as an atomic load.
#pragma once

#include "KL_AtomicVariable.h"

#include <atomic>
#include <pthread.h>

class KL_PosixAtomicVariable : public KL_AtomicVariableInterface {
public:
    explicit KL_PosixAtomicVariable(int32_t value);
    ~KL_PosixAtomicVariable() override;
    KL_PosixAtomicVariable(const KL_PosixAtomicVariable&) = delete;
    KL_PosixAtomicVariable& operator=(const KL_PosixAtomicVariable&) = delete;

    int32_t Increment() override;
    int32_t Decrement() override;
    int32_t GetValue() override;
    KL_Result SetValue(int32_t value) override;

private:
    int32_t Add(int32_t step);

    std::atomic<int32_t> m_Value;
    pthread_mutex_t m_Mutex;
};
