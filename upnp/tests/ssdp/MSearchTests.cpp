// M-SEARCH answers of a device host run by the engine, seen from the client namespace.
#include "KL_System.h"
#include "KL_UdpSocket.h"
#include "SsdpTestNetwork.h"
#include "UP_SsdpDeviceSearchResponseInterfaceIterator.h"
#include "UP_SsdpPendingSearches.h"
#include "UP_SsdpSearchTask.h"
#include "UP_UPnP.h"

#include <dirent.h>

#include <algorithm>
#include <mutex>

namespace {

using namespace ssdp_test;

class MSearchAnswers : public ::testing::Test {
protected:
    void SetUp() override {
        SSDP_REQUIRE_NETWORK();
        ASSERT_EQ(KL_SUCCESS, m_UPnP.AddDevice(m_Device));
        ASSERT_EQ(KL_SUCCESS, m_UPnP.Start());
        ASSERT_TRUE(m_Device->IsStarted());
    }
    void TearDown() override {
        for (int fd : m_Sockets) {
            close(fd);
        }
        if (m_UPnP.IsStarted()) {
            EXPECT_EQ(KL_SUCCESS, m_UPnP.Stop());
        }
    }
    int Client(const char* address = kClientAddress) {
        const int fd = Network::Get().ClientSocket(address);
        EXPECT_GE(fd, 0);
        m_Sockets.push_back(fd);
        return fd;
    }
    // The ST values answered to one search sent from a fresh socket.
    std::vector<std::string> Answers(const std::string& search, int millis = 1200, size_t enough = 0) {
        const int fd = Client();
        EXPECT_TRUE(SendTo(fd, search, kDeviceAddress, 1900));
        return StsOf(fd, millis, enough);
    }
    static std::vector<std::string> StsOf(int fd, int millis, size_t enough = 0) {
        std::vector<std::string> sts;
        for (const Datagram& d : ReceiveFor(fd, millis, enough)) {
            sts.push_back(Header(d.text, "ST"));
        }
        return sts;
    }

