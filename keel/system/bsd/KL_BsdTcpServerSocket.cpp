// KL_BsdTcpServerSocket: listen (implicitly with a backlog of 20) and accept within a time-out.
#include "KL_BsdTcpServerSocket.h"

#include "KL_Log.h"
#include "KL_Socket.h"

#include <cerrno>
#include <climits>
#include <sys/socket.h>

KL_SET_LOCAL_LOGGER("keel.socket.bsd");

KL_BsdTcpServerSocket::KL_BsdTcpServerSocket(int fd, uint32_t flags) : KL_BsdSocket(fd, flags) {}

KL_Result KL_BsdTcpServerSocket::Listen(uint32_t max_clients) {
    int backlog = max_clients > INT_MAX ? INT_MAX : static_cast<int>(max_clients);
    if (listen(Fd().GetFd(), backlog) != 0) {
        m_ListenMax = 0;
        return KL_ERROR_LISTEN_FAILED;
    }
    m_ListenMax = max_clients;
    return KL_SUCCESS;
}

KL_Result KL_BsdTcpServerSocket::WaitForNewClient(KL_Socket*& client, KL_Timeout timeout, uint32_t flags) {
    client = nullptr;
    if (m_ListenMax == 0) {
        (void)Listen(20);
    }
    KL_LOG_FINER("waiting until socket is readable or writeable");
    KL_Result result = Fd().Wait(true, true, false, timeout);
    if (KL_FAILED(result)) {
        return result;
    }
    KL_LOG_FINER("accepting connection");
    int fd = accept4(Fd().GetFd(), nullptr, nullptr, SOCK_CLOEXEC);
    if (fd < 0) {
        int e = errno;
        if (Fd().IsCancelled()) {
            return KL_ERROR_CANCELLED;
        }
        KL_LOG_FINE("socket error %d", e);
        return KL_BsdSocketFd::MapError(e);
    }
    client = new KL_Socket(new KL_BsdSocket(fd, flags));
    return KL_SUCCESS;
}

KL_Result KL_BsdTcpServerSocket::GetInputStream(KL_InputStreamReference& stream) {
    stream = KL_InputStreamReference();
    return KL_ERROR_NOT_IMPLEMENTED;
}

KL_Result KL_BsdTcpServerSocket::GetOutputStream(KL_OutputStreamReference& stream) {
    stream = KL_OutputStreamReference();
    return KL_ERROR_NOT_IMPLEMENTED;
}
