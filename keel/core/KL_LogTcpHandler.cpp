#include "KL_LogTcpHandler.h"

#include "KL_IpAddress.h"
#include "KL_LogFormat.h"
#include "KL_SocketAddress.h"
#include "KL_TcpClientSocket.h"

KL_Result KL_LogTcpHandler::Connect() {
    KL_IpAddress address;
    KL_Result result = address.ResolveName(m_Hostname.GetChars(), TIMEOUT_MS);
    if (KL_FAILED(result)) {
        return result;
    }
    KL_TcpClientSocket socket(uint32_t{0});
    result = socket.Connect(KL_SocketAddress(address, m_Port), TIMEOUT_MS);
    if (KL_FAILED(result)) {
        return result;
    }
    (void)socket.SetWriteTimeout(TIMEOUT_MS);
    // The stream keeps the connection open once the socket object is gone.
    return socket.GetOutputStream(m_Stream);
}

void KL_LogTcpHandler::Fail() {
    m_Stream.Release();
    m_FailedAt = std::chrono::steady_clock::now();
}

void KL_LogTcpHandler::Log(const KL_LogRecord& record) {
    if (m_Stream.IsNull()) {
        if (m_FailedAt && std::chrono::steady_clock::now() - *m_FailedAt < m_RetryInterval) {
            return; // too soon after a failure: the record is dropped
        }
        if (KL_FAILED(Connect())) {
            Fail();
            return;
        }
        m_FailedAt.reset();
    }
    KL_String text;
    KL_LogFormatNetworkRecord(record, text);
    if (KL_FAILED(m_Stream->WriteString(text.GetChars()))) {
        Fail();
    }
}
