// KL_Reference<T>: a counted reference shared by copies. The last reference deletes the object
// (through its virtual destructor). Made thread-safe (the default), its count changes under a
// shared KL_Mutex so copies may be taken and dropped on different threads; otherwise all copies
// stay on one thread. Build one reference per object: a second reference from the same raw
// pointer would count separately and delete twice, hence the explicit constructor.
//
//   KL_Reference<KL_Foo> foo(new KL_Foo(), true);
//   KL_Reference<KL_Base> base = foo;     // shares the count (T* must convert to Base*)
//   foo->Bar(); foo.AsPointer(); foo.IsNull(); foo.Release(); foo.Release(true /*detach*/);
#pragma once

#include "KL_Mutex.h"
#include "KL_Types.h"

#include <cstddef>

template <typename T> class KL_Reference {
public:
    KL_Reference() = default;
    explicit KL_Reference(T* object, bool thread_safe = true) : m_Object(object), m_ThreadSafe(thread_safe) {
        if (object != nullptr) {
            m_Counter = new KL_Cardinal(1);
            if (thread_safe) {
                m_Mutex = new KL_Mutex();
            }
        }
    }
    KL_Reference(const KL_Reference& ref) {
        Share(ref.m_Object, ref.m_Counter, ref.m_Mutex, ref.m_ThreadSafe);
    }
    // From a reference to a derived class.
    template <typename U>
    KL_Reference(const KL_Reference<U>& ref) // NOLINT: implicit upcast like a pointer's
    {
        Share(ref.m_Object, ref.m_Counter, ref.m_Mutex, ref.m_ThreadSafe);
    }
    KL_Reference(KL_Reference&& ref) noexcept
        : m_Object(ref.m_Object), m_Counter(ref.m_Counter), m_Mutex(ref.m_Mutex),
          m_ThreadSafe(ref.m_ThreadSafe) {
        ref.m_Object = nullptr;
        ref.m_Counter = nullptr;
        ref.m_Mutex = nullptr;
    }
    ~KL_Reference() { Release(); }

    KL_Reference& operator=(const KL_Reference& ref) {
        if (this != &ref && m_Counter != ref.m_Counter) {
            Release();
            Share(ref.m_Object, ref.m_Counter, ref.m_Mutex, ref.m_ThreadSafe);
        }
        return *this;
    }
    template <typename U> KL_Reference& operator=(const KL_Reference<U>& ref) {
        if (m_Counter == nullptr || m_Counter != ref.m_Counter) {
            Release();
            Share(ref.m_Object, ref.m_Counter, ref.m_Mutex, ref.m_ThreadSafe);
        }
        return *this;
    }
    KL_Reference& operator=(KL_Reference&& ref) noexcept {
        if (this != &ref) {
            Release();
            m_Object = ref.m_Object;
            m_Counter = ref.m_Counter;
            m_Mutex = ref.m_Mutex;
            m_ThreadSafe = ref.m_ThreadSafe;
            ref.m_Object = nullptr;
            ref.m_Counter = nullptr;
            ref.m_Mutex = nullptr;
        }
        return *this;
    }

    // Drops this reference: the last one frees the counter, deletes the object (unless
    // detaching: then the object is left to the caller) and the mutex, in that order; the object
    // is deleted while the shared mutex is held, the mutex unlocked before it is deleted.
    void Release(bool detach = false) {
        KL_Mutex* mutex = m_Mutex;
        bool last = false;
        if (mutex != nullptr) {
            mutex->Lock();
        }
        if (m_Counter != nullptr) {
            if (--*m_Counter == 0) {
                last = true;
                delete m_Counter;
                if (!detach) {
                    delete m_Object;
                }
            }
        }
        m_Counter = nullptr;
        m_Object = nullptr;
        if (mutex != nullptr) {
            m_Mutex = nullptr;
            mutex->Unlock();
            if (last) {
                delete mutex;
            }
        }
    }

    T* AsPointer() const { return m_Object; }
    T& AsReference() const { return *m_Object; }
    T* operator->() const { return m_Object; }
    T& operator*() const { return *m_Object; }
    bool IsNull() const { return m_Object == nullptr; }
    explicit operator bool() const { return m_Object != nullptr; }
    bool IsThreadSafe() const { return m_ThreadSafe; }
    // The shared count (0 for a null reference); for diagnostics and tests.
    KL_Cardinal GetCounter() const {
        if (m_Counter == nullptr) {
            return 0;
        }
        if (m_Mutex != nullptr) {
            KL_AutoLock lock(*m_Mutex);
            return *m_Counter;
        }
        return *m_Counter;
    }
    // Same object.
    template <typename U> bool operator==(const KL_Reference<U>& other) const {
        return m_Object == other.AsPointer();
    }
    bool operator==(std::nullptr_t) const { return m_Object == nullptr; }

private:
    template <typename U> friend class KL_Reference;

    template <typename U> void Share(U* object, KL_Cardinal* counter, KL_Mutex* mutex, bool thread_safe) {
        m_Object = object;
        m_Counter = counter;
        m_Mutex = mutex;
        m_ThreadSafe = thread_safe;
        if (m_Counter != nullptr) {
            if (m_Mutex != nullptr) {
                m_Mutex->Lock();
            }
            ++*m_Counter;
            if (m_Mutex != nullptr) {
                m_Mutex->Unlock();
            }
        }
    }

    T* m_Object = nullptr;
    KL_Cardinal* m_Counter = nullptr;
    KL_Mutex* m_Mutex = nullptr;
    bool m_ThreadSafe = true;
};
