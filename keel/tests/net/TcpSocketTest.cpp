// TCP sockets on 127.0.0.1: time-outs, end of stream, refusal, cancellation, the implicit listen,
// zero-byte writes, Flush, a large transfer between two threads, and descriptors above 1024.
#include "KL_BsdSocket.h"
#include "KL_BsdSocketFd.h"
#include "KL_BsdSocketOutputStream.h"
#include "KL_BsdTcpClientSocket.h"
#include "NetTestSupport.h"

#include <fcntl.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <pthread.h>
#include <signal.h>
#include <sys/resource.h>
#include <sys/socket.h>
#include <thread>
#include <unistd.h>
#include <vector>

using nettest::LocalPort;
using nettest::Loopback;
using nettest::TcpPair;

TEST(TcpSocketTest, ConnectedPairKnowsBothEnds) {
    TcpPair pair;
    ASSERT_NO_FATAL_FAILURE(pair.Connect());
    KL_SocketInfo client, accepted;
    EXPECT_EQ(pair.client->GetInfo(client), KL_SUCCESS);
    EXPECT_EQ(pair.accepted->GetInfo(accepted), KL_SUCCESS);
    EXPECT_EQ(client.remote_address, Loopback(LocalPort(*pair.server)));
    EXPECT_EQ(client.local_address, accepted.remote_address);
    EXPECT_EQ(client.remote_address, accepted.local_address);
}

TEST(TcpSocketTest, ReadTimeouts) {
    TcpPair pair;
    ASSERT_NO_FATAL_FAILURE(pair.Connect());
    KL_InputStreamReference input;
    ASSERT_EQ(pair.client->GetInputStream(input), KL_SUCCESS);
    char byte;
    KL_Size count = 7;
    const struct {
        KL_Timeout timeout;
        KL_Result result;
    } cases[] = {{0, KL_ERROR_WOULD_BLOCK}, {100, KL_ERROR_TIMEOUT}};
    for (const auto& c : cases) {
        (void)pair.client->SetReadTimeout(c.timeout);
        EXPECT_EQ(input->Read(&byte, 1, &count), c.result) << c.timeout;
        EXPECT_EQ(count, 0u);
    }
}

TEST(TcpSocketTest, PeerCloseGivesEndOfStream) {
    TcpPair pair;
    ASSERT_NO_FATAL_FAILURE(pair.Connect());
    KL_InputStreamReference input;
    ASSERT_EQ(pair.client->GetInputStream(input), KL_SUCCESS);
    KL_LargeSize available = 9;
    EXPECT_EQ(input->GetAvailable(available), KL_SUCCESS);
    EXPECT_EQ(available, 0u);
    pair.accepted.reset();
    (void)pair.client->SetReadTimeout(nettest::kWait);
    char byte;
    KL_Size count = 7;
    EXPECT_EQ(input->Read(&byte, 1, &count), KL_ERROR_EOS);
    EXPECT_EQ(count, 0u);
    EXPECT_EQ(input->GetAvailable(available), KL_SUCCESS);
    EXPECT_EQ(available, 1u);
}

TEST(TcpSocketTest, ConnectToClosedPortIsRefused) {
    uint32_t port;
    {
        KL_TcpServerSocket unused(KL_SOCKET_FLAG_CANCELLABLE);
        ASSERT_EQ(unused.Bind(Loopback(0)), KL_SUCCESS);
        port = LocalPort(unused);
    }
    KL_TcpClientSocket client(KL_SOCKET_FLAG_CANCELLABLE);
    EXPECT_EQ(client.Connect(Loopback(port), nettest::kWait), KL_ERROR_CONNECTION_REFUSED);
    KL_TcpClientSocket two_step(KL_SOCKET_FLAG_CANCELLABLE);
    KL_Result result = two_step.Connect(Loopback(port), 0);
    if (result == KL_ERROR_WOULD_BLOCK) {
        result = two_step.WaitForConnection(nettest::kWait);
    }
    EXPECT_EQ(result, KL_ERROR_CONNECTION_REFUSED);
}

TEST(TcpSocketTest, CancelEndsEveryWaitForNewClient) {
    for (int round = 0; round < 20;
         ++round) { // start/stop churn; the cancel meets the wait at varying points
        KL_TcpServerSocket server(KL_SOCKET_FLAG_CANCELLABLE);
        ASSERT_EQ(server.Bind(Loopback(0)), KL_SUCCESS);
        KL_Result waited = KL_SUCCESS;
        KL_Socket* client = &server; // any non-null value: the wait sets it to null first
        std::thread waiter([&] {
            waited = server.WaitForNewClient(client, KL_TIMEOUT_INFINITE, KL_SOCKET_FLAG_CANCELLABLE);
        });
        usleep(round * 1000);
        EXPECT_EQ(server.Cancel(), KL_SUCCESS);
        waiter.join();
        EXPECT_EQ(waited, KL_ERROR_CANCELLED);
        EXPECT_EQ(client, nullptr);
        for (KL_Timeout timeout : {KL_Timeout(0), KL_Timeout(100), KL_TIMEOUT_INFINITE}) {
            EXPECT_EQ(server.WaitForNewClient(client, timeout, KL_SOCKET_FLAG_CANCELLABLE),
                      KL_ERROR_CANCELLED);
        }
    }
}

