// The engine in a namespace of its own: states, device starts, the group on en0, announcements.
#include "../ssdp/SsdpTestNetwork.h"
#include "UP_UPnP.h"

#include <fstream>
#include <sstream>

namespace {

using namespace ssdp_test;

class Engine : public ::testing::Test {
protected:
    void SetUp() override { SSDP_REQUIRE_NETWORK(); }
    KL_Reference<UP_DeviceHost> m_Device{new TestDevice()};
};

// The NTS and NT of every NOTIFY received.
std::vector<std::string> Notifies(const std::vector<Datagram>& got) {
    std::vector<std::string> kinds;
    for (const Datagram& d : got) {
        kinds.push_back(Header(d.text, "NTS") + " " + Header(d.text, "NT"));
    }
    return kinds;
}

std::vector<std::string> Round(const char* nts) {
    std::vector<std::string> round;
    for (const std::string& nt : {std::string("upnp:rootdevice"), std::string("uuid:") + kUuid,
                                  std::string(kDeviceType), std::string(kServiceType)}) {
        round.push_back(std::string(nts) + " " + nt);
    }
    return round;
}

std::vector<std::string> Twice(const std::vector<std::string>& round) {
    std::vector<std::string> both = round;
    both.insert(both.end(), round.begin(), round.end());
    return both;
}

TEST_F(Engine, RefusesWrongStatesAndStrangers) {
    UP_UPnP upnp;
    EXPECT_EQ(KL_ERROR_INVALID_STATE, upnp.Stop());
    ASSERT_EQ(KL_SUCCESS, upnp.Start());
    EXPECT_EQ(KL_ERROR_INVALID_STATE, upnp.Start());
    EXPECT_TRUE(upnp.IsStarted());
    EXPECT_EQ(KL_ERROR_NO_SUCH_ITEM, upnp.RemoveDevice(m_Device));
    EXPECT_EQ(KL_SUCCESS, upnp.Stop());
    EXPECT_EQ(KL_ERROR_INVALID_STATE, upnp.Stop());
}

TEST_F(Engine, DeviceAddedWhileStartedStartsAtOnce) {
    UP_UPnP upnp;
    ASSERT_EQ(KL_SUCCESS, upnp.Start());
    ASSERT_EQ(KL_SUCCESS, upnp.AddDevice(m_Device));
    EXPECT_TRUE(m_Device->IsStarted());
    EXPECT_EQ(KL_SUCCESS, upnp.RemoveDevice(m_Device));
    EXPECT_FALSE(m_Device->IsStarted());
    EXPECT_EQ(KL_SUCCESS, upnp.Stop());
}

TEST_F(Engine, JoinsTheGroupOnEn0) {
    UP_UPnP upnp;
    ASSERT_EQ(KL_SUCCESS, upnp.Start());
    std::ifstream igmp("/proc/thread-self/net/igmp");
    std::stringstream text;
    text << igmp.rdbuf();
    const std::string table = text.str();
    const size_t en0 = table.find("en0");
    ASSERT_NE(std::string::npos, en0) << table;
    // 239.255.255.250 as the kernel prints it.
    EXPECT_NE(std::string::npos, table.find("FAFFFFEF", en0)) << table;
    EXPECT_EQ(KL_SUCCESS, upnp.Stop());
}

TEST_F(Engine, NewBootIdBeforeEachStart) {
    UP_UPnP upnp;
    ASSERT_EQ(KL_SUCCESS, upnp.AddDevice(m_Device));
    ASSERT_EQ(KL_SUCCESS, upnp.Start());
    const uint32_t first = m_Device->GetBootId();
    EXPECT_NE(0u, first);
    EXPECT_EQ(KL_SUCCESS, upnp.Stop());
    ASSERT_EQ(KL_SUCCESS, upnp.Start());
    EXPECT_NE(first, m_Device->GetBootId());
    EXPECT_EQ(0u, m_Device->GetNextBootId());
    EXPECT_EQ(KL_SUCCESS, upnp.Stop());
}

TEST_F(Engine, StartStopChurn) {
    UP_UPnP upnp;
    ASSERT_EQ(KL_SUCCESS, upnp.AddDevice(m_Device));
    for (int i = 0; i < 20; ++i) {
        ASSERT_EQ(KL_SUCCESS, upnp.Start()) << i;
        ASSERT_TRUE(m_Device->IsStarted());
        ASSERT_EQ(KL_SUCCESS, upnp.Stop()) << i;
    }
}

TEST_F(Engine, AnnouncesOnStartAndSaysByeByeOnStop) {
    const int group = Network::Get().ClientGroupSocket();
    ASSERT_GE(group, 0);
    UP_UPnP upnp;
    ASSERT_EQ(KL_SUCCESS, upnp.AddDevice(m_Device));
    ASSERT_EQ(KL_SUCCESS, upnp.Start());
    const std::vector<Datagram> start = ReceiveFor(group, 1500);
    std::vector<std::string> expected = Twice(Round("ssdp:byebye"));
    const std::vector<std::string> alive = Twice(Round("ssdp:alive"));
    expected.insert(expected.end(), alive.begin(), alive.end());
    ASSERT_EQ(expected, Notifies(start));
    EXPECT_GE(start[8].nanos - start[7].nanos, 150000000);
    for (size_t i = 9; i < 16; ++i) {
        EXPECT_GE(start[i].nanos - start[i - 1].nanos, 40000000) << i;
    }
    EXPECT_GE(start[12].nanos - start[11].nanos, 150000000);
    for (size_t i = 8; i < 16; ++i) {
        EXPECT_EQ(std::string("http://") + kDeviceAddress + ":" + std::to_string(m_Device->GetPort()) +
                      "/DeviceDescription.xml",
                  Header(start[i].text, "Location"));
    }
    ASSERT_EQ(KL_SUCCESS, upnp.Stop());
    EXPECT_EQ(Twice(Round("ssdp:byebye")), Notifies(ReceiveFor(group, 500)));
    close(group);
}

TEST_F(Engine, PortHeldWithoutReuseFailsTheStart) {
    const int holder = socket(AF_INET, SOCK_DGRAM, 0);
    sockaddr_in any{};
    any.sin_family = AF_INET;
    any.sin_port = htons(1900);
    ASSERT_EQ(0, bind(holder, reinterpret_cast<sockaddr*>(&any), sizeof any));
    const int group = Network::Get().ClientGroupSocket();
    ASSERT_GE(group, 0);
    UP_UPnP upnp;
    ASSERT_EQ(KL_SUCCESS, upnp.AddDevice(m_Device));
    EXPECT_EQ(KL_ERROR_ADDRESS_IN_USE, upnp.Start());
    EXPECT_FALSE(upnp.IsStarted());
    EXPECT_FALSE(m_Device->IsStarted());
    EXPECT_TRUE(ReceiveFor(group, 400).empty());
    close(group);
    close(holder);
}

} // namespace
