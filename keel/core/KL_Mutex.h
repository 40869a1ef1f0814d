// The runtime's mutex: recursive (the owning thread may lock it again; each Lock needs its
// Unlock). KL_Mutex is a front class that owns a platform delegate and forwards to it.
#pragma once

#include "KL_Result.h"

class KL_MutexInterface {
public:
    virtual ~KL_MutexInterface() = default;
    virtual KL_Result Lock() = 0;
    virtual KL_Result Unlock() = 0;
};

class KL_Mutex : public KL_MutexInterface {
public:
    KL_Mutex();
    ~KL_Mutex() override;
    KL_Mutex(const KL_Mutex&) = delete;
    KL_Mutex& operator=(const KL_Mutex&) = delete;

    KL_Result Lock() override { return m_Delegate->Lock(); }
    KL_Result Unlock() override { return m_Delegate->Unlock(); }

private:
    KL_MutexInterface* m_Delegate;
};

// Holds a mutex for the lifetime of a scope.
class KL_AutoLock {
public:
    explicit KL_AutoLock(KL_MutexInterface& mutex) : m_Mutex(mutex) { m_Mutex.Lock(); }
    ~KL_AutoLock() { m_Mutex.Unlock(); }
    KL_AutoLock(const KL_AutoLock&) = delete;
    KL_AutoLock& operator=(const KL_AutoLock&) = delete;

private:
    KL_MutexInterface& m_Mutex;
};
