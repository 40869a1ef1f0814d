// UDP sockets on 127.0.0.1: datagrams with their sender, time-outs, an empty buffer, two sockets
// sharing a port, a connected socket, and the errno table.
#include "KL_BsdSocketFd.h"
#include "KL_DataBuffer.h"
#include "KL_UdpMulticastSocket.h"
#include "KL_UdpSocket.h"
#include "NetTestSupport.h"

#include <cerrno>
#include <string>

using nettest::LocalPort;
using nettest::Loopback;

namespace {
std::string Text(const KL_DataBuffer& buffer) {
    return std::string(reinterpret_cast<const char*>(buffer.GetData()), buffer.GetDataSize());
}
} // namespace

TEST(UdpSocketTest, DatagramWithItsSender) {
    KL_UdpSocket receiver(KL_SOCKET_FLAG_CANCELLABLE);
    KL_UdpSocket sender(KL_SOCKET_FLAG_CANCELLABLE);
    ASSERT_EQ(receiver.Bind(Loopback(0)), KL_SUCCESS);
    ASSERT_EQ(sender.Bind(Loopback(0)), KL_SUCCESS);
    KL_SocketAddress destination = Loopback(LocalPort(receiver));
    EXPECT_EQ(sender.Send(KL_DataBuffer("hello", 5), &destination), KL_SUCCESS);
    (void)receiver.SetReadTimeout(nettest::kWait);
    KL_DataBuffer packet(64);
    KL_SocketAddress from;
    ASSERT_EQ(receiver.Receive(packet, &from), KL_SUCCESS);
    EXPECT_EQ(Text(packet), "hello");
    EXPECT_EQ(from, Loopback(LocalPort(sender)));
}

TEST(UdpSocketTest, ConnectedSocketSendsWithoutAddress) {
    KL_UdpSocket receiver(KL_SOCKET_FLAG_CANCELLABLE);
    KL_UdpSocket sender(KL_SOCKET_FLAG_CANCELLABLE);
    ASSERT_EQ(receiver.Bind(Loopback(0)), KL_SUCCESS);
    ASSERT_EQ(sender.Connect(Loopback(LocalPort(receiver)), 0), KL_SUCCESS);
    KL_SocketInfo info;
    (void)sender.GetInfo(info);
    EXPECT_EQ(info.remote_address, Loopback(LocalPort(receiver)));
    EXPECT_EQ(sender.Send(KL_DataBuffer("abc", 3)), KL_SUCCESS);
    (void)receiver.SetReadTimeout(nettest::kWait);
    KL_DataBuffer packet(2); // a longer datagram is cut to the buffer
    ASSERT_EQ(receiver.Receive(packet), KL_SUCCESS);
    EXPECT_EQ(Text(packet), "ab");
}

TEST(UdpSocketTest, ReceiveFailures) {
    KL_UdpSocket socket(KL_SOCKET_FLAG_CANCELLABLE);
    ASSERT_EQ(socket.Bind(Loopback(0)), KL_SUCCESS);
    KL_DataBuffer empty;
    EXPECT_EQ(socket.Receive(empty), KL_ERROR_INVALID_PARAMETERS);
    const struct {
        KL_Timeout timeout;
        KL_Result result;
    } cases[] = {{0, KL_ERROR_WOULD_BLOCK}, {100, KL_ERROR_TIMEOUT}};
    for (const auto& c : cases) {
        (void)socket.SetReadTimeout(c.timeout);
        KL_DataBuffer packet(16);
        EXPECT_EQ(socket.Receive(packet), c.result);
        EXPECT_EQ(packet.GetDataSize(), 0u);
    }
    (void)socket.Cancel(false);
    (void)socket.SetReadTimeout(KL_TIMEOUT_INFINITE);
    KL_DataBuffer packet(16);
    EXPECT_EQ(socket.Receive(packet), KL_ERROR_CANCELLED);
}

TEST(UdpSocketTest, TwoSocketsShareAPortWithReuse) {
    KL_UdpMulticastSocket first(KL_SOCKET_FLAG_CANCELLABLE);
    KL_UdpMulticastSocket second(KL_SOCKET_FLAG_CANCELLABLE);
    ASSERT_EQ(first.Bind(KL_SocketAddress(KL_IpAddress::Any, 0), true), KL_SUCCESS);
    EXPECT_EQ(second.Bind(KL_SocketAddress(KL_IpAddress::Any, LocalPort(first)), true), KL_SUCCESS);
}

TEST(SocketErrorTest, ErrnoTable) {
    const struct {
        int e;
        KL_Result result;
    } cases[] = {
        {EINTR, KL_ERROR_INTERRUPTED},
        {EPIPE, KL_ERROR_CONNECTION_RESET},
        {EAGAIN, KL_ERROR_WOULD_BLOCK},
        {EINPROGRESS, KL_ERROR_WOULD_BLOCK},
        {ENOTCONN, -20415},
        {ECONNREFUSED, KL_ERROR_CONNECTION_REFUSED},
        {ETIMEDOUT, KL_ERROR_TIMEOUT},
        {EBADF, -22009},
        {ENOBUFS, KL_ResultFromErrno(ENOBUFS)},
    };
    for (const auto& c : cases) {
        EXPECT_EQ(KL_BsdSocketFd::MapError(c.e), c.result) << c.e;
    }
    EXPECT_STREQ(KL_GetResultText(KL_BsdSocketFd::MapError(ENOTCONN)), "UNKNOWN");
}