TEST(TcpSocketTest, CancelEndsABlockedRead) {
    TcpPair pair;
    ASSERT_NO_FATAL_FAILURE(pair.Connect());
    KL_InputStreamReference input;
    ASSERT_EQ(pair.accepted->GetInputStream(input), KL_SUCCESS);
    KL_Result read = KL_SUCCESS;
    std::thread reader([&] {
        char byte;
        read = input->Read(&byte, 1);
    });
    usleep(20000);
    EXPECT_EQ(pair.accepted->Cancel(false), KL_SUCCESS);
    reader.join();
    EXPECT_EQ(read, KL_ERROR_CANCELLED);
}

TEST(TcpSocketTest, SignalsDoNotEndAWait) {
    struct sigaction action {};
    action.sa_handler = [](int) {};
    struct sigaction previous {};
    ASSERT_EQ(sigaction(SIGUSR1, &action, &previous), 0); // no SA_RESTART: poll gives EINTR
    TcpPair pair;
    ASSERT_NO_FATAL_FAILURE(pair.Connect());
    KL_InputStreamReference input;
    KL_OutputStreamReference output;
    ASSERT_EQ(pair.accepted->GetInputStream(input), KL_SUCCESS);
    ASSERT_EQ(pair.client->GetOutputStream(output), KL_SUCCESS);
    (void)pair.accepted->SetReadTimeout(nettest::kWait);
    KL_Result read = KL_FAILURE;
    char byte = 0;
    std::thread reader([&] { read = input->Read(&byte, 1); });
    for (int i = 0; i < 5; ++i) {
        usleep(10000);
        pthread_kill(reader.native_handle(), SIGUSR1);
    }
    EXPECT_EQ(output->WriteFully("s", 1), KL_SUCCESS);
    reader.join();
    EXPECT_EQ(read, KL_SUCCESS);
    EXPECT_EQ(byte, 's');
    sigaction(SIGUSR1, &previous, nullptr);
}

TEST(TcpSocketTest, FirstWaitForNewClientListens) {
    KL_TcpServerSocket server(KL_SOCKET_FLAG_CANCELLABLE);
    ASSERT_EQ(server.Bind(Loopback(0)), KL_SUCCESS);
    KL_Socket* accepted = nullptr;
    EXPECT_EQ(server.WaitForNewClient(accepted, 0, KL_SOCKET_FLAG_CANCELLABLE), KL_ERROR_WOULD_BLOCK);
    KL_TcpClientSocket client(KL_SOCKET_FLAG_CANCELLABLE);
    EXPECT_EQ(client.Connect(Loopback(LocalPort(server)), nettest::kWait), KL_SUCCESS);
    EXPECT_EQ(server.WaitForNewClient(accepted, nettest::kWait, KL_SOCKET_FLAG_CANCELLABLE), KL_SUCCESS);
    ASSERT_NE(accepted, nullptr);
    KL_InputStreamReference none;
    EXPECT_EQ(server.GetInputStream(none), KL_ERROR_NOT_IMPLEMENTED);
    EXPECT_TRUE(none.IsNull());
    delete accepted;
}

TEST(TcpSocketTest, TakenPortWithoutReuseIsInUse) {
    TcpPair pair;
    ASSERT_NO_FATAL_FAILURE(pair.Connect());
    KL_TcpServerSocket second(KL_SOCKET_FLAG_CANCELLABLE);
    EXPECT_EQ(second.Bind(Loopback(LocalPort(*pair.server)), false), KL_ERROR_ADDRESS_IN_USE);
}

TEST(TcpSocketTest, ZeroByteWriteIsAReset) {
    TcpPair pair;
    ASSERT_NO_FATAL_FAILURE(pair.Connect());
    KL_OutputStreamReference output;
    ASSERT_EQ(pair.client->GetOutputStream(output), KL_SUCCESS);
    KL_Size written = 5;
    EXPECT_EQ(output->Write("", 0, &written), KL_ERROR_CONNECTION_RESET);
    EXPECT_EQ(written, 0u);
}

