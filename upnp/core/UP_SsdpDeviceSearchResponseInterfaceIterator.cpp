#include "UP_SsdpDeviceSearchResponseInterfaceIterator.h"

#include "KL_Check.h"
#include "KL_HttpResponse.h"
#include "KL_UdpSocket.h"
#include "UP_DeviceHost.h"
#include "UP_SsdpAnswerRate.h"
#include "UP_SsdpConstants.h"
#include "UP_UPnPMessageHelper.h"

KL_SET_LOCAL_LOGGER("upnp.core.ssdp");

namespace {

constexpr KL_Timeout kConnectTimeout = 5000;
constexpr uint32_t kLoopbackNet = 0x7F000000;
constexpr uint32_t kLoopbackMask = 0xFF000000;
// 224.0.0.0/4 (multicast) and 240.0.0.0/4 (reserved, with 255.255.255.255) name no single host.
constexpr uint32_t kMulticastAndAbove = 0xE0000000;
// 0.0.0.0/8: "this network".
constexpr uint32_t kThisNetworkMask = 0xFF000000;

// True when the address is the network or the broadcast address of the entry's subnet, or the
// entry's broadcast address.
bool IsSpecialFor(const KL_NetworkInterfaceAddress& entry, uint32_t remote) {
    const uint32_t primary = entry.m_PrimaryAddress.AsLong();
    const uint32_t mask = entry.m_NetMask.AsLong();
    if (entry.m_BroadcastAddress != KL_IpAddress::Any && remote == entry.m_BroadcastAddress.AsLong()) {
        return true;
    }
    // /31 and /32 subnets have no network or broadcast address of their own.
    if (mask >= 0xFFFFFFFEu || (primary & mask) != (remote & mask)) {
        return false;
    }
    return (remote & ~mask) == 0 || (remote & ~mask) == ~mask;
}

} // namespace

bool UP_SsdpDeviceSearchResponseInterfaceIterator::IsAnswerableSender(
    const KL_NetworkInterfaceList& interfaces, const KL_IpAddress& address) {
    const uint32_t remote = address.AsLong();
    if ((remote & kThisNetworkMask) == 0 || remote >= kMulticastAndAbove) {
        return false;
    }
    for (const KL_NetworkInterface* iface : interfaces) {
        if (iface == nullptr) {
            continue;
        }
        for (const KL_NetworkInterfaceAddress& entry : iface->GetAddresses()) {
            if (IsSpecialFor(entry, remote)) {
                return false;
            }
        }
    }
    return IsInSubnet(interfaces, address);
}

bool UP_SsdpDeviceSearchResponseInterfaceIterator::IsInSubnet(const KL_NetworkInterface& iface,
                                                              const KL_IpAddress& address) {
    const uint32_t remote = address.AsLong();
    if ((iface.GetFlags() & KL_NETWORK_INTERFACE_FLAG_LOOPBACK) != 0 &&
        (remote & kLoopbackMask) == kLoopbackNet) {
        return true;
    }
    for (const KL_NetworkInterfaceAddress& entry : iface.GetAddresses()) {
        const uint32_t mask = entry.m_NetMask.AsLong();
        if (entry.m_PrimaryAddress != KL_IpAddress::Any &&
            (entry.m_PrimaryAddress.AsLong() & mask) == (remote & mask)) {
            return true;
        }
    }
    return false;
}

bool UP_SsdpDeviceSearchResponseInterfaceIterator::IsInSubnet(const KL_NetworkInterfaceList& interfaces,
                                                              const KL_IpAddress& address) {
    for (const KL_NetworkInterface* iface : interfaces) {
        if (iface != nullptr && IsInSubnet(*iface, address)) {
            return true;
        }
    }
    return false;
}

KL_Result UP_SsdpDeviceSearchResponseInterfaceIterator::operator()(KL_NetworkInterface* const& iface) const {
    KL_CHECK_POINTER(iface);
    KL_CHECK_POINTER(m_Device);
    if (iface->GetAddresses().GetItemCount() == 0) {
        return KL_SUCCESS;
    }
    // Answers go only to searchers on this interface's own network: an answer never travels
    // further than the searcher's multicast could have come from.
    if (!IsInSubnet(*iface, m_RemoteAddr.m_IpAddress)) {
        return KL_SUCCESS;
    }
    // Without SO_BROADCAST: whatever slipped through, an answer never goes to a whole network.
    KL_UdpSocket socket(KL_SOCKET_FLAG_CANCELLABLE | KL_SOCKET_FLAG_NO_BROADCAST);
    KL_Result result = socket.Connect(m_RemoteAddr, kConnectTimeout);
    if (KL_FAILED(result)) {
        KL_LOG_CHECK_FAILED(KL_LOG_LEVEL_WARNING, result, "(socket.Connect(m_RemoteAddr, 5000))");
        return result;
    }
    KL_SocketInfo info;
    (void)socket.GetInfo(info);
    const KL_IpAddress& local = info.local_address.m_IpAddress;
    const KL_SocketAddress* remote_addr = nullptr;
    if (local != KL_IpAddress::Any) {
        bool ours = false;
        for (const KL_NetworkInterfaceAddress& entry : iface->GetAddresses()) {
            ours = ours || entry.m_PrimaryAddress == local;
        }
        if (!ours) {
            return KL_SUCCESS;
        }
    } else {
        remote_addr = &m_RemoteAddr;
    }

    KL_HttpResponse response(200, "OK", "HTTP/1.1");
    KL_HttpHeaders& headers = response.GetHeaders();
    headers.SetHeader("Location", m_Device->GetDescriptionUrl(local.ToString().GetChars()).GetChars());
    (void)UP_UPnPMessageHelper::SetCacheMaxAge(response, m_Device->GetLeaseTime());
    headers.SetHeader("Server", UP_SSDP_SERVER_HEADER, false);
    headers.SetHeader("EXT", "");
    if (m_Rate != nullptr &&
        !m_Rate->Take(m_RemoteAddr.m_IpAddress, UP_DeviceHost::CountSsdpSearchResponses(*m_Device, m_ST),
                      UP_SsdpAnswerRate::Now())) {
        return KL_SUCCESS;
    }
    result = m_Device->SendSsdpSearchResponse(response, socket, m_ST.GetChars(), remote_addr);
    if (KL_FAILED(result)) {
        KL_LOG_CHECK_FAILED(KL_LOG_LEVEL_SEVERE, result,
                            "(m_Device->SendSsdpSearchResponse(response, socket, m_ST, remote_addr))");
        return result;
    }
    return KL_SUCCESS;
}
