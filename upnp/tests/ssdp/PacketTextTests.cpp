// The SSDP packet texts, header order included, against the golden texts; the announce interval.
#include "KL_HttpRequest.h"
#include "KL_UdpSocket.h"
#include "SsdpTestNetwork.h"
#include "UP_SsdpAnnounceInterfaceIterator.h"
#include "UP_SsdpDeviceAnnounceTask.h"
#include "UP_UPnP.h"

#include <fstream>
#include <sstream>

namespace {

using namespace ssdp_test;

std::string Golden(const std::string& name) {
    std::ifstream in(std::string(UPNP_TEST_DATA_DIR) + "/" + name, std::ios::binary);
    std::ostringstream text;
    text << in.rdbuf();
    return text.str();
}

// CRLF as LF; the varying values (Date, boot id, ports) as fixed words.
std::string Normalized(const std::vector<Datagram>& datagrams) {
    std::string all;
    for (const Datagram& d : datagrams) {
        std::string text = d.text;
        const size_t config = text.find("CONFIGID.UPNP.ORG: ");
        if (config != std::string::npos) {
            text.erase(config, text.find("\r\n", config) + 2 - config);
        }
        for (const char* name : {"Date", "BOOTID.UPNP.ORG"}) {
            const std::string value = Header(text, name);
            if (!value.empty()) {
                text.replace(text.find(name + std::string(": ")) + std::strlen(name) + 2, value.size(), "X");
            }
        }
        const size_t port = text.find(":", text.find("http://10.231.7.1") + 10);
        if (text.find("http://10.231.7.1") != std::string::npos) {
            text.replace(port + 1, text.find('/', port) - port - 1, "PORT");
        }
        for (size_t at; (at = text.find("\r\n")) != std::string::npos;) {
            text.replace(at, 2, "\n");
        }
        all += text;
    }
    return all;
}

std::vector<Datagram> Announced(int type) {
    TestDevice device;
    EXPECT_EQ(KL_SUCCESS, device.SetupServices());
    KL_UdpSocket receiver(KL_SOCKET_FLAG_CANCELLABLE);
    EXPECT_EQ(KL_SUCCESS, receiver.Bind(KL_SocketAddress(KL_IpAddress(127, 0, 0, 1), 0)));
    KL_SocketInfo info;
    (void)receiver.GetInfo(info);
    KL_UdpSocket sender(KL_SOCKET_FLAG_CANCELLABLE);
    KL_HttpRequest request(KL_HttpUrl("127.0.0.1", static_cast<uint16_t>(info.local_address.m_Port), "*"),
                           "NOTIFY", "HTTP/1.1");
    request.GetHeaders().SetHeader("Host", "239.255.255.250:1900");
    if (type != UP_SSDP_ANNOUNCE_BYEBYE) {
        request.GetHeaders().SetHeader("Location", "http://10.231.7.1:4004/DeviceDescription.xml");
    }
    EXPECT_EQ(KL_SUCCESS, UP_DeviceHost::Announce(device, request, sender, type));
    std::vector<Datagram> got;
    for (;;) {
        KL_DataBuffer packet;
        (void)packet.Reserve(4096);
        (void)receiver.SetReadTimeout(100);
        if (KL_FAILED(receiver.Receive(packet))) {
            break;
        }
        got.push_back(
            {std::string(reinterpret_cast<const char*>(packet.GetData()), packet.GetDataSize()), "", 0});
    }
    return got;
}

TEST(SsdpPacketText, AliveEqualsGolden) {
    EXPECT_EQ(Golden("ssdp-alive.golden"), Normalized(Announced(UP_SSDP_ANNOUNCE_ALIVE)));
}

TEST(SsdpPacketText, ByeByeEqualsGolden) {
    EXPECT_EQ(Golden("ssdp-byebye.golden"), Normalized(Announced(UP_SSDP_ANNOUNCE_BYEBYE)));
}

TEST(SsdpPacketText, SearchResponseEqualsGolden) {
    SSDP_REQUIRE_NETWORK();
    KL_Reference<UP_DeviceHost> device(new TestDevice());
    UP_UPnP upnp;
    ASSERT_EQ(KL_SUCCESS, upnp.AddDevice(device));
    ASSERT_EQ(KL_SUCCESS, upnp.Start());
    const int client = Network::Get().ClientSocket();
    ASSERT_GE(client, 0);
    ASSERT_TRUE(SendTo(client, MSearch("ssdp:all"), kDeviceAddress, 1900));
    std::vector<Datagram> got = ReceiveFor(client, 1500);
    ASSERT_EQ(8u, got.size());
    got.resize(4);
    EXPECT_EQ(Golden("ssdp-search-response.golden"), Normalized(got));
    EXPECT_EQ(std::to_string(device->GetBootId()), Header(got[0].text, "BOOTID.UPNP.ORG"));
    // The configuration id follows the boot id (SetupServices gave the device one).
    const std::string config =
        "\r\nCONFIGID.UPNP.ORG: " + std::to_string(device->GetConfigId()) + "\r\nUSN: ";
    EXPECT_EQ(device->GetConfigId() != 0, got[0].text.find(config) != std::string::npos) << got[0].text;
    close(client);
    EXPECT_EQ(KL_SUCCESS, upnp.Stop());
}

TEST(SsdpPacketText, SearchResponseOmitsConfigIdZero) {
    TestDevice device;
    ASSERT_EQ(KL_SUCCESS, device.SetupServices());
    device.SetConfigIdValue(0);
    device.SetBootIdValue(7);
    KL_UdpSocket receiver(KL_SOCKET_FLAG_CANCELLABLE);
    ASSERT_EQ(KL_SUCCESS, receiver.Bind(KL_SocketAddress(KL_IpAddress(127, 0, 0, 1), 0)));
    KL_SocketInfo info;
    (void)receiver.GetInfo(info);
    KL_UdpSocket sender(KL_SOCKET_FLAG_CANCELLABLE);
    KL_HttpResponse response(200, "OK", "HTTP/1.1");
    ASSERT_EQ(KL_SUCCESS, UP_DeviceHost::SendSsdpSearchResponse(device, response, sender, "upnp:rootdevice",
                                                                &info.local_address));
    KL_DataBuffer packet;
    (void)packet.Reserve(4096);
    (void)receiver.SetReadTimeout(2000);
    ASSERT_EQ(KL_SUCCESS, receiver.Receive(packet));
    const std::string text(reinterpret_cast<const char*>(packet.GetData()), packet.GetDataSize());
    EXPECT_EQ("7", Header(text, "BOOTID.UPNP.ORG"));
    EXPECT_EQ(std::string::npos, text.find("CONFIGID"));
}

struct IntervalCase {
    int64_t lease;
    int64_t interval;
};

TEST(SsdpAnnounceInterval, FollowsTheLease) {
    for (const IntervalCase& c : {IntervalCase{10, 5}, {21, 10}, {22, 1}, {1800, 890}, {1, 1}, {0, 30}}) {
        EXPECT_EQ(c.interval,
                  UP_SsdpDeviceAnnounceTask::ComputeInterval(KL_TimeStamp::FromSeconds(c.lease)).ToSeconds())
            << "lease " << c.lease;
    }
}

} // namespace
