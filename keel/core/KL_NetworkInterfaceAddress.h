// KL_NetworkInterfaceAddress: one IPv4 address of a network interface with its broadcast and
// destination addresses and its net mask.
#pragma once

#include "KL_IpAddress.h"

class KL_NetworkInterfaceAddress {
public:
    KL_NetworkInterfaceAddress() = default;
    KL_NetworkInterfaceAddress(const KL_IpAddress& primary, const KL_IpAddress& broadcast,
                               const KL_IpAddress& destination, const KL_IpAddress& net_mask)
        : m_PrimaryAddress(primary), m_BroadcastAddress(broadcast), m_DestinationAddress(destination),
          m_NetMask(net_mask) {}

    bool operator==(const KL_NetworkInterfaceAddress& other) const {
        return m_PrimaryAddress == other.m_PrimaryAddress && m_BroadcastAddress == other.m_BroadcastAddress &&
               m_DestinationAddress == other.m_DestinationAddress && m_NetMask == other.m_NetMask;
    }

    KL_IpAddress m_PrimaryAddress;
    KL_IpAddress m_BroadcastAddress;
    KL_IpAddress m_DestinationAddress;
    KL_IpAddress m_NetMask;
};