namespace {

// A plain descriptor connected to the listener.
void ConnectRaw(KL_TcpServerSocket& server, int& fd) {
    fd = socket(AF_INET, SOCK_STREAM, 0);
    ASSERT_GE(fd, 0);
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_port = htons(static_cast<uint16_t>(LocalPort(server)));
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    ASSERT_EQ(connect(fd, reinterpret_cast<sockaddr*>(&address), sizeof address), 0);
}

} // namespace

TEST(TcpSocketTest, FlushLeavesNoDelayAsItWas) {
    TcpPair pair;
    ASSERT_NO_FATAL_FAILURE(pair.Connect());
    int fd = -1;
    ASSERT_NO_FATAL_FAILURE(ConnectRaw(*pair.server, fd));
    KL_BsdSocketOutputStream output(KL_BsdSocketFdReference(new KL_BsdSocketFd(fd, true)));
    for (int no_delay : {0, 1}) {
        ASSERT_EQ(setsockopt(fd, IPPROTO_TCP, TCP_NODELAY, &no_delay, sizeof no_delay), 0);
        EXPECT_EQ(output.WriteFully("x", 1), KL_SUCCESS);
        EXPECT_EQ(output.Flush(), KL_SUCCESS);
        int now = -1;
        socklen_t length = sizeof now;
        ASSERT_EQ(getsockopt(fd, IPPROTO_TCP, TCP_NODELAY, &now, &length), 0);
        EXPECT_EQ(now, no_delay);
    }
}

// A server connection keeps Nagle off for good (a Flush leaves it so) and re-arms the quick
// acknowledgement after every read, also once it has sent answers (when Linux would otherwise
// delay its acknowledgements).
TEST(TcpSocketTest, NoDelayAndQuickAckStayOn) {
    TcpPair pair;
    ASSERT_NO_FATAL_FAILURE(pair.Connect());
    int fd = -1;
    ASSERT_NO_FATAL_FAILURE(ConnectRaw(*pair.server, fd));
    KL_Socket* accepted = nullptr;
    ASSERT_EQ(pair.server->WaitForNewClient(accepted, nettest::kWait, KL_SOCKET_FLAG_CANCELLABLE),
              KL_SUCCESS);
    std::unique_ptr<KL_Socket> peer(accepted);
    KL_BsdSocket socket(fd, KL_SOCKET_FLAG_CANCELLABLE);
    ASSERT_EQ(socket.SetNoDelay(true), KL_SUCCESS);
    ASSERT_EQ(socket.SetQuickAck(true), KL_SUCCESS);
    (void)socket.SetReadTimeout(nettest::kWait);
    KL_InputStreamReference input;
    KL_OutputStreamReference output;
    ASSERT_EQ(socket.GetInputStream(input), KL_SUCCESS);
    ASSERT_EQ(socket.GetOutputStream(output), KL_SUCCESS);
    KL_InputStreamReference peer_input;
    KL_OutputStreamReference peer_output;
    ASSERT_EQ(peer->GetInputStream(peer_input), KL_SUCCESS);
    ASSERT_EQ(peer->GetOutputStream(peer_output), KL_SUCCESS);
    (void)peer->SetReadTimeout(nettest::kWait);
    for (int round = 0; round < 8; ++round) {
        ASSERT_EQ(peer_output->WriteFully("q", 1), KL_SUCCESS);
        char byte = 0;
        ASSERT_EQ(input->ReadFully(&byte, 1), KL_SUCCESS);
        int option = -1;
        socklen_t length = sizeof option;
        ASSERT_EQ(getsockopt(fd, IPPROTO_TCP, TCP_QUICKACK, &option, &length), 0);
        EXPECT_EQ(option, 1) << "round " << round;
        ASSERT_EQ(output->WriteFully("a", 1), KL_SUCCESS);
        EXPECT_EQ(output->Flush(), KL_SUCCESS);
        length = sizeof option;
        ASSERT_EQ(getsockopt(fd, IPPROTO_TCP, TCP_NODELAY, &option, &length), 0);
        EXPECT_EQ(option, 1) << "round " << round;
        ASSERT_EQ(peer_input->ReadFully(&byte, 1), KL_SUCCESS);
    }
}

TEST(TcpSocketTest, StreamsOutliveTheirSocket) {
    TcpPair pair;
    ASSERT_NO_FATAL_FAILURE(pair.Connect());
    KL_OutputStreamReference output;
    ASSERT_EQ(pair.client->GetOutputStream(output), KL_SUCCESS);
    pair.client.reset();
    EXPECT_EQ(output->WriteFully("ok", 2), KL_SUCCESS);
    KL_InputStreamReference input;
    ASSERT_EQ(pair.accepted->GetInputStream(input), KL_SUCCESS);
    (void)pair.accepted->SetReadTimeout(nettest::kWait);
    char text[2];
    EXPECT_EQ(input->ReadFully(text, 2), KL_SUCCESS);
    EXPECT_EQ(std::string(text, 2), "ok");
}

