// UP_SsdpPendingSearches: the M-SEARCH answers a device host has queued and not yet sent, each due
// at a time of the monotonic clock (milliseconds). At most one answer waits per searching host and
// search target, so that a searcher repeating itself, or one host flooding from many ports, cannot
// crowd the others out; another control point on the same host searching for the same target
// meanwhile (another port) is answered by the waiting answer.
//
// An entry is a few map nodes (no thread): the device host's answer task takes the due ones and
// sends them. Each answer goes out twice: when taken first, the entry stays, due again
// kRepeatMillis later, and leaves once taken the second time.
//
// Thread-safe: the listen task adds, the answer task takes and waits; one lock guards the table.
#pragma once

#include "KL_IpAddress.h"
#include "KL_List.h"
#include "KL_Mutex.h"
#include "KL_SharedVariable.h"
#include "KL_SocketAddress.h"
#include "KL_String.h"
#include "UP_SsdpConstants.h"

#include <cstdint>
#include <map>
#include <set>
#include <string>
#include <utility>

class UP_SsdpPendingSearches {
public:
    static constexpr KL_Size kMaxInAll = UP_SSDP_MAX_PENDING_SEARCHES;
    // Ports of one host that one answer goes to.
    static constexpr KL_Size kMaxPorts = 4;
    // Between the two sendings of an answer.
    static constexpr int64_t kRepeatMillis = 200;

    enum class Added {
        kQueued, // a new answer waits, due at the time given
        kJoined, // nothing to queue: the host's answer for st waits already (the port joined it, up
                 // to kMaxPorts), or the sender's port is being answered right now
        kFull,   // kMaxInAll answers wait: the caller answers at once
    };
    // One answer to send: the first sending or its repeat.
    struct Answer {
        KL_IpAddress m_Host;
        KL_String m_ST;
        KL_List<uint32_t> m_Ports;
        bool m_Repeat = false;
    };

    // Notes sender's search for st, to be answered at due.
    Added Add(const KL_SocketAddress& sender, const KL_String& st, int64_t due);
    // Up to max answers due at now, earliest first; the caller sends them.
    KL_List<Answer> TakeDue(int64_t now, KL_Size max);
    // The time the next answer is due, or -1 when none waits.
    int64_t NextDue();
    // Waits until an answer was queued since the last TakeDue (or Wake), at most timeout ms.
    void WaitForWork(KL_Timeout timeout);
    // Ends a WaitForWork (the answer task's abort). A TakeDue after it clears it: the task tests
    // its abort after each TakeDue, before it waits.
    void Wake();
    void Clear();
    KL_Size GetCount();

private:
    using Key = std::pair<uint32_t, std::string>;
    struct Entry {
        Key m_Key;
        KL_List<uint32_t> m_Ports;
        int64_t m_Due = 0;
        bool m_Taken = false;
    };

    KL_Mutex m_Lock;
    std::map<uint64_t, Entry> m_Entries;          // by id
    std::multimap<Key, uint64_t> m_ByTarget;      // host and st: ids (one waiting, some taken)
    std::set<std::pair<int64_t, uint64_t>> m_Due; // due time, id
    uint64_t m_LastId = 0;
    // 1 once something was queued since the last TakeDue.
    KL_SharedVariable m_Work;
};
