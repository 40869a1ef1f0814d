// KL_UdpMulticastSocketInterface: group membership, time-to-live and the sending interface.
#pragma once

#include "KL_IpAddress.h"
#include "KL_Result.h"

#include <cstdint>

class KL_UdpMulticastSocketInterface {
public:
    virtual ~KL_UdpMulticastSocketInterface() = default;

    [[nodiscard]] virtual KL_Result JoinGroup(const KL_IpAddress& group,
                                              const KL_IpAddress& interface_address = KL_IpAddress::Any) = 0;
    virtual KL_Result LeaveGroup(const KL_IpAddress& group,
                                 const KL_IpAddress& interface_address = KL_IpAddress::Any) = 0;
    virtual KL_Result SetTimeToLive(uint8_t ttl) = 0;
    virtual KL_Result SetInterface(const KL_IpAddress& interface_address) = 0;
};
