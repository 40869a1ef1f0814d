// KL_BsdSocket: binding, addresses, streams, time-outs and cancellation of every socket kind.
#include "KL_BsdSocket.h"

#include "KL_BsdSocketInputStream.h"
#include "KL_BsdSocketOutputStream.h"
#include "KL_Log.h"

#include <arpa/inet.h>
#include <cerrno>
#include <cstring>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <sys/socket.h>

KL_SET_LOCAL_LOGGER("keel.socket.bsd");

KL_BsdSocket::KL_BsdSocket(int fd, uint32_t flags)
    : m_SocketFdReference(new KL_BsdSocketFd(fd, (flags & KL_SOCKET_FLAG_CANCELLABLE) != 0), true) {
    // Linux has no SO_NOSIGPIPE: every send passes MSG_NOSIGNAL instead.
    (void)RefreshInfo();
}

int KL_BsdSocket::CreateDescriptor(int type) {
    return socket(AF_INET, type | SOCK_CLOEXEC, 0);
}

void KL_BsdSocket::ToSockAddr(const KL_SocketAddress& address, struct sockaddr_in& out) {
    std::memset(&out, 0, sizeof out);
    out.sin_family = AF_INET;
    out.sin_port = htons(static_cast<uint16_t>(address.m_Port));
    out.sin_addr.s_addr = htonl(address.m_IpAddress.AsLong());
}

KL_SocketAddress KL_BsdSocket::FromSockAddr(const struct sockaddr_in& in) {
    return KL_SocketAddress(KL_IpAddress(ntohl(in.sin_addr.s_addr)), ntohs(in.sin_port));
}

void KL_BsdSocket::SetOption(int level, int option, int value, const char* name) {
    if (setsockopt(Fd().GetFd(), level, option, &value, sizeof value) != 0) {
        KL_LOG_WARNING("setsockopt %s failed (%d)", name, errno);
    }
}

KL_Result KL_BsdSocket::RefreshInfo() {
    if (!Fd().IsValid()) {
        return KL_ERROR_INVALID_STATE;
    }
    KL_AutoLock lock(m_InfoLock);
    struct sockaddr_in address;
    socklen_t length = sizeof address;
    if (getsockname(Fd().GetFd(), reinterpret_cast<struct sockaddr*>(&address), &length) == 0 &&
        address.sin_family == AF_INET) {
        m_Info.local_address = FromSockAddr(address);
    }
    length = sizeof address;
    if (getpeername(Fd().GetFd(), reinterpret_cast<struct sockaddr*>(&address), &length) == 0 &&
        address.sin_family == AF_INET) {
        m_Info.remote_address = FromSockAddr(address);
    }
    return KL_SUCCESS;
}

KL_Result KL_BsdSocket::Bind(const KL_SocketAddress& address, bool reuse) {
    SetOption(SOL_SOCKET, SO_REUSEADDR, 1, "SO_REUSEADDR");
    if (reuse) {
        KL_LOG_FINE("setting SO_REUSEADDR option on socket");
        SetOption(SOL_SOCKET, SO_REUSEPORT, 1, "SO_REUSEPORT");
    }
    struct sockaddr_in in;
    ToSockAddr(address, in);
    if (bind(Fd().GetFd(), reinterpret_cast<const struct sockaddr*>(&in), sizeof in) != 0) {
        return KL_BsdSocketFd::MapError(errno);
    }
    (void)RefreshInfo();
    return KL_SUCCESS;
}

KL_Result KL_BsdSocket::Connect(const KL_SocketAddress&, KL_Timeout) {
    return KL_ERROR_NOT_IMPLEMENTED;
}

KL_Result KL_BsdSocket::WaitForConnection(KL_Timeout) {
    return KL_ERROR_NOT_IMPLEMENTED;
}

KL_Result KL_BsdSocket::GetInputStream(KL_InputStreamReference& stream) {
    if (!Fd().IsValid()) {
        stream = KL_InputStreamReference();
        return KL_ERROR_INTERNAL;
    }
    stream = KL_InputStreamReference(new KL_BsdSocketInputStream(m_SocketFdReference), true);
    return KL_SUCCESS;
}

KL_Result KL_BsdSocket::GetOutputStream(KL_OutputStreamReference& stream) {
    if (!Fd().IsValid()) {
        stream = KL_OutputStreamReference();
        return KL_ERROR_INTERNAL;
    }
    stream = KL_OutputStreamReference(new KL_BsdSocketOutputStream(m_SocketFdReference), true);
    return KL_SUCCESS;
}

KL_Result KL_BsdSocket::GetInfo(KL_SocketInfo& info) {
    KL_AutoLock lock(m_InfoLock);
    info = m_Info;
    return KL_SUCCESS;
}

KL_Result KL_BsdSocket::SetReadTimeout(KL_Timeout timeout) {
    Fd().SetReadTimeout(timeout);
    return KL_SUCCESS;
}

KL_Result KL_BsdSocket::SetWriteTimeout(KL_Timeout timeout) {
    Fd().SetWriteTimeout(timeout);
    return KL_SUCCESS;
}

KL_Result KL_BsdSocket::Cancel(bool shutdown) {
    return Fd().Cancel(shutdown);
}

KL_Result KL_BsdSocket::SetNoDelay(bool on) {
    int value = on ? 1 : 0;
    if (setsockopt(Fd().GetFd(), IPPROTO_TCP, TCP_NODELAY, &value, sizeof value) != 0) {
        return KL_ERROR_SETSOCKOPT_FAILED;
    }
    Fd().SetNoDelay(on);
    return KL_SUCCESS;
}

KL_Result KL_BsdSocket::SetQuickAck(bool on) {
#ifdef TCP_QUICKACK
    int value = on ? 1 : 0;
    if (setsockopt(Fd().GetFd(), IPPROTO_TCP, TCP_QUICKACK, &value, sizeof value) != 0) {
        return KL_ERROR_SETSOCKOPT_FAILED;
    }
    Fd().SetQuickAck(on);
    return KL_SUCCESS;
#else
    (void)on;
    return KL_ERROR_NOT_IMPLEMENTED;
#endif
}
