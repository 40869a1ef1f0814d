#include "KL_AutomaticCleaner.h"

#include <cstdlib>

std::atomic<KL_AutomaticCleaner*> KL_AutomaticCleaner::s_Instance{nullptr};

namespace {

void RunExitCleanup() {
    KL_AutomaticCleaner::Cleanup();
}

// Registers the exit handler once, after the singleton lock exists: exit handlers and static
// destructors run in the reverse order of their registration, so the clean-up runs while the
// lock is still alive.
bool RegisterExitHandler() {
    static const bool registered = (KL_GetSingletonLock(), atexit(&RunExitCleanup) == 0);
    return registered;
}

// Static initialisation of this file, in order: the singleton lock, then the exit handler.
[[maybe_unused]] const bool g_ExitHandlerRegistered = RegisterExitHandler();

} // namespace

KL_Mutex& KL_GetSingletonLock() {
    static KL_Mutex lock;
    return lock;
}

KL_AutomaticCleaner* KL_AutomaticCleaner::GetInstance() {
    KL_AutomaticCleaner* instance = s_Instance.load(std::memory_order_acquire);
    if (instance == nullptr) {
        RegisterExitHandler();
        KL_AutoLock lock(KL_GetSingletonLock());
        instance = s_Instance.load(std::memory_order_relaxed);
        if (instance == nullptr) {
            instance = new KL_AutomaticCleaner();
            s_Instance.store(instance, std::memory_order_release);
        }
    }
    return instance;
}

KL_Result KL_AutomaticCleaner::Register(Singleton* singleton) {
    // Registrations usually happen under the singleton lock already (it is recursive); taking
    // it here keeps two threads registering at once from corrupting the list.
    KL_AutoLock lock(KL_GetSingletonLock());
    (void)Remove(singleton, false);
    return m_Singletons.Insert(m_Singletons.GetFirstItem(), singleton);
}

KL_Result KL_AutomaticCleaner::RegisterTlsContext(Singleton* context) {
    KL_AutoLock lock(KL_GetSingletonLock());
    m_TlsContext = context;
    return KL_SUCCESS;
}

KL_Result KL_AutomaticCleaner::RegisterHttpConnectionManager(Singleton* manager) {
    KL_AutoLock lock(KL_GetSingletonLock());
    m_HttpConnectionManager = manager;
    return KL_SUCCESS;
}

KL_Result KL_AutomaticCleaner::Remove(Singleton* singleton, bool all) {
    return m_Singletons.Remove(singleton, all);
}

void KL_AutomaticCleaner::DeleteAll() {
    delete m_HttpConnectionManager;
    m_HttpConnectionManager = nullptr;
    delete m_TlsContext;
    m_TlsContext = nullptr;
    for (Singleton* singleton : m_Singletons) {
        delete singleton;
    }
    m_Singletons.Clear();
}

KL_AutomaticCleaner::~KL_AutomaticCleaner() {
    DeleteAll();
}

void KL_AutomaticCleaner::Cleanup() {
    KL_AutomaticCleaner* instance = s_Instance.exchange(nullptr);
    delete instance;
}
