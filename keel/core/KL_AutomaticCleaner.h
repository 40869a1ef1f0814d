// The exit-cleanup registry: deletes the runtime's process-wide objects when the process ends
// (after main returns or exit is called), in this order: the HTTP connection manager, the
// default TLS context, then every registered singleton, the most recently registered first.
//
// Process-wide objects are created lazily under the singleton lock, with a double test:
//
//   if (s_Instance == nullptr) {
//       KL_AutoLock lock(KL_GetSingletonLock());
//       if (s_Instance == nullptr) { s_Instance = new Foo();
//       KL_AutomaticCleaner::GetInstance()->Register(s_Instance); }
//   }
//
// (s_Instance being a std::atomic pointer, so that the first test is a clean read.)
#pragma once

#include "KL_List.h"
#include "KL_Mutex.h"
#include "KL_Result.h"

#include <atomic>

// The process-wide singleton lock (recursive). Made during static initialisation, before main,
// and destroyed at exit after the registry has been emptied. It guards only the creation of
// process-wide objects, never their use.
KL_Mutex& KL_GetSingletonLock();

class KL_AutomaticCleaner {
public:
    // What the registry may delete: only its destructor is virtual.
    class Singleton {
    public:
        virtual ~Singleton() = default;
    };

    // The registry, created on first use.
    static KL_AutomaticCleaner* GetInstance();

    // Registers an object for deletion at exit (registering it again moves it to the head).
    // The object must not be deleted by anyone else. 0.
    KL_Result Register(Singleton* singleton);
    // The default TLS client context (replaces the previous one without deleting it). 0.
    KL_Result RegisterTlsContext(Singleton* context);
    // The HTTP connection manager (replaces the previous one without deleting it). 0.
    KL_Result RegisterHttpConnectionManager(Singleton* manager);

    // Runs the clean-up now: what the exit handler does (for the handler, and for tests).
    static void Cleanup();

private:
    KL_AutomaticCleaner() = default;
    ~KL_AutomaticCleaner();
    KL_AutomaticCleaner(const KL_AutomaticCleaner&) = delete;
    KL_AutomaticCleaner& operator=(const KL_AutomaticCleaner&) = delete;

    // Removes the first entry equal to the pointer (or each, with all); the object itself stays.
    // KL_ERROR_NO_SUCH_ITEM when none matched.
    KL_Result Remove(Singleton* singleton, bool all);
    void DeleteAll();

    KL_List<Singleton*> m_Singletons;
    Singleton* m_TlsContext = nullptr;
    Singleton* m_HttpConnectionManager = nullptr;

    static std::atomic<KL_AutomaticCleaner*> s_Instance;
};
