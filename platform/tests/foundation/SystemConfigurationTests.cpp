#include "sysconfig/SystemConfiguration.h"
#include "sysconfig/SystemConfigurationFiles.h"

#include <gtest/gtest.h>

#include <net/if.h>

#include <optional>
#include <utility>

using platform::SystemConfiguration;
using platform::sysconfig::defaultRouteInterface;
using platform::sysconfig::prettyHostNameFromMachineInfo;

namespace {

constexpr const char* kHeader =
    "Iface\tDestination\tGateway \tFlags\tRefCnt\tUse\tMetric\tMask\t\tMTU\tWindow\tIRTT           \n";

std::string table(const std::string& rows) {
    return kHeader + rows;
}

} // namespace

TEST(SystemConfiguration, DefaultRouteThatIsUpWithTheLowestMetricFirstWins) {
    const std::optional<std::string> none;
    const std::pair<std::string, std::optional<std::string>> cases[] = {
        {table("enp3s0\t0000A8C0\t00000000\t0001\t0\t0\t100\t00FFFFFF\t0\t0\t0\n"
               "wlp2s0\t00000000\t0101A8C0\t0003\t0\t0\t600\t00000000\t0\t0\t0\n"
               "enp3s0\t00000000\t0101A8C0\t0003\t0\t0\t100\t00000000\t0\t0\t0\n"
               "wlp2s0\t0000A8C0\t00000000\t0001\t0\t0\t600\t00FFFFFF\t0\t0\t0\n"),
         "enp3s0"},
        {table("eth1\t00000000\t0101A8C0\t0003\t0\t0\t0\t00000000\t0\t0\t0\n" // a tie: the first wins
               "eth0\t00000000\t0102A8C0\t0003\t0\t0\t0\t00000000\t0\t0\t0"),
         "eth1"},
        // Down, not a default (mask, destination), then the one that counts.
        {table("eth0\t00000000\t0101A8C0\t0002\t0\t0\t0\t00000000\t0\t0\t0\n"
               "eth1\t00000000\t0101A8C0\t0003\t0\t0\t0\t000000FF\t0\t0\t0\n"
               "eth2\t0000000A\t00000000\t0001\t0\t0\t0\t00000000\t0\t0\t0\n"
               "wlan0\t00000000\t0101A8C0\t0003\t0\t0\t50\t00000000\t0\t0\t0\n"),
         "wlan0"},
        {"", none},
        {kHeader, none},
        // The first line is the header, so it names no interface even if it looks like a route.
        {"eth0\t00000000\t0101A8C0\t0003\t0\t0\t0\t00000000\t0\t0\t0\n", none},
        {table("lo\t0000007F\t00000000\t0001\t0\t0\t0\t000000FF\t0\t0\t0\n"), none},
        {table("eth0\t00000000\t0101A8C0\tzz\t0\t0\t0\t00000000\t0\t0\t0\ngarbage\n"), none},
    };
    for (const auto& [routes, expected] : cases) {
        EXPECT_EQ(defaultRouteInterface(routes), expected) << routes;
    }
}

TEST(SystemConfiguration, PrettyHostNameUnquotedAndNoneWhenMissingOrEmpty) {
    const std::optional<std::string> none;
    const std::pair<const char*, std::optional<std::string>> cases[] = {
        {"PRETTY_HOSTNAME=\"Jane's Laptop\"\nCHASSIS=laptop\n", "Jane's Laptop"},
        {"# comment\nCHASSIS=desktop\nPRETTY_HOSTNAME=Studio", "Studio"},
        {"PRETTY_HOSTNAME='Ann \"A\" Box'\n", "Ann \"A\" Box"},
        {"PRETTY_HOSTNAME=\"Say \\\"hi\\\"\"\n", "Say \"hi\""},
        {"PRETTY_HOSTNAME=\"Café ☕\"\n", "Café ☕"},
        {"", none},
        {"CHASSIS=laptop\n#PRETTY_HOSTNAME=Old\n", none},
        {"PRETTY_HOSTNAME=\"\"\n", none},
        {"XPRETTY_HOSTNAME=Other\n", none},
    };
    for (const auto& [text, expected] : cases) {
        EXPECT_EQ(prettyHostNameFromMachineInfo(text), expected) << text;
    }
}

TEST(SystemConfiguration, LiveValuesAreUsable) {
    const auto computer = SystemConfiguration::computerName();
    ASSERT_TRUE(computer);
    EXPECT_FALSE(computer->empty());
    const auto local = SystemConfiguration::localHostName();
    ASSERT_TRUE(local);
    EXPECT_FALSE(local->empty());
    EXPECT_EQ(local->find('.'), std::string::npos);
    if (const auto primary = SystemConfiguration::primaryInterface()) {
        EXPECT_NE(if_nametoindex(primary->c_str()), 0u) << *primary;
    }
    EXPECT_NE(if_nametoindex(SystemConfiguration::kLoopbackInterface), 0u);
}
