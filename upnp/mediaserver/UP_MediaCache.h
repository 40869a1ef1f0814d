// UP_MediaCache: a small thread-safe store of values and their time stamps under text keys
// (exact compare), for the file delegate's optional listing cache.
//
//   UP_MediaCache<KL_Reference<KL_Array<KL_String>>, KL_TimeStamp> cache;
//   cache.Put(key, names, folder_time);
//   if (cache.Get(key, names, stamp) && !(stamp < folder_time)) { ... use names ... }
//
// Values are copied in and out under the mutex; share big values through counted references.
#pragma once

#include "KL_Map.h"
#include "KL_Mutex.h"
#include "KL_Result.h"
#include "KL_String.h"

template <typename Value, typename Stamp> class UP_MediaCache {
public:
    UP_MediaCache() = default;
    UP_MediaCache(const UP_MediaCache&) = delete;
    UP_MediaCache& operator=(const UP_MediaCache&) = delete;

    KL_Result Put(const KL_String& key, const Value& value, const Stamp& stamp) {
        KL_AutoLock lock(m_Mutex);
        if (!m_Values.HasKey(key) && m_Values.GetEntryCount() >= kMaxEntries) {
            (void)m_Values.Clear(); // bounded: a hostile client cannot grow it without end
            (void)m_Stamps.Clear();
        }
        KL_Result result = m_Values.Put(key, value);
        if (KL_SUCCEEDED(result)) {
            result = m_Stamps.Put(key, stamp);
        }
        return result;
    }

    // False when the key is not stored.
    bool Get(const KL_String& key, Value& value, Stamp& stamp) {
        KL_AutoLock lock(m_Mutex);
        Value* stored_value = nullptr;
        Stamp* stored_stamp = nullptr;
        if (KL_FAILED(m_Values.Get(key, stored_value)) || KL_FAILED(m_Stamps.Get(key, stored_stamp)) ||
            stored_value == nullptr || stored_stamp == nullptr) {
            return false;
        }
        value = *stored_value;
        stamp = *stored_stamp;
        return true;
    }

    void Clear() {
        KL_AutoLock lock(m_Mutex);
        (void)m_Values.Clear();
        (void)m_Stamps.Clear();
    }

private:
    static constexpr KL_Size kMaxEntries = 64;

    KL_Mutex m_Mutex;
    KL_Map<KL_String, Value> m_Values;
    KL_Map<KL_String, Stamp> m_Stamps;
};
