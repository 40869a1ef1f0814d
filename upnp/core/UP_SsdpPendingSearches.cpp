#include "UP_SsdpPendingSearches.h"

#include "KL_Log.h"

KL_SET_LOCAL_LOGGER("upnp.core.ssdp");

uint64_t UP_SsdpPendingSearches::Add(const KL_SocketAddress& sender, const KL_String& st) {
    KL_AutoLock lock(m_Lock);
    for (Entry& entry : m_Entries) {
        if (entry.m_Host != sender.m_IpAddress || entry.m_ST != st) {
            continue;
        }
        const bool answered = entry.m_Ports.Contains(sender.m_Port);
        if (!entry.m_Taken && !answered && entry.m_Ports.GetItemCount() < kMaxPorts) {
            (void)entry.m_Ports.Add(sender.m_Port);
            return 0;
        }
        if (!entry.m_Taken || answered) {
            KL_LOG_FINE("M-SEARCH for %s from %s dropped: its answer is pending", st.GetChars(),
                        sender.ToString().GetChars());
            return 0;
        }
    }
    if (m_Entries.GetItemCount() >= kMaxInAll) {
        KL_LOG_FINE("M-SEARCH from %s dropped: %d answers pending", sender.ToString().GetChars(),
                    static_cast<int>(kMaxInAll));
        return 0;
    }
    Entry entry;
    entry.m_Id = ++m_LastId;
    entry.m_Host = sender.m_IpAddress;
    entry.m_ST = st;
    (void)entry.m_Ports.Add(sender.m_Port);
    return KL_SUCCEEDED(m_Entries.Add(std::move(entry))) ? m_LastId : 0;
}

KL_List<uint32_t> UP_SsdpPendingSearches::Take(uint64_t id) {
    KL_AutoLock lock(m_Lock);
    for (Entry& entry : m_Entries) {
        if (entry.m_Id == id) {
            entry.m_Taken = true;
            return entry.m_Ports;
        }
    }
    return KL_List<uint32_t>();
}

void UP_SsdpPendingSearches::Remove(uint64_t id) {
    KL_AutoLock lock(m_Lock);
    for (auto it = m_Entries.begin(); it != m_Entries.end(); ++it) {
        if (it->m_Id == id) {
            (void)m_Entries.Erase(it);
            return;
        }
    }
}

void UP_SsdpPendingSearches::Clear() {
    KL_AutoLock lock(m_Lock);
    (void)m_Entries.Clear();
}
