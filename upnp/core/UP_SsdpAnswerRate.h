// UP_SsdpAnswerRate: bounds the M-SEARCH answer datagrams a device host sends to one host (IP
// address), whatever the searches claim as their source: a token bucket per host holding at most
// kBurst datagrams, refilled at kRefillPerSecond = kPerSecond - kBurst a second, so that no second
// sees more than kPerSecond; an answer that finds too few tokens is dropped whole. Forged searches
// naming a victim as their source thus bring it at most kPerSecond datagrams in any second.
//
// At most kMaxHosts buckets are kept; a new host then takes the place of the one unused longest
// (a full bucket, unless every one was used in the last kBurst / kPerSecond seconds).
//
// Thread-safe (one lock): the answer task and, for searches answered at once, the listen task
// take tokens.
#pragma once

#include "KL_IpAddress.h"
#include "KL_Mutex.h"
#include "KL_Types.h"
#include "UP_SsdpConstants.h"

#include <cstdint>
#include <unordered_map>

class UP_SsdpAnswerRate {
public:
    static constexpr int64_t kPerSecond = UP_SSDP_MAX_ANSWERS_PER_SECOND;
    static constexpr int64_t kBurst = 25; // one answer round of a device, its services and four ports
    static constexpr int64_t kRefillPerSecond = kPerSecond - kBurst;
    static constexpr KL_Size kMaxHosts = 1024;

    // The monotonic clock in milliseconds (the time of Take and of the pending searches).
    static int64_t Now();

    // True when count datagrams may go to host at now (monotonic milliseconds); they are counted.
    bool Take(const KL_IpAddress& host, KL_Size count, int64_t now);
    void Clear();
    KL_Size GetHostCount();

private:
    // Tokens in thousandths, so that a millisecond refills a whole number of them.
    struct Bucket {
        int64_t m_Milli = 0;
        int64_t m_Time = 0;
    };

    KL_Mutex m_Lock;
    std::unordered_map<uint32_t, Bucket> m_Buckets;
};
