// KL_BsdTcpClientSocket: a non-blocking connect completed by a wait with the connect check.
#include "KL_BsdTcpClientSocket.h"

#include "KL_Log.h"

#include <cerrno>
#include <netinet/in.h>
#include <sys/socket.h>

KL_SET_LOCAL_LOGGER("keel.socket.bsd");

KL_BsdTcpClientSocket::KL_BsdTcpClientSocket(int fd, uint32_t flags) : KL_BsdSocket(fd, flags) {}

KL_Result KL_BsdTcpClientSocket::Connect(const KL_SocketAddress& address, KL_Timeout timeout) {
    KL_LOG_FINE("connecting to %s port %d", address.m_IpAddress.ToString().GetChars(),
                static_cast<int>(address.m_Port));
    struct sockaddr_in in;
    ToSockAddr(address, in);
    if (connect(Fd().GetFd(), reinterpret_cast<const struct sockaddr*>(&in), sizeof in) == 0) {
        KL_LOG_FINE("immediate connection");
        (void)RefreshInfo();
        return KL_SUCCESS;
    }
    KL_Result result = KL_BsdSocketFd::MapError(errno);
    if (result == KL_ERROR_WOULD_BLOCK && timeout != 0) {
        result = WaitForConnection(timeout);
    }
    return result;
}

KL_Result KL_BsdTcpClientSocket::WaitForConnection(KL_Timeout timeout) {
    KL_Result result = Fd().Wait(true, true, true, timeout);
    (void)RefreshInfo();
    return result;
}
