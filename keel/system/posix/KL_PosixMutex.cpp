// POSIX delegate of KL_Mutex.
#include "KL_PosixMutex.h"

KL_PosixMutex::KL_PosixMutex() {
    pthread_mutexattr_t attributes;
    pthread_mutexattr_init(&attributes);
    pthread_mutexattr_settype(&attributes, PTHREAD_MUTEX_RECURSIVE);
    pthread_mutex_init(&m_Mutex, &attributes);
    pthread_mutexattr_destroy(&attributes);
}

KL_PosixMutex::~KL_PosixMutex() {
    pthread_mutex_destroy(&m_Mutex);
}

KL_Result KL_PosixMutex::Lock() {
    pthread_mutex_lock(&m_Mutex);
    return KL_SUCCESS;
}

KL_Result KL_PosixMutex::Unlock() {
    pthread_mutex_unlock(&m_Mutex);
    return KL_SUCCESS;
}
