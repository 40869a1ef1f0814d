// The mutex front: creates its POSIX delegate.
#include "KL_Mutex.h"

#include "KL_PosixMutex.h"

KL_Mutex::KL_Mutex() : m_Delegate(new KL_PosixMutex()) {}

KL_Mutex::~KL_Mutex() {
    delete m_Delegate;
}
