#include "sysconfig/SystemConfiguration.h"
#include "sysconfig/SystemConfigurationFiles.h"

#include <gtest/gtest.h>

#include <net/if.h>

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

TEST(SystemConfiguration, DefaultRouteWithLowestMetric) {
    const std::string routes = table("enp3s0\t0000A8C0\t00000000\t0001\t0\t0\t100\t00FFFFFF\t0\t0\t0\n"
                                     "wlp2s0\t00000000\t0101A8C0\t0003\t0\t0\t600\t00000000\t0\t0\t0\n"
                                     "enp3s0\t00000000\t0101A8C0\t0003\t0\t0\t100\t00000000\t0\t0\t0\n"
                                     "wlp2s0\t0000A8C0\t00000000\t0001\t0\t0\t600\t00FFFFFF\t0\t0\t0\n");
    EXPECT_EQ(defaultRouteInterface(routes), std::optional<std::string>("enp3s0"));
}

TEST(SystemConfiguration, FirstDefaultRouteWinsATie) {
    const std::string routes = table("eth1\t00000000\t0101A8C0\t0003\t0\t0\t0\t00000000\t0\t0\t0\n"
                                     "eth0\t00000000\t0102A8C0\t0003\t0\t0\t0\t00000000\t0\t0\t0");
    EXPECT_EQ(defaultRouteInterface(routes), std::optional<std::string>("eth1"));
}

TEST(SystemConfiguration, IgnoresRoutesThatAreDownOrNotDefault) {
    const std::string routes = table("eth0\t00000000\t0101A8C0\t0002\t0\t0\t0\t00000000\t0\t0\t0\n"
                                     "eth1\t00000000\t0101A8C0\t0003\t0\t0\t0\t000000FF\t0\t0\t0\n"
                                     "eth2\t0000000A\t00000000\t0001\t0\t0\t0\t00000000\t0\t0\t0\n"
                                     "wlan0\t00000000\t0101A8C0\t0003\t0\t0\t50\t00000000\t0\t0\t0\n");
    EXPECT_EQ(defaultRouteInterface(routes), std::optional<std::string>("wlan0"));
}

TEST(SystemConfiguration, NoDefaultRouteGivesNone) {
    EXPECT_FALSE(defaultRouteInterface(""));
    EXPECT_FALSE(defaultRouteInterface(kHeader));
    // The header alone names no interface even if it looked like a route.
    EXPECT_FALSE(defaultRouteInterface("eth0\t00000000\t0101A8C0\t0003\t0\t0\t0\t00000000\t0\t0\t0\n"));
    EXPECT_FALSE(defaultRouteInterface(table("lo\t0000007F\t00000000\t0001\t0\t0\t0\t000000FF\t0\t0\t0\n")));
    EXPECT_FALSE(defaultRouteInterface(table("eth0\t00000000\t0101A8C0\tzz\t0\t0\t0\t00000000\t0\t0\t0\n"
                                             "garbage\n")));
}

TEST(SystemConfiguration, PrettyHostNameUnquoted) {
    EXPECT_EQ(prettyHostNameFromMachineInfo("PRETTY_HOSTNAME=\"Jane's Laptop\"\nCHASSIS=laptop\n"),
              std::optional<std::string>("Jane's Laptop"));
    EXPECT_EQ(prettyHostNameFromMachineInfo("# comment\nCHASSIS=desktop\nPRETTY_HOSTNAME=Studio"),
              std::optional<std::string>("Studio"));
    EXPECT_EQ(prettyHostNameFromMachineInfo("PRETTY_HOSTNAME='Ann \"A\" Box'\n"),
              std::optional<std::string>("Ann \"A\" Box"));
    EXPECT_EQ(prettyHostNameFromMachineInfo("PRETTY_HOSTNAME=\"Say \\\"hi\\\"\"\n"),
              std::optional<std::string>("Say \"hi\""));
    EXPECT_EQ(prettyHostNameFromMachineInfo("PRETTY_HOSTNAME=\"Café ☕\"\n"),
              std::optional<std::string>("Café ☕"));
}

TEST(SystemConfiguration, MissingOrEmptyPrettyHostNameGivesNone) {
    EXPECT_FALSE(prettyHostNameFromMachineInfo(""));
    EXPECT_FALSE(prettyHostNameFromMachineInfo("CHASSIS=laptop\n#PRETTY_HOSTNAME=Old\n"));
    EXPECT_FALSE(prettyHostNameFromMachineInfo("PRETTY_HOSTNAME=\"\"\n"));
    EXPECT_FALSE(prettyHostNameFromMachineInfo("XPRETTY_HOSTNAME=Other\n"));
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
