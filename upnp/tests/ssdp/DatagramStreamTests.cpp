// The datagram streams over real UDP sockets on 127.0.0.1.
#include "KL_UdpSocket.h"
#include "UP_InputDatagramStream.h"
#include "UP_OutputDatagramStream.h"

#include <gtest/gtest.h>

#include <string>

namespace {

struct Loopback {
    KL_UdpSocket receiver{KL_SOCKET_FLAG_CANCELLABLE};
    KL_UdpSocket sender{KL_SOCKET_FLAG_CANCELLABLE};
    KL_SocketAddress to;

    Loopback() {
        EXPECT_EQ(KL_SUCCESS, receiver.Bind(KL_SocketAddress(KL_IpAddress(127, 0, 0, 1), 0)));
        (void)receiver.SetReadTimeout(5000);
        KL_SocketInfo info;
        (void)receiver.GetInfo(info);
        to = info.local_address;
    }
    void Send(const std::string& text) {
        KL_DataBuffer packet;
        (void)packet.SetData(text.data(), static_cast<KL_Size>(text.size()));
        ASSERT_EQ(KL_SUCCESS, sender.Send(packet, &to));
    }
};

TEST(InputDatagramStream, ServesAtMostTheBufferSize) {
    Loopback net;
    net.Send(std::string(3000, 'a'));
    net.Send("next");
    UP_InputDatagramStream stream(&net.receiver, 2000);
    char buffer[4000];
    KL_Size count = 0;
    ASSERT_EQ(KL_SUCCESS, stream.Read(buffer, sizeof buffer, &count));
    EXPECT_EQ(2000u, count);
    ASSERT_EQ(KL_SUCCESS, stream.Read(buffer, sizeof buffer, &count));
    EXPECT_EQ("next", std::string(buffer, count));
}

TEST(InputDatagramStream, SmallReadsKeepOrderWithinOneDatagram) {
    Loopback net;
    net.Send("abcdefg");
    net.Send("XY");
    UP_InputDatagramStream stream(&net.receiver, 2000);
    std::string got;
    for (KL_Size count = 0; got.size() < 9;) {
        char buffer[3];
        ASSERT_EQ(KL_SUCCESS, stream.Read(buffer, sizeof buffer, &count));
        got.append(buffer, count);
        got += got.size() == 7 ? "|" : "";
    }
    EXPECT_EQ("abcdefg|XY", got);
}

TEST(DatagramStreams, RefuseSeekTellAndSize) {
    Loopback net;
    UP_InputDatagramStream input(&net.receiver, 2000);
    UP_OutputDatagramStream output(&net.sender, 16, &net.to);
    KL_Position position = 0;
    KL_LargeSize size = 0;
    EXPECT_EQ(KL_FAILURE, input.Seek(0));
    EXPECT_EQ(KL_FAILURE, input.Tell(position));
    EXPECT_EQ(KL_FAILURE, input.GetSize(size));
    EXPECT_EQ(KL_FAILURE, input.GetAvailable(size));
    EXPECT_EQ(KL_FAILURE, output.Seek(0));
    EXPECT_EQ(KL_FAILURE, output.Tell(position));
}

TEST(InputDatagramStream, InfoIsRefreshedAfterAFailedReceive) {
    Loopback net;
    net.Send("hello");
    UP_InputDatagramStream stream(&net.receiver, 2000);
    char buffer[16];
    KL_Size count = 0;
    ASSERT_EQ(KL_SUCCESS, stream.Read(buffer, sizeof buffer, &count));
    KL_SocketInfo info;
    ASSERT_EQ(KL_SUCCESS, stream.GetInfo(info));
    EXPECT_EQ(KL_IpAddress(127, 0, 0, 1), info.remote_address.m_IpAddress);
    EXPECT_NE(0u, info.remote_address.m_Port);
    (void)net.receiver.SetReadTimeout(50);
    EXPECT_EQ(KL_ERROR_TIMEOUT, stream.Read(buffer, sizeof buffer, &count));
    EXPECT_EQ(0u, count);
    ASSERT_EQ(KL_SUCCESS, stream.GetInfo(info));
    EXPECT_EQ(KL_SocketAddress(), info.remote_address);
    EXPECT_EQ(net.to, info.local_address);
}

TEST(OutputDatagramStream, SendsOneDatagramPerFlush) {
    Loopback net;
    UP_OutputDatagramStream output(&net.sender, 4, &net.to);
    ASSERT_EQ(KL_SUCCESS, output.WriteString("grows beyond "));
    ASSERT_EQ(KL_SUCCESS, output.WriteString("its buffer"));
    ASSERT_EQ(KL_SUCCESS, output.Flush());
    ASSERT_EQ(KL_SUCCESS, output.WriteString("second"));
    ASSERT_EQ(KL_SUCCESS, output.Flush());
    UP_InputDatagramStream input(&net.receiver, 2000);
    char buffer[64];
    KL_Size count = 0;
    ASSERT_EQ(KL_SUCCESS, input.Read(buffer, sizeof buffer, &count));
    EXPECT_EQ("grows beyond its buffer", std::string(buffer, count));
    ASSERT_EQ(KL_SUCCESS, input.Read(buffer, sizeof buffer, &count));
    EXPECT_EQ("second", std::string(buffer, count));
}

TEST(OutputDatagramStream, FlushHandsUpTheSendFailure) {
    Loopback net;
    (void)net.sender.Cancel();
    UP_OutputDatagramStream output(&net.sender, 64, &net.to);
    ASSERT_EQ(KL_SUCCESS, output.WriteString("lost"));
    EXPECT_EQ(KL_ERROR_CANCELLED, output.Flush());
    // Without a target an unconnected socket cannot send either.
    KL_UdpSocket unconnected(KL_SOCKET_FLAG_CANCELLABLE);
    UP_OutputDatagramStream nowhere(&unconnected, 64);
    ASSERT_EQ(KL_SUCCESS, nowhere.WriteString("lost"));
    EXPECT_TRUE(KL_FAILED(nowhere.Flush()));
}

} // namespace
