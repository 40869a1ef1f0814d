#include "KL_LogUdpHandler.h"

#include "KL_DataBuffer.h"
#include "KL_IpAddress.h"
#include "KL_LogFormat.h"

namespace {

constexpr KL_Timeout kResolveTimeout = 5000;

} // namespace

KL_LogUdpHandler::KL_LogUdpHandler() : m_Socket(uint32_t{0}) {}

KL_Result KL_LogUdpHandler::SetTarget(const char* hostname, uint16_t port) {
    KL_IpAddress address;
    const KL_Result result = address.ResolveName(hostname, kResolveTimeout);
    if (KL_FAILED(result)) {
        return result;
    }
    m_Target = KL_SocketAddress(address, port);
    return KL_SUCCESS;
}

void KL_LogUdpHandler::Log(const KL_LogRecord& record) {
    KL_String text;
    KL_LogFormatNetworkRecord(record, text);
    KL_DataBuffer packet;
    // The text and its NUL.
    if (KL_FAILED(packet.SetData(text.GetChars(), text.GetLength() + 1))) {
        return;
    }
    (void)m_Socket.Send(packet, &m_Target);
}
