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

void KL_LogTcpHandler::Log(const KL_LogRecord& record) {
    if (m_Stream.IsNull() && KL_FAILED(Connect())) {
        m_Stream.Release();
        return;
    }
    KL_String text;
    KL_LogFormatNetworkRecord(record, text);
    if (KL_FAILED(m_Stream->WriteString(text.GetChars()))) {
        m_Stream.Release();
    }
}
