// IPv4 addresses, socket and hardware addresses, interface records built from getifaddrs-style
// entries, and the usable-interface filter.
#include "KL_IpAddress.h"
#include "KL_IpAddressFinder.h"
#include "KL_MacAddress.h"
#include "KL_NetworkInterface.h"
#include "KL_SocketAddress.h"

#include <arpa/inet.h>
#include <cstring>
#include <gtest/gtest.h>
#include <ifaddrs.h>
#include <linux/if_packet.h>
#include <net/if.h>
#include <net/if_arp.h>
#include <netinet/in.h>
#include <vector>

TEST(IpAddressTest, ParseTable) {
    const struct {
        const char* text;
        KL_Result result;
        uint32_t address;
    } cases[] = {
        {"192.168.0.1", KL_SUCCESS, 0xC0A80001},
        {"010.0.0.255", KL_SUCCESS, 0x0A0000FF},
        {"0.0.0.0", KL_SUCCESS, 0},
        {"255.255.255.255", KL_SUCCESS, 0xFFFFFFFF},
        {"256.1.1.1", KL_ERROR_INVALID_SYNTAX, 0},
        {"1.2.3", KL_ERROR_INVALID_SYNTAX, 0},
        {"1.2.3.4.", KL_ERROR_INVALID_SYNTAX, 0},
        {"1..2.3", KL_ERROR_INVALID_SYNTAX, 0},
        {".1.2.3", KL_ERROR_INVALID_SYNTAX, 0},
        {"a.b.c.d", KL_ERROR_INVALID_SYNTAX, 0},
        {" 1.2.3.4", KL_ERROR_INVALID_SYNTAX, 0},
        {"1.2.3.4 ", KL_ERROR_INVALID_SYNTAX, 0},
        {"1.2.3.4.5", KL_ERROR_INVALID_SYNTAX, 0},
        {"", KL_ERROR_INVALID_SYNTAX, 0},
        {"0000000200.1.1.1", KL_SUCCESS, 0xC8010101},
        {"1.2.3.-4", KL_ERROR_INVALID_SYNTAX, 0},
    };
    for (const auto& c : cases) {
        KL_IpAddress address(9, 9, 9, 9);
        EXPECT_EQ(address.Parse(c.text), c.result) << c.text;
        EXPECT_EQ(address.AsLong(), c.address) << c.text;
    }
    KL_IpAddress address(9, 9, 9, 9);
    EXPECT_EQ(address.Parse(static_cast<const char*>(nullptr)), KL_ERROR_INVALID_PARAMETERS);
    EXPECT_EQ(address, KL_IpAddress::Any);
}

TEST(IpAddressTest, TextBytesAndComparison) {
    KL_IpAddress address(0xC0A80105);
    EXPECT_STREQ(address.ToString().GetChars(), "192.168.1.5");
    EXPECT_EQ(address.AsBytes()[0], 192);
    EXPECT_EQ(address, KL_IpAddress(192, 168, 1, 5));
    EXPECT_NE(address, KL_IpAddress(192, 168, 1, 6));
    const uint8_t bytes[4] = {10, 0, 0, 7};
    EXPECT_EQ(address.Set(bytes), KL_SUCCESS);
    EXPECT_EQ(address.AsLong(), 0x0A000007u);
    EXPECT_STREQ(KL_SocketAddress(address, 8080).ToString().GetChars(), "10.0.0.7:8080");
    EXPECT_EQ(KL_SocketAddress(address, 80), KL_SocketAddress(KL_IpAddress(10, 0, 0, 7), 80));
    EXPECT_NE(KL_SocketAddress(address, 80), KL_SocketAddress(address, 81));
}

TEST(IpAddressTest, ResolveName) {
    KL_IpAddress address;
    EXPECT_EQ(address.ResolveName("10.0.0.7"), KL_SUCCESS);
    EXPECT_EQ(address, KL_IpAddress(10, 0, 0, 7));
    EXPECT_EQ(address.ResolveName(""), KL_ERROR_HOST_UNKNOWN);
    EXPECT_EQ(address.ResolveName(static_cast<const char*>(nullptr)), KL_ERROR_HOST_UNKNOWN);
    EXPECT_EQ(address.ResolveName("localhost"), KL_SUCCESS);
    EXPECT_EQ(address, KL_IpAddress(127, 0, 0, 1));
    EXPECT_EQ(address.ResolveName("no-such-host.invalid"), KL_ERROR_HOST_UNKNOWN);
}

TEST(MacAddressTest, Printing) {
    const uint8_t bytes[10] = {0x00, 0x1c, 0x42, 0xa3, 0x5f, 0x01, 7, 8, 9, 10};
    EXPECT_STREQ(KL_MacAddress(2, bytes, 6).ToString().GetChars(), "00:1c:42:a3:5f:01");
    KL_MacAddress longer(0, bytes, 10);
    EXPECT_EQ(longer.m_Length, 8u);
    EXPECT_STREQ(longer.ToString().GetChars(), "00:1c:42:a3:5f:01:07:08");
    EXPECT_STREQ(KL_MacAddress().ToString().GetChars(), "");
}

