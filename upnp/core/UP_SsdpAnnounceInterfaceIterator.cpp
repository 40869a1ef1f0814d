#include "UP_SsdpAnnounceInterfaceIterator.h"

#include "KL_Check.h"
#include "KL_HttpRequest.h"
#include "KL_NetworkInterface.h"
#include "KL_System.h"
#include "KL_UdpMulticastSocket.h"
#include "UP_DeviceHost.h"
#include "UP_FrameworkDefaults.h"
#include "UP_SsdpConstants.h"
#include "UP_ThreadTask.h"

#include <memory>

KL_SET_LOCAL_LOGGER("upnp.core.ssdp");

namespace {

constexpr int64_t kAliveRepeatMillis = 200;

} // namespace

KL_Result UP_SsdpAnnounceInterfaceIterator::operator()(KL_NetworkInterface* const& iface) const {
    KL_CHECK_POINTER(iface);
    KL_CHECK_POINTER(m_Device);
    const uint32_t flags = iface->GetFlags();
    if (m_Broadcast && (flags & KL_NETWORK_INTERFACE_FLAG_BROADCAST) == 0) {
        return KL_FAILURE;
    }
    auto first = iface->GetAddresses().GetFirstItem();
    if (!first || first->m_PrimaryAddress == KL_IpAddress::Any) {
        return KL_FAILURE;
    }
    const KL_IpAddress& address = first->m_PrimaryAddress;
    if (!m_Broadcast &&
        (flags & (KL_NETWORK_INTERFACE_FLAG_MULTICAST | KL_NETWORK_INTERFACE_FLAG_LOOPBACK)) == 0) {
        KL_LOG_INFO("Not a valid interface: %s (flags: %d)", iface->GetName().GetChars(),
                    static_cast<int>(flags));
        return KL_FAILURE;
    }

    std::unique_ptr<KL_UdpSocket> socket;
    KL_HttpUrl url;
    if (m_Broadcast) {
        socket = std::make_unique<KL_UdpSocket>(KL_SOCKET_FLAG_CANCELLABLE);
        url = KL_HttpUrl(first->m_BroadcastAddress.ToString().GetChars(), UP_SSDP_PORT, "*");
    } else {
        auto multicast_socket = std::make_unique<KL_UdpMulticastSocket>(KL_SOCKET_FLAG_CANCELLABLE);
        KL_Result result = multicast_socket->SetInterface(address);
        if (KL_FAILED(result)) {
            KL_LOG_CHECK_FAILED(KL_LOG_LEVEL_SEVERE, result, "(multicast_socket.SetInterface(addr))");
            return result;
        }
        (void)multicast_socket->SetTimeToLive(
            static_cast<uint8_t>(UP_FrameworkDefaults::Instance().GetAnnounceMulticastTTL()));
        socket = std::move(multicast_socket);
        url = KL_HttpUrl(UP_SSDP_MULTICAST_ADDRESS, UP_SSDP_PORT, "*");
    }

    KL_HttpRequest request(url, "NOTIFY", "HTTP/1.1");
    request.GetHeaders().SetHeader("Host", UP_SSDP_HOST);
    if (m_Type != UP_SSDP_ANNOUNCE_BYEBYE) {
        request.GetHeaders().SetHeader("Location",
                                       m_Device->GetDescriptionUrl(address.ToString().GetChars()).GetChars());
    }
    for (int round = 0; round < 2; ++round) {
        if (round == 1 && m_Type != UP_SSDP_ANNOUNCE_BYEBYE) {
            if (m_Task != nullptr
                    ? m_Task->IsAborting(kAliveRepeatMillis)
                    : KL_FAILED(KL_System::Sleep(KL_TimeStamp::FromMillis(kAliveRepeatMillis)))) {
                return KL_SUCCESS;
            }
        }
        KL_Result result = UP_DeviceHost::Announce(*m_Device, request, *socket, m_Type);
        if (KL_FAILED(result)) {
            KL_LOG_CHECK_FAILED(KL_LOG_LEVEL_SEVERE, result, "(m_Device->Announce(req, *socket, m_Type))");
            return result;
        }
    }
    return KL_SUCCESS;
}
