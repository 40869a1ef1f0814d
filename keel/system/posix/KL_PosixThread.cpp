#include "KL_PosixThread.h"

#include "KL_AutoreleasePool.h"
#include "KL_Log.h"
#include "KL_System.h"
#include "KL_TimeStamp.h"

#include <sched.h>

KL_SET_LOCAL_LOGGER("keel.threads.posix");

KL_PosixThread::KL_PosixThread(KL_Thread* delegator, KL_Runnable* target, bool detached)
    : m_Delegator(delegator), m_Target(target), m_Detached(detached), m_ThreadId(0), m_Joined(false),
      m_Done(0) {
    KL_LOG_FINE("KL_PosixThread::KL_PosixThread");
    pthread_mutex_init(&m_JoinLock, nullptr);
}

KL_PosixThread::~KL_PosixThread() {
    if (!m_Detached) {
        // Joins a started thread; nothing happens for one never started.
        (void)Wait(KL_TIMEOUT_INFINITE);
    }
    pthread_mutex_destroy(&m_JoinLock);
}

void KL_PosixThread::Run() {
    if (m_Target != nullptr) {
        m_Target->Run();
    }
}

KL_Result KL_PosixThread::Start() {
    KL_LOG_FINER("---- Creating thread");
    m_ThreadId.store(0);
    m_Joined = false;
    m_Done.SetValue(0);

    pthread_attr_t attributes;
    pthread_attr_init(&attributes);
    // A detached thread may delete this object as soon as it ends: read the flag first.
    const bool detached = m_Detached;
    pthread_t thread = 0;
    const int error = pthread_create(&thread, &attributes, &KL_PosixThread::EntryPoint, this);
    pthread_attr_destroy(&attributes);
    KL_LOG_FINER("---- Thread Created: id = %d, res=%d", static_cast<int>(thread), error);
    if (error != 0) {
        return KL_ResultFromErrno(error);
    }
    if (detached) {
        pthread_detach(thread);
    } else {
        m_ThreadId.store(thread);
    }
    return KL_SUCCESS;
}

void* KL_PosixThread::EntryPoint(void* argument) {
    KL_LOG_FINER("KL_PosixThread::EntryPoint - in =======================");
    KL_AutoreleasePool pool;
    static_cast<KL_PosixThread*>(argument)->Body();
    return nullptr;
}

void KL_PosixThread::Body() {
    const pthread_t self = pthread_self();
    m_ThreadId.store(self);
    KL_TimeStamp now;
    (void)KL_System::GetCurrentTimeStamp(now);
    KL_System::SetRandomSeed(static_cast<uint32_t>(now.ToNanos()) + static_cast<uint32_t>(self));

    Run();

    if (m_Detached) {
        // Deletes the front, which deletes this delegate: nothing of this object is used after.
        delete m_Delegator;
    } else {
        m_Done.SetValue(1);
    }
}

KL_Result KL_PosixThread::Wait(KL_Timeout timeout) {
    const pthread_t thread = m_ThreadId.load();
    if (thread == 0 || m_Detached) {
        return KL_FAILURE;
    }
    KL_Result result = KL_SUCCESS;
    pthread_mutex_lock(&m_JoinLock);
    if (!m_Joined) {
        if (timeout != KL_TIMEOUT_INFINITE && KL_FAILED(m_Done.WaitUntilEquals(1, timeout))) {
            result = KL_FAILURE;
        } else if (pthread_join(thread, nullptr) != 0) {
            result = KL_FAILURE;
        } else {
            m_Joined = true;
        }
    }
    pthread_mutex_unlock(&m_JoinLock);
    return result;
}

KL_Result KL_PosixThread::SetPriority(int32_t priority) {
    const pthread_t thread = m_ThreadId.load();
    if (thread == 0) {
        return KL_FAILURE;
    }
    return SetThreadPriority(thread, priority);
}

KL_Result KL_PosixThread::GetPriority(int32_t& priority) {
    const pthread_t thread = m_ThreadId.load();
    if (thread == 0) {
        return KL_FAILURE;
    }
    return GetThreadPriority(thread, priority);
}

KL_Result KL_PosixThread::Interrupt() {
    return KL_ERROR_NOT_IMPLEMENTED;
}

KL_ThreadId KL_PosixThread::GetCurrentThreadId() {
    return pthread_self();
}

KL_Result KL_PosixThread::SetThreadPriority(KL_ThreadId thread, int32_t priority) {
    int policy = 0;
    struct sched_param parameters = {};
    int error = pthread_getschedparam(thread, &policy, &parameters);
    if (error != 0) {
        return KL_ResultFromErrno(error);
    }
    KL_LOG_FINER("Current thread policy: %d, priority: %d, new priority: %d", policy,
                 parameters.sched_priority, priority);
    KL_LOG_FINER("Thread max(SCHED_OTHER): %d, max(SCHED_RR): %d                    min(SCHED_OTHER): %d, "
                 "min(SCHED_RR): %d",
                 sched_get_priority_max(SCHED_OTHER), sched_get_priority_max(SCHED_RR),
                 sched_get_priority_min(SCHED_OTHER), sched_get_priority_min(SCHED_RR));
    parameters.sched_priority = priority;
    error = pthread_setschedparam(thread, policy, &parameters);
    return error != 0 ? KL_ResultFromErrno(error) : KL_SUCCESS;
}

KL_Result KL_PosixThread::GetThreadPriority(KL_ThreadId thread, int32_t& priority) {
    int policy = 0;
    struct sched_param parameters = {};
    const int error = pthread_getschedparam(thread, &policy, &parameters);
    if (error != 0) {
        return KL_ResultFromErrno(error);
    }
    priority = parameters.sched_priority;
    KL_LOG_FINER("Current thread priority: %d", priority);
    return KL_SUCCESS;
}