namespace {

// getifaddrs-style entries made by hand: each entry owns its socket addresses.
class FakeEntries {
public:
    void Inet(const char* name, unsigned flags, const char* address, const char* mask, const char* other) {
        Entry& e = Add(name, flags);
        e.addr = In(address);
        e.mask = In(mask);
        e.other = In(other);
        e.entry.ifa_addr = reinterpret_cast<sockaddr*>(&e.addr);
        e.entry.ifa_netmask = mask ? reinterpret_cast<sockaddr*>(&e.mask) : nullptr;
        e.entry.ifa_ifu.ifu_broadaddr = other ? reinterpret_cast<sockaddr*>(&e.other) : nullptr;
    }
    void Packet(const char* name, unsigned flags, unsigned short type, uint8_t last_byte) {
        Entry& e = Add(name, flags);
        sockaddr_ll link{};
        link.sll_family = AF_PACKET;
        link.sll_hatype = type;
        link.sll_halen = 6;
        link.sll_addr[5] = last_byte;
        std::memcpy(&e.addr, &link, sizeof link);
        e.entry.ifa_addr = reinterpret_cast<sockaddr*>(&e.addr);
    }
    void Other(const char* name, unsigned flags, int family) {
        Entry& e = Add(name, flags);
        e.addr.ss_family = static_cast<sa_family_t>(family);
        e.entry.ifa_addr = reinterpret_cast<sockaddr*>(&e.addr);
    }
    const ifaddrs* Head() {
        for (size_t i = 0; i + 1 < m_Entries.size(); ++i) {
            m_Entries[i].entry.ifa_next = &m_Entries[i + 1].entry;
        }
        return m_Entries.empty() ? nullptr : &m_Entries[0].entry;
    }

private:
    struct Entry {
        ifaddrs entry{};
        std::string name;
        sockaddr_storage addr{}, mask{}, other{};
    };
    Entry& Add(const char* name, unsigned flags) {
        m_Entries.reserve(16); // the entries point into each other: no reallocation
        m_Entries.emplace_back();
        Entry& e = m_Entries.back();
        e.name = name;
        e.entry.ifa_name = e.name.data();
        e.entry.ifa_flags = flags;
        return e;
    }
    static sockaddr_storage In(const char* text) {
        sockaddr_storage storage{};
        if (text != nullptr) {
            auto* in = reinterpret_cast<sockaddr_in*>(&storage);
            in->sin_family = AF_INET;
            inet_pton(AF_INET, text, &in->sin_addr);
        }
        return storage;
    }
    std::vector<Entry> m_Entries;
};

std::string Describe(const KL_NetworkInterfaceList& list) {
    std::string text;
    for (const KL_NetworkInterface* record : list) {
        text += std::string(record->GetName().GetChars()) + " " + std::to_string(record->GetFlags()) + " " +
                record->GetMacAddress().ToString().GetChars() + "/" +
                std::to_string(record->GetMacAddress().m_Type);
        for (const KL_NetworkInterfaceAddress& a : record->GetAddresses()) {
            text += std::string(" [") + a.m_PrimaryAddress.ToString().GetChars() + " " +
                    a.m_BroadcastAddress.ToString().GetChars() + " " +
                    a.m_DestinationAddress.ToString().GetChars() + " " + a.m_NetMask.ToString().GetChars() +
                    "]";
        }
        text += ";";
    }
    return text;
}

constexpr unsigned kEther = IFF_UP | IFF_BROADCAST | IFF_MULTICAST;

} // namespace

