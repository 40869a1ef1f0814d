#include "foundation/SocketAddress.h"

#include <gtest/gtest.h>

#include <arpa/inet.h>
#include <cstring>
#include <net/if.h>
#include <netinet/in.h>
#include <sys/socket.h>

using platform::Data;
using platform::interfaceAddress;
using platform::stringFromSockAddr;
using platform::stringFromSockAddrData;

namespace {

sockaddr_in ipv4(const char* text, std::uint16_t port) {
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_port = htons(port);
    inet_pton(AF_INET, text, &address.sin_addr);
    return address;
}

sockaddr_in6 ipv6(const char* text, std::uint16_t port) {
    sockaddr_in6 address{};
    address.sin6_family = AF_INET6;
    address.sin6_port = htons(port);
    inet_pton(AF_INET6, text, &address.sin6_addr);
    return address;
}

template <typename T> Data bytesOf(const T& value) {
    Data data;
    platform::appendBytes(data, &value, sizeof(value));
    return data;
}

} // namespace

TEST(SocketAddress, FormatsIPv4AndIPv6WithoutBrackets) {
    const sockaddr_in v4 = ipv4("127.0.0.1", 8080);
    EXPECT_EQ(stringFromSockAddr(reinterpret_cast<const sockaddr*>(&v4), false), "127.0.0.1");
    EXPECT_EQ(stringFromSockAddr(reinterpret_cast<const sockaddr*>(&v4), true), "127.0.0.1:8080");
    const sockaddr_in6 v6 = ipv6("::1", 80);
    EXPECT_EQ(stringFromSockAddr(reinterpret_cast<const sockaddr*>(&v6), false), "::1");
    EXPECT_EQ(stringFromSockAddr(reinterpret_cast<const sockaddr*>(&v6), true), "::1:80");
    EXPECT_EQ(stringFromSockAddrData(bytesOf(ipv6("2001:db8::10", 65535)), true), "2001:db8::10:65535");
    EXPECT_EQ(stringFromSockAddrData(bytesOf(ipv4("192.0.2.7", 1)), true), "192.0.2.7:1");
}

TEST(SocketAddress, RejectsWhatIsNotAnInternetAddress) {
    EXPECT_FALSE(stringFromSockAddr(nullptr, true));
    sockaddr_storage unix{};
    unix.ss_family = AF_UNIX;
    EXPECT_FALSE(stringFromSockAddr(reinterpret_cast<const sockaddr*>(&unix), false));
    EXPECT_FALSE(stringFromSockAddrData(Data{}, false));
    Data truncated = bytesOf(ipv6("::1", 80));
    truncated.resize(sizeof(sockaddr_in));
    EXPECT_FALSE(stringFromSockAddrData(truncated, false));
    EXPECT_FALSE(stringFromSockAddrData(Data(sizeof(sockaddr_storage) + 1, 0), false));
}

TEST(SocketAddress, InterfaceAddresses) {
    EXPECT_EQ(interfaceAddress("lo", false), "127.0.0.1");
    if (const auto v6 = interfaceAddress("lo", true)) {
        EXPECT_EQ(*v6, "::1");
    }
    for (const char* unknown : {"nosuchif0", "", "l"}) {
        EXPECT_FALSE(interfaceAddress(unknown, false)) << unknown;
    }
}
