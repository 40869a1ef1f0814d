#include "RunCommand.h"

#include <gtest/gtest.h>

#include <string>
#include <utility>

namespace lanyard {
namespace {

// Each case builds interfaces in a fresh network namespace (veth pairs; the host's network is never
// touched) and runs the probe there.
class HostNameNamespaceTest : public ::testing::Test {
protected:
    void SetUp() override {
        int status = 0;
        test::runCommand("unshare -n sh -c 'ip link add t0 type veth peer name t1' 2>&1", &status);
        if (status != 0) {
            GTEST_SKIP() << "network namespaces with veth pairs are refused here (unshare -n needs root "
                            "and the veth driver); the LAN-address rule is not checked";
        }
    }

    // Runs the setup commands, then the probe, inside one new namespace.
    static std::string hostNameAfter(const std::string& setup) {
        int status = 0;
        const std::string output = test::runCommand("unshare -n sh -ec '" + setup + "\nexec " +
                                                        std::string(APP_CORE_HOSTNAME_PROBE) + "' 2>&1",
                                                    &status);
        EXPECT_EQ(status, 0) << output;
        return output.empty() ? output : output.substr(0, output.find('\n'));
    }

    // A veth pair whose first end is `name`, up, with the IPv4 address.
    static std::string veth(const std::string& name, const std::string& peer, const std::string& address) {
        return "ip link add " + name + " type veth peer name " + peer + "\nip addr add " + address +
               "/24 dev " + name + "\nip link set " + name + " up\nip link set " + peer + " up\n";
    }
};

TEST_F(HostNameNamespaceTest, FirstIPv4AddressOfAQualifyingInterface) {
    const std::pair<std::string, std::string> cases[] = {
        {veth("en0", "x0", "10.11.12.13"), "10.11.12.13"},
        {veth("en1", "x1", "10.1.0.1"), "10.1.0.1"},
        // Linux names its Ethernet and Wi-Fi interfaces en*, eth* and wl*.
        {veth("eth0", "x0", "10.2.0.1"), "10.2.0.1"},
        {veth("wlan0", "x0", "10.3.0.1"), "10.3.0.1"},
        {veth("enp3s0", "x0", "10.4.0.1"), "10.4.0.1"},
        // Only IPv6 on en0.
        {"ip link add en0 type veth peer name x0\nip -6 addr add fd00:1::1/64 dev en0 nodad\n"
         "ip link set en0 up\nip link set x0 up\n",
         "none"},
        {"ip link set lo up\n" + veth("docker0", "x0", "172.17.0.1") + veth("tun0", "x1", "10.8.0.1") +
             veth("veth0", "x2", "10.9.0.1"),
         "none"},
        {"ip link set lo name en0\nip link set en0 up\n", "none"}, // loopback never, whatever its name
        // Interfaces are listed in creation order, so eth1 comes before en0 here.
        {veth("docker0", "x0", "172.17.0.1") + veth("eth1", "x1", "10.20.0.1") +
             "ip addr add 10.20.0.2/24 dev eth1\n" + veth("en0", "x2", "10.30.0.1"),
         "10.20.0.1"},
        // An interface that is down still qualifies.
        {"ip link add en0 type veth peer name x0\nip addr add 10.5.0.1/24 dev en0\n", "10.5.0.1"},
    };
    for (const auto& [setup, expected] : cases) {
        SCOPED_TRACE(setup);
        EXPECT_EQ(hostNameAfter(setup), expected);
    }
}

} // namespace
} // namespace lanyard
