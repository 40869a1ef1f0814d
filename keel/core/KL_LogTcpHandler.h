// KL_LogTcpHandler: sends each record in the network record form (see KL_LogFormat.h) over one
// TCP connection, made when the first record comes and made again after a failure. After a failed
// connect or write the handler waits RETRY_INTERVAL_MS before it tries again and drops the records
// that come meanwhile, so that a missing receiver costs the threads that log one wait, not one per
// record (the log manager calls handlers under its lock).
#pragma once

#include "KL_LogHandler.h"
#include "KL_OutputStream.h"

#include <chrono>
#include <cstdint>
#include <optional>

class KL_LogTcpHandler : public KL_LogHandler {
public:
    static constexpr uint16_t DEFAULT_PORT = 7723;
    // Resolving, connecting, and each write: a receiver that stops reading cannot stall logging
    // for longer than this.
    static constexpr uint32_t TIMEOUT_MS = 5000;
    static constexpr uint32_t RETRY_INTERVAL_MS = 5000;

    explicit KL_LogTcpHandler(const char* hostname = "localhost", uint16_t port = DEFAULT_PORT,
                              uint32_t retry_interval_ms = RETRY_INTERVAL_MS)
        : m_Hostname(hostname), m_Port(port), m_RetryInterval(retry_interval_ms) {}

    void Log(const KL_LogRecord& record) override;

private:
    KL_Result Connect();
    void Fail();

    KL_String m_Hostname;
    uint16_t m_Port;
    std::chrono::milliseconds m_RetryInterval;
    KL_OutputStreamReference m_Stream;
    std::optional<std::chrono::steady_clock::time_point> m_FailedAt; // the last failure, if any
};
