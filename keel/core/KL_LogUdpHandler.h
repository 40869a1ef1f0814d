// KL_LogUdpHandler: sends each record in the network record form (see KL_LogFormat.h), with its
// terminating NUL, as one datagram to a target resolved once.
#pragma once

#include "KL_LogHandler.h"
#include "KL_SocketAddress.h"
#include "KL_UdpSocket.h"

#include <cstdint>

class KL_LogUdpHandler : public KL_LogHandler {
public:
    static constexpr uint16_t DEFAULT_PORT = 7724;

    KL_LogUdpHandler();

    // Resolves the target host; the handler is of no use when this fails.
    [[nodiscard]] KL_Result SetTarget(const char* hostname, uint16_t port);
    void Log(const KL_LogRecord& record) override;

private:
    KL_UdpSocket m_Socket;
    KL_SocketAddress m_Target;
};
