#include "KL_Thread.h"

#include "KL_PosixThread.h"

KL_Thread::KL_Thread(bool detached) : m_Delegate(new KL_PosixThread(this, this, detached)) {}

KL_Thread::KL_Thread(KL_Runnable* target, bool detached)
    : m_Delegate(new KL_PosixThread(this, target, detached)) {}

KL_Thread::~KL_Thread() {
    delete m_Delegate;
}

KL_Result KL_Thread::Start() {
    return m_Delegate->Start();
}

KL_Result KL_Thread::Wait(KL_Timeout timeout) {
    return m_Delegate->Wait(timeout);
}

KL_Result KL_Thread::SetPriority(int32_t priority) {
    return m_Delegate->SetPriority(priority);
}

KL_Result KL_Thread::GetPriority(int32_t& priority) {
    return m_Delegate->GetPriority(priority);
}

KL_Result KL_Thread::Interrupt() {
    return m_Delegate->Interrupt();
}

KL_ThreadId KL_Thread::GetCurrentThreadId() {
    return KL_PosixThread::GetCurrentThreadId();
}

KL_Result KL_Thread::SetThreadPriority(KL_ThreadId thread, int32_t priority) {
    return KL_PosixThread::SetThreadPriority(thread, priority);
}

KL_Result KL_Thread::GetThreadPriority(KL_ThreadId thread, int32_t& priority) {
    return KL_PosixThread::GetThreadPriority(thread, priority);
}

KL_Result KL_Thread::SetCurrentThreadPriority(int32_t priority) {
    return KL_PosixThread::SetThreadPriority(pthread_self(), priority);
}

KL_Result KL_Thread::GetCurrentThreadPriority(int32_t& priority) {
    return KL_PosixThread::GetThreadPriority(pthread_self(), priority);
}