TEST(NetworkInterfaceTest, RecordsFromEntries) {
    FakeEntries entries;
    entries.Packet("lo", IFF_UP | IFF_LOOPBACK, ARPHRD_LOOPBACK, 0);
    entries.Packet("eth0", kEther, ARPHRD_ETHER, 0x42);
    entries.Packet("down0", IFF_BROADCAST, ARPHRD_ETHER, 0x43);
    entries.Packet("ppp0", IFF_UP | IFF_POINTOPOINT | IFF_MULTICAST, ARPHRD_PPP, 0);
    entries.Inet("lo", IFF_UP | IFF_LOOPBACK, "127.0.0.1", "255.0.0.0", nullptr);
    entries.Inet("eth0", kEther, "192.168.1.5", "255.255.255.0", "192.168.1.255");
    entries.Inet("eth0:1", kEther, "10.1.0.1", nullptr, "10.1.0.255");   // a labelled address
    entries.Inet("eth0", kEther, "10.2.0.1", "255.255.0.0", "10.2.0.1"); // no broadcast address
    entries.Inet("down0", IFF_BROADCAST, "10.9.0.1", "255.255.0.0", nullptr);
    entries.Inet("ppp0", IFF_UP | IFF_POINTOPOINT | IFF_MULTICAST, "10.64.0.2", "255.255.255.255",
                 "10.64.0.1");
    entries.Inet("noflag0", IFF_UP, "10.7.0.1", "255.255.0.0", "10.7.255.255"); // no broadcast flag
    entries.Other("eth0", kEther, AF_INET6);

    KL_NetworkInterfaceList list;
    EXPECT_EQ(KL_NetworkInterface::AddInterfaces(entries.Head(), list), KL_SUCCESS);
    EXPECT_EQ(Describe(list), "lo 1 00:00:00:00:00:00/1 [127.0.0.1 0.0.0.0 0.0.0.0 255.0.0.0];"
                              "eth0 12 00:00:00:00:00:42/2 [192.168.1.5 192.168.1.255 0.0.0.0 255.255.255.0]"
                              " [10.1.0.1 10.1.0.255 0.0.0.0 255.255.255.255]"
                              " [10.2.0.1 0.0.0.0 0.0.0.0 255.255.0.0];"
                              "ppp0 24 00:00:00:00:00:00/3 [10.64.0.2 0.0.0.0 10.64.0.1 255.255.255.255];"
                              "noflag0 0 /0 [10.7.0.1 0.0.0.0 0.0.0.0 255.255.0.0];");
    KL_NetworkInterface* found = nullptr;
    EXPECT_EQ(KL_ContainerFind(list, KL_IpAddressFinder(KL_IpAddress(10, 1, 0, 1)), found), KL_SUCCESS);
    EXPECT_STREQ(found->GetName().GetChars(), "eth0");
    EXPECT_EQ(KL_ContainerFind(list, KL_IpAddressFinder(KL_IpAddress(10, 1, 0, 2)), found),
              KL_ERROR_NO_SUCH_ITEM);
    KL_DeleteNetworkInterfaces(list);
    EXPECT_EQ(list.GetItemCount(), 0u);
}

TEST(NetworkInterfaceTest, UsableFilter) {
    const uint32_t mc = KL_NETWORK_INTERFACE_FLAG_MULTICAST;
    const uint32_t lo = KL_NETWORK_INTERFACE_FLAG_LOOPBACK | mc;
    const struct {
        const char* name;
        uint32_t flags;
        const char* first_address; // null: no address
    } records[] = {
        {"lo", lo, "127.0.0.1"},
        {"en0", mc | KL_NETWORK_INTERFACE_FLAG_BROADCAST, "192.168.1.5"},
        {"ppp0", mc | KL_NETWORK_INTERFACE_FLAG_POINT_TO_POINT, "10.64.0.2"},
        {"nomc0", KL_NETWORK_INTERFACE_FLAG_BROADCAST, "10.1.0.1"},
        {"zero0", mc, "0.0.0.0"},
        {"bare0", mc, nullptr},
        {"lo1", KL_NETWORK_INTERFACE_FLAG_LOOPBACK, "127.0.0.2"}, // loopback without multicast: fallback only
    };
    const struct {
        bool include_loopback, loopback_only;
        const char* kept;
    } cases[] = {
        {false, false, "en0;"}, {true, false, "lo;en0;"}, {true, true, "lo;lo1;"}, {false, true, "lo;lo1;"}};
    for (const auto& c : cases) {
        KL_NetworkInterfaceList candidates;
        for (const auto& r : records) {
            auto* record = new KL_NetworkInterface(r.name, r.flags);
            if (r.first_address != nullptr) {
                KL_NetworkInterfaceAddress address;
                (void)address.m_PrimaryAddress.Parse(r.first_address);
                (void)record->AddAddress(address);
                (void)address.m_PrimaryAddress.Parse("192.168.9.9"); // a second address changes nothing
                (void)record->AddAddress(address);
            }
            (void)candidates.Add(record);
        }
        KL_NetworkInterfaceList kept;
        KL_FilterUsableNetworkInterfaces(candidates, kept, c.include_loopback, c.loopback_only);
        std::string names;
        for (const KL_NetworkInterface* record : kept) {
            names += std::string(record->GetName().GetChars()) + ";";
        }
        EXPECT_EQ(names, c.kept) << c.include_loopback << c.loopback_only;
        EXPECT_EQ(candidates.GetItemCount(), 0u);
        KL_DeleteNetworkInterfaces(kept);
    }
}

TEST(NetworkInterfaceTest, HostEnumerationHasLoopback) {
    KL_NetworkInterfaceList list;
    ASSERT_EQ(KL_NetworkInterface::GetNetworkInterfaces(list), KL_SUCCESS);
    KL_NetworkInterface* lo = nullptr;
    EXPECT_EQ(KL_ContainerFind(list, KL_IpAddressFinder(KL_IpAddress(127, 0, 0, 1)), lo), KL_SUCCESS);
    if (lo != nullptr) {
        EXPECT_TRUE(lo->GetFlags() & KL_NETWORK_INTERFACE_FLAG_LOOPBACK);
        EXPECT_EQ(lo->GetMacAddress().m_Type, KL_MacAddress::TYPE_LOOPBACK);
    }
    KL_DeleteNetworkInterfaces(list);
}