    KL_Reference<UP_DeviceHost> m_Device{new TestDevice()};
    UP_UPnP m_UPnP;
    std::vector<int> m_Sockets;
};

using Sts = std::vector<std::string>;

TEST_F(MSearchAnswers, MalformedSearchesGetNoAnswer) {
    const std::string malformed[] = {
        "M-SEARCH / HTTP/1.1\r\nHOST: 239.255.255.250:1900\r\nMAN: \"ssdp:discover\"\r\nMX: 1\r\nST: "
        "ssdp:all\r\n\r\n",
        "M-SEARCH * HTTP/1.0\r\nHOST: 239.255.255.250:1900\r\nMAN: \"ssdp:discover\"\r\nMX: 1\r\nST: "
        "ssdp:all\r\n\r\n",
        "M-SEARCH * HTTP/1.1\r\nHOST: 239.255.255.250:1900\r\nMAN: ssdp:discover\r\nMX: 1\r\nST: "
        "ssdp:all\r\n\r\n",
        "M-SEARCH * HTTP/1.1\r\nHOST: 239.255.255.250:1900\r\nMAN: \"ssdp:discover\"\r\nST: ssdp:all\r\n\r\n",
        MSearch("ssdp:all", "x"),
        "M-SEARCH * HTTP/1.1\r\nHOST: 239.255.255.250:1900\r\nMAN: \"ssdp:discover\"\r\nMX: 1\r\n\r\n",
        MSearch("SSDP:ALL"),
        MSearch("urn:schemas-lanyard-org:device:SSDPTEST:1"),
        MSearch("urn:schemas-lanyard-org:device:SsdpTest:2"),
    };
    std::vector<int> fds;
    for (const std::string& text : malformed) {
        fds.push_back(Client());
        ASSERT_TRUE(SendTo(fds.back(), text, kDeviceAddress, 1900));
    }
    EXPECT_EQ(Sts(2, "upnp:rootdevice"), Answers(MSearch("upnp:rootdevice")));
    for (size_t i = 0; i < fds.size(); ++i) {
        EXPECT_TRUE(ReceiveFor(fds[i], 10).empty()) << malformed[i];
    }
}

TEST_F(MSearchAnswers, AllTargetsTwice200msApart) {
    const int fd = Client();
    ASSERT_TRUE(SendTo(fd, MSearch("ssdp:all", "0"), kDeviceAddress, 1900));
    const std::vector<Datagram> got = ReceiveFor(fd, 1500);
    ASSERT_EQ(8u, got.size());
    const Sts round = {"upnp:rootdevice", std::string("uuid:") + kUuid, kDeviceType, kServiceType};
    for (size_t i = 0; i < got.size(); ++i) {
        EXPECT_EQ(round[i % 4], Header(got[i].text, "ST"));
    }
    EXPECT_GE(got[4].nanos - got[3].nanos, 150000000);
}

TEST_F(MSearchAnswers, EachTargetIsAnsweredAlone) {
    const std::string targets[] = {"upnp:rootdevice", std::string("uuid:") + kUuid, kDeviceType,
                                   kServiceType};
    std::vector<int> fds;
    for (const std::string& st : targets) {
        fds.push_back(Client());
        ASSERT_TRUE(SendTo(fds.back(), MSearch(st), kDeviceAddress, 1900));
    }
    for (size_t i = 0; i < fds.size(); ++i) {
        EXPECT_EQ(Sts(2, targets[i]), StsOf(fds[i], i == 0 ? 1200 : 10));
    }
}

TEST_F(MSearchAnswers, LongMxIsAnsweredWithinFourSeconds) {
    EXPECT_EQ(Sts(2, "upnp:rootdevice"), Answers(MSearch("upnp:rootdevice", "120"), 8000, 2));
}

TEST_F(MSearchAnswers, BrokenDatagramsDoNotSwallowTheNext) {
    const int fd = Client();
    ASSERT_TRUE(SendTo(fd, "\x01\x02 not HTTP at all", kDeviceAddress, 1900));
    ASSERT_TRUE(SendTo(fd, MSearch("upnp:rootdevice"), kDeviceAddress, 1900));
    ASSERT_TRUE(
        SendTo(fd, "M-SEARCH * HTTP/1.1\r\nHOST: 239.255.255.250:1900\r\nMAN: \"ssd", kDeviceAddress, 1900));
    ASSERT_TRUE(SendTo(fd, MSearch(kServiceType) + "trailing bytes", kDeviceAddress, 1900));
    Sts sts;
    for (const Datagram& d : ReceiveFor(fd, 1500)) {
        sts.push_back(Header(d.text, "ST"));
    }
    std::sort(sts.begin(), sts.end());
    EXPECT_EQ((Sts{"upnp:rootdevice", "upnp:rootdevice", kServiceType, kServiceType}), sts);
}

TEST_F(MSearchAnswers, SendersOffEverySubnetGetNoAnswer) {
    Network& net = Network::Get();
    ASSERT_TRUE(net.Client("ip addr add 10.231.8.2/24 dev cp0"));
    ASSERT_TRUE(net.Device("ip route add 10.231.8.0/24 dev en0"));
    const int stranger = Client("10.231.8.2");
    ASSERT_TRUE(SendTo(stranger, MSearch("ssdp:all"), kDeviceAddress, 1900));
    EXPECT_EQ(8u, Answers(MSearch("ssdp:all")).size());
    EXPECT_TRUE(ReceiveFor(stranger, 10).empty());
    EXPECT_TRUE(net.Device("ip route del 10.231.8.0/24 dev en0"));
    EXPECT_TRUE(net.Client("ip addr del 10.231.8.2/24 dev cp0"));
}

// While an answer to a search is pending, the same search from the same socket is dropped; another
// control point on the same host (another socket) is answered.
TEST_F(MSearchAnswers, ALaterDuplicateIsDroppedWhileTheAnswerIsPending) {
    const int first = Client();
    const int neighbour = Client();
    ASSERT_TRUE(SendTo(first, MSearch("upnp:rootdevice", "0"), kDeviceAddress, 1900));
    ASSERT_TRUE(SendTo(first, MSearch("upnp:rootdevice", "0"), kDeviceAddress, 1900));
    ASSERT_TRUE(SendTo(neighbour, MSearch("upnp:rootdevice", "0"), kDeviceAddress, 1900));
    EXPECT_EQ(Sts(2, "upnp:rootdevice"), StsOf(first, 1200));
    EXPECT_EQ(Sts(2, "upnp:rootdevice"), StsOf(neighbour, 10));
}

// Pending answers: one per socket and target, four per host whatever its ports, 32 in all.
TEST(PendingSearches, BoundPerSocketPerHostAndInAll) {
    UP_SsdpPendingSearches pending;
    auto sender = [](const char* ip, uint32_t port) {
        KL_IpAddress address;
        EXPECT_EQ(KL_SUCCESS, address.Parse(ip));
        return KL_SocketAddress(address, port);
    };
    EXPECT_TRUE(pending.Add(sender("10.0.0.2", 5000), "ssdp:all"));
    EXPECT_FALSE(pending.Add(sender("10.0.0.2", 5000), "ssdp:all"));
    EXPECT_TRUE(pending.Add(sender("10.0.0.2", 5000), "upnp:rootdevice"));
    EXPECT_TRUE(pending.Add(sender("10.0.0.2", 5001), "ssdp:all"));
    EXPECT_TRUE(pending.Add(sender("10.0.0.2", 5002), "ssdp:all"));
    EXPECT_FALSE(pending.Add(sender("10.0.0.2", 5003), "ssdp:all"));
    pending.Remove(sender("10.0.0.2", 5000), "ssdp:all");
    EXPECT_TRUE(pending.Add(sender("10.0.0.2", 5003), "ssdp:all"));
    for (uint32_t host = 3; host <= 10; ++host) {
        const std::string ip = "10.0.0." + std::to_string(host);
        for (uint32_t port = 0; port < 4; ++port) {
            EXPECT_EQ(host < 10, pending.Add(sender(ip.c_str(), 6000 + port), "ssdp:all")) << ip;
        }
    }
    pending.Clear();
    EXPECT_TRUE(pending.Add(sender("10.0.0.10", 6000), "ssdp:all"));
}

// A searcher must be a single host of a subnet the device answers on: a forged source naming a
// whole network, a group, nobody or the host itself gets nothing.
TEST(SearchSenders, OnlySingleHostsOfOurSubnetsAreAnswered) {
    const struct {
        const char* name;
        uint32_t flags;
        const char* address;
        const char* mask;
        const char* broadcast;
    } records[] = {
        {"lo", KL_NETWORK_INTERFACE_FLAG_LOOPBACK, "127.0.0.1", "255.0.0.0", "0.0.0.0"},
        {"en0", KL_NETWORK_INTERFACE_FLAG_MULTICAST | KL_NETWORK_INTERFACE_FLAG_BROADCAST, "10.231.7.1",
         "255.255.255.0", "10.231.7.255"},
        {"en1", KL_NETWORK_INTERFACE_FLAG_MULTICAST, "192.168.50.0", "255.255.255.254", "0.0.0.0"},
    };
    KL_NetworkInterfaceList interfaces;
    for (const auto& r : records) {
        auto* record = new KL_NetworkInterface(r.name, r.flags);
        KL_NetworkInterfaceAddress entry;
        ASSERT_EQ(KL_SUCCESS, entry.m_PrimaryAddress.Parse(r.address));
        ASSERT_EQ(KL_SUCCESS, entry.m_NetMask.Parse(r.mask));
        ASSERT_EQ(KL_SUCCESS, entry.m_BroadcastAddress.Parse(r.broadcast));
        (void)record->AddAddress(entry);
        (void)interfaces.Add(record);
    }
    const struct {
        const char* sender;
        bool answered;
    } cases[] = {
        {"10.231.7.2", true},   {"10.231.7.254", true},     {"127.0.0.1", true},
        {"192.168.50.1", true}, {"10.231.7.255", false},    {"10.231.7.0", false},
        {"10.231.7.1", false},  {"192.168.50.0", false},    {"239.255.255.250", false},
        {"224.0.0.1", false},   {"255.255.255.255", false}, {"240.0.0.1", false},
        {"0.0.0.0", false},     {"127.255.255.255", false}, {"10.231.8.2", false},
    };
    for (const auto& c : cases) {
        KL_IpAddress sender;
        ASSERT_EQ(KL_SUCCESS, sender.Parse(c.sender));
        EXPECT_EQ(c.answered,
                  UP_SsdpDeviceSearchResponseInterfaceIterator::IsAnswerableSender(interfaces, sender))
            << c.sender;
    }
    KL_DeleteNetworkInterfaces(interfaces);
}

// Answers leave from sockets that cannot reach a broadcast address.
TEST(SearchAnswerSocket, CannotBroadcast) {
    SSDP_REQUIRE_NETWORK();
    const KL_SocketAddress broadcast(KL_IpAddress(10, 231, 7, 255), 1900);
    KL_UdpSocket plain(KL_SOCKET_FLAG_CANCELLABLE);
    EXPECT_EQ(KL_SUCCESS, plain.Connect(broadcast, 1000));
    KL_UdpSocket answering(KL_SOCKET_FLAG_CANCELLABLE | KL_SOCKET_FLAG_NO_BROADCAST);
    EXPECT_TRUE(KL_FAILED(answering.Connect(broadcast, 1000)));
}

int ThreadCount() {
    int count = 0;
    if (DIR* dir = opendir("/proc/self/task")) {
        while (readdir(dir) != nullptr) {
            ++count;
        }
        closedir(dir);
    }
    return count - 2;
}

TEST_F(MSearchAnswers, BurstKeepsThreadsBounded) {
    const int before = ThreadCount();
    const int fd = Client();
    const std::string search = MSearch("ssdp:all");
    int most = before;
    for (int i = 0; i < 2000; ++i) {
        (void)SendTo(fd, search, kDeviceAddress, 1900);
        if (i % 50 == 0) {
            most = std::max(most, ThreadCount());
        }
    }
    for (int i = 0; i < 20; ++i) {
        most = std::max(most, ThreadCount());
        (void)ReceiveFor(fd, 50);
    }
    EXPECT_LE(most, before + 32 + 2);
    bool answered = false;
    for (int attempt = 0; attempt < 6 && !answered; ++attempt) {
        answered = !Answers(MSearch("upnp:rootdevice"), 1000).empty();
    }
    EXPECT_TRUE(answered);
}

// Answers still waiting out their delay when the engine stops are dropped; they must not keep
// counting against the bound of pending answers after the next start.
TEST_F(MSearchAnswers, AnswersPendingAtStopDoNotBlockLaterSearches) {
    const int fd = Client();
    for (int cycle = 0; cycle < 3; ++cycle) {
        SCOPED_TRACE(cycle);
        for (int i = 0; i < 64; ++i) {
            ASSERT_TRUE(SendTo(fd, MSearch("upnp:rootdevice", "5"), kDeviceAddress, 1900));
        }
        (void)ReceiveFor(fd, 300);
        ASSERT_EQ(KL_SUCCESS, m_UPnP.Stop());
        ASSERT_EQ(KL_SUCCESS, m_UPnP.Start());
        ASSERT_TRUE(m_Device->IsStarted());
    }
    EXPECT_EQ(Sts(2, "upnp:rootdevice"), Answers(MSearch("upnp:rootdevice"), 1200, 2));
}

TEST_F(MSearchAnswers, UnansweredTargetsQueueNothing) {
    const int before = ThreadCount();
    const int fd = Client();
    for (int i = 0; i < 64; ++i) {
        ASSERT_TRUE(SendTo(fd, MSearch("urn:schemas-lanyard-org:device:Other:1", "5"), kDeviceAddress, 1900));
    }
    (void)ReceiveFor(fd, 300);
    EXPECT_LE(ThreadCount(), before + 1);
}

class Collector : public UP_SsdpSearchListener {
public:
    KL_Result OnSsdpSearchResponse(KL_HttpResponse& response, const KL_SocketInfo& info) override {
        std::lock_guard<std::mutex> lock(m_Mutex);
        const char* st = response.GetHeaders().GetHeaderValue("ST");
        m_Sts.push_back(st != nullptr ? st : "");
        m_From = info.remote_address.m_IpAddress.ToString().GetChars();
        return KL_SUCCESS;
    }
    std::mutex m_Mutex;
    Sts m_Sts;
    std::string m_From;
};

TEST_F(MSearchAnswers, SearchTaskCollectsTheAnswers) {
    auto* request = new KL_HttpRequest(KL_HttpUrl("239.255.255.250", 1900, "*"), "M-SEARCH", "HTTP/1.1");
    request->GetHeaders().SetHeader("HOST", "239.255.255.250:1900");
    request->GetHeaders().SetHeader("MAN", "\"ssdp:discover\"");
    request->GetHeaders().SetHeader("MX", "1");
    request->GetHeaders().SetHeader("ST", "upnp:rootdevice");
    Collector collector;
    // The searcher is another host (the device answers no address of its own). One pass (below
    // 1 s): the search is sent twice; the repeat comes while the answer to the first is pending
    // and is dropped, the first is answered twice.
    KL_UdpSocket* socket = nullptr;
    ASSERT_TRUE(Network::Get().InClient([&] { socket = new KL_UdpSocket(KL_SOCKET_FLAG_CANCELLABLE); }));
    UP_SsdpSearchTask task(socket, &collector, request, KL_TimeStamp::FromMillis(900));
    ASSERT_EQ(KL_SUCCESS, task.Start());
    (void)KL_System::Sleep(KL_TimeStamp::FromMillis(1200));
    (void)task.Stop(true);
    std::lock_guard<std::mutex> lock(collector.m_Mutex);
    EXPECT_EQ(Sts(2, "upnp:rootdevice"), collector.m_Sts);
    EXPECT_EQ(kDeviceAddress, collector.m_From);
}

} // namespace