TEST(TcpSocketTest, SixtyFourMebibytesBetweenTwoThreads) {
    TcpPair pair;
    ASSERT_NO_FATAL_FAILURE(pair.Connect());
    constexpr KL_Size kChunk = 65536;
    constexpr int kChunks = 1024;
    KL_OutputStreamReference output;
    KL_InputStreamReference input;
    ASSERT_EQ(pair.client->GetOutputStream(output), KL_SUCCESS);
    ASSERT_EQ(pair.accepted->GetInputStream(input), KL_SUCCESS);
    (void)pair.client->SetWriteTimeout(nettest::kWait);
    (void)pair.accepted->SetReadTimeout(nettest::kWait);
    KL_Result wrote = KL_SUCCESS;
    std::thread writer([&] {
        std::vector<unsigned char> chunk(kChunk);
        for (int i = 0; i < kChunks && KL_SUCCEEDED(wrote); ++i) {
            for (KL_Size j = 0; j < kChunk; ++j) {
                chunk[j] = static_cast<unsigned char>(i + j);
            }
            wrote = output->WriteFully(chunk.data(), kChunk);
        }
        (void)pair.client->Cancel(true); // the reader then sees the end
    });
    std::vector<unsigned char> buffer(kChunk);
    uint64_t total = 0;
    bool intact = true;
    for (;;) {
        KL_Size count = 0;
        KL_Result result = input->Read(buffer.data(), kChunk, &count);
        if (result == KL_ERROR_EOS) {
            break;
        }
        ASSERT_EQ(result, KL_SUCCESS);
        for (KL_Size j = 0; j < count; ++j, ++total) {
            intact = intact && buffer[j] == static_cast<unsigned char>(total / kChunk + total % kChunk);
        }
    }
    writer.join();
    EXPECT_EQ(wrote, KL_SUCCESS);
    EXPECT_EQ(total, uint64_t(kChunk) * kChunks);
    EXPECT_TRUE(intact);
}

TEST(TcpSocketTest, DescriptorsAbove1024) {
    rlimit limit{};
    ASSERT_EQ(getrlimit(RLIMIT_NOFILE, &limit), 0);
    if (limit.rlim_max < 2048) {
        GTEST_SKIP() << "the hard limit of open files is below 2048";
    }
    rlimit raised = limit;
    raised.rlim_cur = limit.rlim_max;
    ASSERT_EQ(setrlimit(RLIMIT_NOFILE, &raised), 0);
    std::vector<int> filler;
    for (int i = 0; i < 1100; ++i) {
        int fd = open("/dev/null", O_RDONLY | O_CLOEXEC);
        ASSERT_GE(fd, 0);
        filler.push_back(fd);
    }
    {
        TcpPair pair;
        ASSERT_NO_FATAL_FAILURE(pair.Connect());
        KL_InputStreamReference input;
        KL_OutputStreamReference output;
        ASSERT_EQ(pair.accepted->GetInputStream(input), KL_SUCCESS);
        ASSERT_EQ(pair.client->GetOutputStream(output), KL_SUCCESS);
        (void)pair.accepted->SetReadTimeout(100);
        char byte = 0;
        EXPECT_EQ(input->Read(&byte, 1), KL_ERROR_TIMEOUT);
        EXPECT_EQ(output->WriteFully("z", 1), KL_SUCCESS);
        (void)pair.accepted->SetReadTimeout(nettest::kWait);
        EXPECT_EQ(input->Read(&byte, 1), KL_SUCCESS);
        EXPECT_EQ(byte, 'z');
    }
    for (int fd : filler) {
        close(fd);
    }
    EXPECT_EQ(setrlimit(RLIMIT_NOFILE, &limit), 0);
}

TEST(TcpSocketTest, NoDescriptorNeverWaits) {
    KL_BsdTcpClientSocket socket(-1, KL_SOCKET_FLAG_CANCELLABLE);
    const KL_Result bad = KL_ResultFromErrno(EBADF);
    EXPECT_EQ(socket.Connect(Loopback(9), KL_TIMEOUT_INFINITE), bad);
    EXPECT_EQ(socket.WaitForConnection(KL_TIMEOUT_INFINITE), bad);
    EXPECT_EQ(socket.Bind(Loopback(0)), bad);
    KL_InputStreamReference input;
    EXPECT_EQ(socket.GetInputStream(input), KL_ERROR_INTERNAL);
    KL_BsdSocketOutputStream output(KL_BsdSocketFdReference(new KL_BsdSocketFd(-1, true)));
    EXPECT_EQ(output.Write("x", 1), bad);
}
