// KL_LogTcpHandler: sends each record in the network record form (see KL_LogFormat.h) over one
// TCP connection, made when the first record comes and made again after a failed write.
#pragma once

#include "KL_LogHandler.h"
#include "KL_OutputStream.h"

#include <cstdint>

class KL_LogTcpHandler : public KL_LogHandler {
public:
    static constexpr uint16_t DEFAULT_PORT = 7723;
    // Resolving, connecting, and each write: a receiver that stops reading cannot stall logging
    // for longer than this.
    static constexpr uint32_t TIMEOUT_MS = 5000;

    explicit KL_LogTcpHandler(const char* hostname = "localhost", uint16_t port = DEFAULT_PORT)
        : m_Hostname(hostname), m_Port(port) {}

    void Log(const KL_LogRecord& record) override;

private:
    KL_Result Connect();

    KL_String m_Hostname;
    uint16_t m_Port;
    KL_OutputStreamReference m_Stream;
};
