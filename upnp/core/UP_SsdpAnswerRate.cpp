#include "UP_SsdpAnswerRate.h"

#include "KL_Log.h"

#include <algorithm>
#include <chrono>

KL_SET_LOCAL_LOGGER("upnp.core.ssdp");

namespace {

constexpr int64_t kFullMilli = UP_SsdpAnswerRate::kBurst * 1000;

} // namespace

int64_t UP_SsdpAnswerRate::Now() {
    return std::chrono::duration_cast<std::chrono::milliseconds>(
               std::chrono::steady_clock::now().time_since_epoch())
        .count();
}

bool UP_SsdpAnswerRate::Take(const KL_IpAddress& host, KL_Size count, int64_t now) {
    KL_AutoLock lock(m_Lock);
    auto found = m_Buckets.find(host.AsLong());
    if (found == m_Buckets.end()) {
        if (m_Buckets.size() >= kMaxHosts) {
            auto oldest = m_Buckets.begin();
            for (auto it = m_Buckets.begin(); it != m_Buckets.end(); ++it) {
                if (it->second.m_Time < oldest->second.m_Time) {
                    oldest = it;
                }
            }
            (void)m_Buckets.erase(oldest);
        }
        found = m_Buckets.emplace(host.AsLong(), Bucket{kFullMilli, now}).first;
    }
    Bucket& bucket = found->second;
    // kRefillPerSecond tokens a second: kRefillPerSecond thousandths a millisecond.
    const int64_t elapsed = std::max<int64_t>(0, now - bucket.m_Time);
    bucket.m_Milli = std::min(kFullMilli, bucket.m_Milli + elapsed * kRefillPerSecond);
    bucket.m_Time = std::max(bucket.m_Time, now);
    const int64_t needed = static_cast<int64_t>(count) * 1000;
    if (needed > bucket.m_Milli) {
        KL_LOG_FINE("M-SEARCH answer to %s dropped: more than %d datagrams a second",
                    host.ToString().GetChars(), static_cast<int>(kPerSecond));
        return false;
    }
    bucket.m_Milli -= needed;
    return true;
}

void UP_SsdpAnswerRate::Clear() {
    KL_AutoLock lock(m_Lock);
    m_Buckets.clear();
}

KL_Size UP_SsdpAnswerRate::GetHostCount() {
    KL_AutoLock lock(m_Lock);
    return m_Buckets.size();
}
