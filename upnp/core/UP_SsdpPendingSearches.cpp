#include "UP_SsdpPendingSearches.h"

#include "KL_Log.h"

KL_SET_LOCAL_LOGGER("upnp.core.ssdp");

UP_SsdpPendingSearches::Added UP_SsdpPendingSearches::Add(const KL_SocketAddress& sender, const KL_String& st,
                                                          int64_t due) {
    KL_AutoLock lock(m_Lock);
    Key key(sender.m_IpAddress.AsLong(), st.GetChars());
    const auto range = m_ByTarget.equal_range(key);
    for (auto it = range.first; it != range.second; ++it) {
        const auto found = m_Entries.find(it->second);
        if (found == m_Entries.end()) {
            continue;
        }
        Entry& entry = found->second;
        const bool answered = entry.m_Ports.Contains(sender.m_Port);
        if (!entry.m_Taken && !answered && entry.m_Ports.GetItemCount() < kMaxPorts) {
            (void)entry.m_Ports.Add(sender.m_Port);
            return Added::kJoined;
        }
        if (!entry.m_Taken || answered) {
            KL_LOG_FINE("M-SEARCH for %s from %s dropped: its answer is pending", st.GetChars(),
                        sender.ToString().GetChars());
            return Added::kJoined;
        }
    }
    if (m_Entries.size() >= kMaxInAll) {
        return Added::kFull;
    }
    const uint64_t id = ++m_LastId;
    Entry& entry = m_Entries[id];
    entry.m_Key = key;
    entry.m_Due = due;
    (void)entry.m_Ports.Add(sender.m_Port);
    (void)m_ByTarget.emplace(std::move(key), id);
    (void)m_Due.emplace(due, id);
    (void)m_Work.SetValue(1);
    return Added::kQueued;
}

KL_List<UP_SsdpPendingSearches::Answer> UP_SsdpPendingSearches::TakeDue(int64_t now, KL_Size max) {
    KL_AutoLock lock(m_Lock);
    (void)m_Work.SetValue(0);
    KL_List<Answer> due;
    while (!m_Due.empty() && m_Due.begin()->first <= now && due.GetItemCount() < max) {
        const uint64_t id = m_Due.begin()->second;
        (void)m_Due.erase(m_Due.begin());
        const auto found = m_Entries.find(id);
        if (found == m_Entries.end()) {
            continue;
        }
        Entry& entry = found->second;
        Answer answer;
        answer.m_Host = KL_IpAddress(entry.m_Key.first);
        answer.m_ST = entry.m_Key.second.c_str();
        answer.m_Ports = entry.m_Ports;
        answer.m_Repeat = entry.m_Taken;
        if (!entry.m_Taken) {
            // Searches from these ports meanwhile are answered by the repeat; others queue anew.
            entry.m_Taken = true;
            entry.m_Due = now + kRepeatMillis;
            (void)m_Due.emplace(entry.m_Due, id);
        } else {
            const auto range = m_ByTarget.equal_range(entry.m_Key);
            for (auto it = range.first; it != range.second; ++it) {
                if (it->second == id) {
                    (void)m_ByTarget.erase(it);
                    break;
                }
            }
            (void)m_Entries.erase(found);
        }
        (void)due.Add(std::move(answer));
    }
    return due;
}

int64_t UP_SsdpPendingSearches::NextDue() {
    KL_AutoLock lock(m_Lock);
    return m_Due.empty() ? -1 : m_Due.begin()->first;
}

void UP_SsdpPendingSearches::WaitForWork(KL_Timeout timeout) {
    (void)m_Work.WaitUntilEquals(1, timeout);
}

void UP_SsdpPendingSearches::Wake() {
    (void)m_Work.SetValue(1);
}

void UP_SsdpPendingSearches::Clear() {
    KL_AutoLock lock(m_Lock);
    m_Entries.clear();
    m_ByTarget.clear();
    m_Due.clear();
}

KL_Size UP_SsdpPendingSearches::GetCount() {
    KL_AutoLock lock(m_Lock);
    return m_Entries.size();
}
