#include "UP_SsdpPendingSearches.h"

#include "KL_Log.h"

KL_SET_LOCAL_LOGGER("upnp.core.ssdp");

bool UP_SsdpPendingSearches::Add(const KL_SocketAddress& sender, const KL_String& st) {
    KL_AutoLock lock(m_Lock);
    const Entry entry{sender, st};
    if (m_Entries.Contains(entry)) {
        KL_LOG_FINE("M-SEARCH for %s from %s dropped: its answer is pending", st.GetChars(),
                    sender.ToString().GetChars());
        return false;
    }
    KL_Size same_host = 0;
    for (const Entry& pending : m_Entries) {
        same_host += pending.m_Sender.m_IpAddress == sender.m_IpAddress ? 1 : 0;
    }
    if (same_host >= kMaxPerHost || m_Entries.GetItemCount() >= kMaxInAll) {
        KL_LOG_FINE("M-SEARCH from %s dropped: %d answers pending for it, %d in all",
                    sender.ToString().GetChars(), static_cast<int>(same_host),
                    static_cast<int>(m_Entries.GetItemCount()));
        return false;
    }
    return KL_SUCCEEDED(m_Entries.Add(entry));
}

void UP_SsdpPendingSearches::Remove(const KL_SocketAddress& sender, const KL_String& st) {
    KL_AutoLock lock(m_Lock);
    (void)m_Entries.Remove(Entry{sender, st});
}

void UP_SsdpPendingSearches::Clear() {
    KL_AutoLock lock(m_Lock);
    (void)m_Entries.Clear();
}
