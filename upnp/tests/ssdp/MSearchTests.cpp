// M-SEARCH answers of a device host run by the engine, seen from the client namespace.
#include "KL_System.h"
#include "KL_UdpSocket.h"
#include "SsdpTestNetwork.h"
#include "UP_SsdpAnswerRate.h"
#include "UP_SsdpDeviceSearchResponseInterfaceIterator.h"
#include "UP_SsdpPendingSearches.h"
#include "UP_SsdpSearchTask.h"
#include "UP_UPnP.h"

#include <dirent.h>

#include <algorithm>
#include <atomic>
#include <mutex>
#include <string>
#include <vector>

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

// A control point on the device's own computer searches from its LAN address and is answered.
TEST_F(MSearchAnswers, OwnLanAddressIsAnswered) {
    const int fd = socket(AF_INET, SOCK_DGRAM, 0);
    ASSERT_GE(fd, 0);
    m_Sockets.push_back(fd);
    sockaddr_in local{};
    local.sin_family = AF_INET;
    inet_pton(AF_INET, kDeviceAddress, &local.sin_addr);
    ASSERT_EQ(0, bind(fd, reinterpret_cast<sockaddr*>(&local), sizeof local));
    ASSERT_TRUE(SendTo(fd, MSearch("upnp:rootdevice"), kDeviceAddress, 1900));
    EXPECT_EQ(Sts(2, "upnp:rootdevice"), StsOf(fd, 1200, 2));
}

// While an answer to a search is pending, the same search from the same socket is dropped; another
// control point on the same host (another socket) is answered with it.
TEST_F(MSearchAnswers, ALaterDuplicateIsDroppedWhileTheAnswerIsPending) {
    const int first = Client();
    const int neighbour = Client();
    ASSERT_TRUE(SendTo(first, MSearch("upnp:rootdevice", "0"), kDeviceAddress, 1900));
    ASSERT_TRUE(SendTo(first, MSearch("upnp:rootdevice", "0"), kDeviceAddress, 1900));
    ASSERT_TRUE(SendTo(neighbour, MSearch("upnp:rootdevice", "0"), kDeviceAddress, 1900));
    EXPECT_EQ(Sts(2, "upnp:rootdevice"), StsOf(first, 1200));
    EXPECT_EQ(Sts(2, "upnp:rootdevice"), StsOf(neighbour, 10));
}

KL_SocketAddress From(const std::string& ip, uint32_t port) {
    KL_IpAddress address;
    EXPECT_EQ(KL_SUCCESS, address.Parse(ip.c_str()));
    return KL_SocketAddress(address, port);
}

// One answer waits per host and target, joined by the host's other ports (up to four); taken at
// its due time, it is due again 200 ms later (the repeat), and meanwhile a new port queues an
// answer of its own while a port being answered is dropped; a full table says so.
TEST(PendingSearches, OneWaitsPerHostAndTargetJoinedByItsPorts) {
    using Added = UP_SsdpPendingSearches::Added;
    UP_SsdpPendingSearches pending;
    // port 0: TakeDue at the time `at`, which takes `taken` ("st ports" per answer, " r" for the
    // repeat); otherwise an Add due at `at`, which answers `added`.
    const struct {
        uint32_t port;
        const char* st;
        int64_t at;
        Added added;
        const char* taken;
    } steps[] = {
        {5000, "ssdp:all", 999, Added::kQueued, ""},
        {5001, "ssdp:all", 999, Added::kJoined, ""},
        {5001, "ssdp:all", 999, Added::kJoined, ""},
        {5002, "ssdp:all", 999, Added::kJoined, ""},
        {5003, "ssdp:all", 999, Added::kJoined, ""},
        {5004, "ssdp:all", 999, Added::kJoined, ""}, // a fifth port: dropped
        {5000, "upnp:rootdevice", 1500, Added::kQueued, ""},
        {0, "", 999, Added::kQueued, "ssdp:all 5000,5001,5002,5003"},
        {5001, "ssdp:all", 1500, Added::kJoined, ""}, // being answered
        {5009, "ssdp:all", 1500, Added::kQueued, ""},
        {5009, "ssdp:all", 1500, Added::kJoined, ""},
        {0, "", 1198, Added::kQueued, ""},
        {0, "", 1500, Added::kQueued, "ssdp:all 5000,5001,5002,5003 r|upnp:rootdevice 5000|ssdp:all 5009"},
        {0, "", 1700, Added::kQueued, "upnp:rootdevice 5000 r|ssdp:all 5009 r"},
    };
    for (const auto& step : steps) {
        if (step.port != 0) {
            EXPECT_EQ(step.added, pending.Add(From("10.0.0.2", step.port), step.st, step.at))
                << step.port << " " << step.st;
            continue;
        }
        std::string taken;
        for (const UP_SsdpPendingSearches::Answer& answer : pending.TakeDue(step.at, 16)) {
            taken += std::string(taken.empty() ? "" : "|") + answer.m_ST.GetChars();
            const char* separator = " ";
            for (uint32_t port : answer.m_Ports) {
                taken += separator + std::to_string(port);
                separator = ",";
            }
            taken += answer.m_Repeat ? " r" : "";
        }
        EXPECT_EQ(step.taken, taken) << step.at;
    }
    EXPECT_EQ(-1, pending.NextDue());
    for (KL_Size i = 0; i < UP_SsdpPendingSearches::kMaxInAll; ++i) {
        const std::string ip = "10.1." + std::to_string(i / 250) + "." + std::to_string(i % 250 + 1);
        ASSERT_EQ(Added::kQueued, pending.Add(From(ip, 6000), "ssdp:all", 5000)) << ip;
    }
    EXPECT_EQ(Added::kFull, pending.Add(From("10.0.0.33", 6000), "ssdp:all", 5000));
    EXPECT_EQ(5000, pending.NextDue());
    pending.Clear();
    EXPECT_EQ(Added::kQueued, pending.Add(From("10.0.0.33", 6000), "ssdp:all", 5000));
}

