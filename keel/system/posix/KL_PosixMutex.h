// POSIX delegate of KL_Mutex: one recursive pthread mutex.
#pragma once

#include "KL_Mutex.h"

#include <pthread.h>

class KL_PosixMutex : public KL_MutexInterface {
public:
    KL_PosixMutex();
    ~KL_PosixMutex() override;
    KL_PosixMutex(const KL_PosixMutex&) = delete;
    KL_PosixMutex& operator=(const KL_PosixMutex&) = delete;

    // The platform's result is ignored: both answer 0.
    KL_Result Lock() override;
    KL_Result Unlock() override;

private:
    pthread_mutex_t m_Mutex;
};
