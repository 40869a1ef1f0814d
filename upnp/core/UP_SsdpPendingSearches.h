// UP_SsdpPendingSearches: the M-SEARCH answers a device host has queued and not yet sent, so that a
// searcher repeating itself, or one host flooding from many ports, cannot crowd the others out.
#pragma once

#include "KL_List.h"
#include "KL_Mutex.h"
#include "KL_SocketAddress.h"
#include "KL_String.h"
#include "UP_SsdpConstants.h"

class UP_SsdpPendingSearches {
public:
    // At most this many answers pending for one host (any of its ports), and in all.
    static constexpr KL_Size kMaxPerHost = 4;
    static constexpr KL_Size kMaxInAll = UP_SSDP_MAX_SEARCH_RESPONSE_TASKS;

    // Notes an answer to sender's search for st; false (nothing noted) when the same socket's search
    // for st is pending already, or a bound is reached.
    bool Add(const KL_SocketAddress& sender, const KL_String& st);
    // The answer to sender's search for st is out (or was never sent).
    void Remove(const KL_SocketAddress& sender, const KL_String& st);
    void Clear();

private:
    struct Entry {
        KL_SocketAddress m_Sender;
        KL_String m_ST;
        bool operator==(const Entry& other) const { return m_Sender == other.m_Sender && m_ST == other.m_ST; }
    };
    KL_Mutex m_Lock;
    KL_List<Entry> m_Entries;
};