// At most 100 answer datagrams reach one host in any second (a bucket of 25, refilled at 75 a
// second); each host has its own bucket, and the table of hosts stays bounded.
TEST(AnswerRate, HundredDatagramsASecondPerHost) {
    UP_SsdpAnswerRate rate;
    const struct {
        int64_t time;
        const char* host;
        KL_Size count;
        bool taken;
    } steps[] = {
        {0, "10.0.0.2", 25, true},     {0, "10.0.0.2", 1, false},    {0, "10.0.0.3", 8, true},
        {20, "10.0.0.2", 1, true},     {20, "10.0.0.2", 1, false},   {100, "10.0.0.2", 7, false},
        {100, "10.0.0.2", 6, true},    {1000, "10.0.0.2", 25, true}, {1000, "10.0.0.2", 1, false},
        {5000, "10.0.0.2", 26, false}, {5000, "10.0.0.2", 25, true},
    };
    for (const auto& step : steps) {
        KL_IpAddress host;
        ASSERT_EQ(KL_SUCCESS, host.Parse(step.host));
        EXPECT_EQ(step.taken, rate.Take(host, step.count, step.time)) << step.time << " " << step.host;
    }
    // Forged sources in a /16 fill the table; a host answered all along keeps its bucket (a fresh
    // one would let 25 more through): its 25 tokens, then 75 a second for 0.4 s.
    KL_IpAddress victim;
    ASSERT_EQ(KL_SUCCESS, victim.Parse("10.0.0.2"));
    int victim_taken = 0;
    for (int i = 0; i < 2000; ++i) {
        (void)rate.Take(KL_IpAddress(10, 9, static_cast<uint8_t>(i / 250), static_cast<uint8_t>(i % 250 + 1)),
                        6, 6000 + i / 5);
        victim_taken += rate.Take(victim, 1, 6000 + i / 5) ? 1 : 0;
    }
    EXPECT_LE(rate.GetHostCount(), UP_SsdpAnswerRate::kMaxHosts);
    EXPECT_LE(victim_taken, 25 + 30);
}

// A searcher must be a single host of a subnet the device answers on: a forged source naming a
// whole network, a group or nobody gets nothing; the host's own addresses are answered (a control
// point on the same computer searches from them).
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
        {"10.231.7.1", true},   {"192.168.50.0", true},     {"239.255.255.250", false},
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

// The socket each answer leaves from cannot reach a broadcast address: the device tries one on
// the very socket it is handed to answer on.
class ProbingDevice : public TestDevice {
public:
    KL_Result SendSsdpSearchResponse(KL_HttpResponse& response, KL_UdpSocket& socket, const char* st,
                                     const KL_SocketAddress* address) override {
        const KL_SocketAddress broadcast(KL_IpAddress(10, 231, 7, 255), 9);
        const KL_DataBuffer probe("x", 1);
        m_Broadcasts += KL_SUCCEEDED(socket.Send(probe, &broadcast)) ? 1 : 0;
        ++m_Answers;
        return UP_DeviceHost::SendSsdpSearchResponse(response, socket, st, address);
    }
    std::atomic<int> m_Answers{0};
    std::atomic<int> m_Broadcasts{0};
};

TEST(SearchAnswerSocket, CannotBroadcast) {
    SSDP_REQUIRE_NETWORK();
    auto* probing = new ProbingDevice();
    const KL_Reference<UP_DeviceHost> device(probing);
    UP_UPnP upnp;
    ASSERT_EQ(KL_SUCCESS, upnp.AddDevice(device));
    ASSERT_EQ(KL_SUCCESS, upnp.Start());
    const int fd = Network::Get().ClientSocket();
    ASSERT_GE(fd, 0);
    EXPECT_TRUE(SendTo(fd, MSearch("upnp:rootdevice", "0"), kDeviceAddress, 1900));
    EXPECT_EQ(2u, ReceiveFor(fd, 1500, 2).size());
    close(fd);
    EXPECT_EQ(KL_SUCCESS, upnp.Stop());
    EXPECT_EQ(2, probing->m_Answers.load());
    EXPECT_EQ(0, probing->m_Broadcasts.load());
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
    // One answer task, whatever the number of pending answers.
    EXPECT_LE(most, before + 1);
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
    // The searcher is another host (the client namespace). One pass (below 1 s): the search is
    // sent twice; the repeat comes while the answer to the first is pending and is dropped, the
    // first is answered twice.
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
