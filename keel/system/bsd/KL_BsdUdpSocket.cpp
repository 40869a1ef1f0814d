// KL_BsdUdpSocket: datagrams sent and received with the socket's time-outs and cancellation.
#include "KL_BsdUdpSocket.h"

#include "KL_Log.h"

#include <cerrno>
#include <netinet/in.h>
#include <sys/socket.h>

KL_SET_LOCAL_LOGGER("keel.socket.bsd");

KL_BsdUdpSocket::KL_BsdUdpSocket(int fd, uint32_t flags) : KL_BsdSocket(fd, flags) {
    if ((flags & KL_SOCKET_FLAG_NO_BROADCAST) == 0) {
        SetOption(SOL_SOCKET, SO_BROADCAST, 1, "SO_BROADCAST");
    }
}

KL_Result KL_BsdUdpSocket::Bind(const KL_SocketAddress& address, bool reuse) {
    if (reuse) {
        KL_LOG_FINE("setting SO_REUSEPORT option on socket");
        SetOption(SOL_SOCKET, SO_REUSEPORT, 1, "SO_REUSEPORT");
    }
    return KL_BsdSocket::Bind(address, reuse);
}

KL_Result KL_BsdUdpSocket::Connect(const KL_SocketAddress& address, KL_Timeout) {
    KL_LOG_FINE("connecting to %s, port %d", address.m_IpAddress.ToString().GetChars(),
                static_cast<int>(address.m_Port));
    struct sockaddr_in in;
    ToSockAddr(address, in);
    if (connect(Fd().GetFd(), reinterpret_cast<const struct sockaddr*>(&in), sizeof in) != 0) {
        int e = errno;
        KL_LOG_WARNING("socket error %d", e);
        return KL_BsdSocketFd::MapError(e);
    }
    (void)RefreshInfo();
    return KL_SUCCESS;
}

KL_Result KL_BsdUdpSocket::Send(const KL_DataBuffer& packet, const KL_SocketAddress* address) {
    KL_BsdSocketFd& fd = Fd();
    if (fd.GetWriteTimeout() != 0) {
        KL_Result result = fd.Wait(false, true, false, fd.GetWriteTimeout());
        if (KL_FAILED(result)) {
            return result;
        }
    }
    ssize_t sent;
    if (address != nullptr) {
        KL_LOG_FINEST("sending datagram to %s port %d", address->m_IpAddress.ToString().GetChars(),
                      static_cast<int>(address->m_Port));
        struct sockaddr_in in;
        ToSockAddr(*address, in);
        sent = sendto(fd.GetFd(), packet.GetData(), packet.GetDataSize(), MSG_NOSIGNAL,
                      reinterpret_cast<const struct sockaddr*>(&in), sizeof in);
    } else {
        KL_LOG_FINEST("sending datagram");
        sent = send(fd.GetFd(), packet.GetData(), packet.GetDataSize(), MSG_NOSIGNAL);
    }
    int e = errno;
    if (fd.IsCancelled()) {
        return KL_ERROR_CANCELLED;
    }
    if (sent < 0) {
        KL_LOG_FINE("socket error %d", e);
        return KL_BsdSocketFd::MapError(e);
    }
    fd.AddToPosition(packet.GetDataSize());
    return KL_SUCCESS;
}

KL_Result KL_BsdUdpSocket::Receive(KL_DataBuffer& packet, KL_SocketAddress* address) {
    if (packet.GetBufferSize() == 0) {
        return KL_ERROR_INVALID_PARAMETERS;
    }
    KL_BsdSocketFd& fd = Fd();
    if (fd.GetReadTimeout() != 0) {
        KL_Result result = fd.Wait(true, false, false, fd.GetReadTimeout());
        if (KL_FAILED(result)) {
            packet.SetDataSize(0);
            return result;
        }
    }
    ssize_t received;
    if (address != nullptr) {
        struct sockaddr_in in;
        socklen_t length = sizeof in;
        received = recvfrom(fd.GetFd(), packet.UseData(), packet.GetBufferSize(), 0,
                            reinterpret_cast<struct sockaddr*>(&in), &length);
        if (received >= 0 && length == sizeof in) {
            *address = FromSockAddr(in);
            KL_LOG_FINEST("receiving datagram from %s port %d", address->m_IpAddress.ToString().GetChars(),
                          static_cast<int>(address->m_Port));
        }
    } else {
        KL_LOG_FINEST("receiving datagram");
        received = recv(fd.GetFd(), packet.UseData(), packet.GetBufferSize(), 0);
    }
    int e = errno;
    if (fd.IsCancelled() || received < 0) {
        packet.SetDataSize(0);
        return fd.IsCancelled() ? KL_ERROR_CANCELLED : KL_BsdSocketFd::MapError(e);
    }
    packet.SetDataSize(static_cast<KL_Size>(received));
    fd.AddToPosition(static_cast<uint64_t>(received));
    return KL_SUCCESS;
}
