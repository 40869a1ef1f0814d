// UP_UPnPMessageHelper: static helpers that read and write the HTTP headers of UPnP and
// list the local interfaces and IPv4 addresses.
#pragma once

#include "KL_HttpMessage.h"
#include "KL_IpAddress.h"
#include "KL_List.h"
#include "KL_NetworkInterface.h"
#include "KL_Result.h"
#include "KL_TimeStamp.h"

#include <cstdint>

class UP_UPnPMessageHelper {
public:
    // The usable interfaces (multicast, not point-to-point) with loopback as asked; when none
    // qualifies, the loopback interface alone. The caller deletes the records
    // (KL_DeleteNetworkInterfaces).
    [[nodiscard]] static KL_Result GetNetworkInterfaces(KL_NetworkInterfaceList& interfaces,
                                                        bool with_localhost);
    // The first IPv4 address of each usable interface, never 0.0.0.0; 127.0.0.1 only with
    // with_localhost, and then always present. On failure the list is left empty.
    [[nodiscard]] static KL_Result GetIPAddresses(KL_List<KL_IpAddress>& ips, bool with_localhost = false);

    // "Cache-Control: max-age=<whole seconds>".
    static KL_Result SetCacheMaxAge(KL_HttpMessage& message, const KL_TimeStamp& lease);
    static KL_Result SetBootIdHeader(KL_HttpMessage& message, uint32_t boot_id);
    static KL_Result SetNextBootIdHeader(KL_HttpMessage& message, uint32_t next_boot_id);
    static KL_Result SetConfigIdHeader(KL_HttpMessage& message, uint32_t config_id);
    // "MX" as a strict unsigned decimal; KL_ERROR_INVALID_PARAMETERS when absent. mx is 0 on
    // every failure.
    static KL_Result GetMX(const KL_HttpMessage& message, uint32_t& mx);
};
