// UP_SsdpPendingSearches: the M-SEARCH answers a device host has queued and not yet sent. At most
// one answer waits per searching host and search target, so that a searcher repeating itself, or
// one host flooding from many ports, cannot crowd the others out; another control point on the same
// host searching for the same target meanwhile (another port) is answered by the waiting answer.
#pragma once

#include "KL_List.h"
#include "KL_Mutex.h"
#include "KL_SocketAddress.h"
#include "KL_String.h"
#include "UP_SsdpConstants.h"

#include <cstdint>

class UP_SsdpPendingSearches {
public:
    static constexpr KL_Size kMaxInAll = UP_SSDP_MAX_SEARCH_RESPONSE_TASKS;
    // Ports of one host that one answer goes to.
    static constexpr KL_Size kMaxPorts = 4;

    // Notes sender's search for st. The id of a new answer to queue for it, or 0 when nothing is to
    // be queued: an answer for the host and st waits already (the sender's port joins it, up to
    // kMaxPorts), the sender's port is being answered right now, or kMaxInAll answers are pending.
    uint64_t Add(const KL_SocketAddress& sender, const KL_String& st);
    // The answer is about to go out: the ports it goes to. Searches arriving from now on queue an
    // answer of their own, unless they come from one of these ports.
    KL_List<uint32_t> Take(uint64_t id);
    // The answer is out (or was never sent).
    void Remove(uint64_t id);
    void Clear();

private:
    struct Entry {
        uint64_t m_Id = 0;
        KL_IpAddress m_Host;
        KL_String m_ST;
        KL_List<uint32_t> m_Ports;
        bool m_Taken = false;
    };

    KL_Mutex m_Lock;
    KL_List<Entry> m_Entries;
    uint64_t m_LastId = 0;
};
