#include "UP_HttpSocketProbe.h"

#include "KL_Socket.h"
#include "KL_SocketInfo.h"

#include <cstddef>
#include <linux/tcp.h>
#include <netinet/in.h>
#include <sys/ioctl.h>
#include <sys/socket.h>

namespace {

class SystemProbe : public UP_HttpSocketProbe {
public:
    uint32_t PeerOf(KL_Socket* socket) override {
        KL_SocketInfo info;
        (void)socket->GetInfo(info);
        return info.remote_address.m_IpAddress.AsLong();
    }
    bool HasUnread(KL_Socket* socket) override {
        int unread = 0;
        const int fd = socket->GetDescriptor();
        return fd >= 0 && ::ioctl(fd, FIONREAD, &unread) == 0 && unread > 0;
    }
    bool GetAcknowledged(KL_Socket* socket, uint64_t& bytes, bool& waiting) override {
        const int fd = socket->GetDescriptor();
        tcp_info info{};
        socklen_t length = sizeof info;
        if (fd < 0 || ::getsockopt(fd, IPPROTO_TCP, TCP_INFO, &info, &length) != 0 ||
            length < offsetof(tcp_info, tcpi_notsent_bytes) + sizeof info.tcpi_notsent_bytes) {
            return false;
        }
        bytes = info.tcpi_bytes_acked;
        waiting = info.tcpi_unacked != 0 || info.tcpi_notsent_bytes != 0;
        return true;
    }
    void Cancel(KL_Socket* socket) override { (void)socket->Cancel(true); }
};

} // namespace

UP_HttpSocketProbe& UP_HttpSocketProbe::System() {
    static SystemProbe probe;
    return probe;
}
