// Runs each case of the window's service probe inside a fresh network namespace: with a veth pair
// whose end "en0" carries 10.77.0.1/24 and the default route (the LAN address the services need),
// or with the loopback interface alone. Port 8080 of a namespace is its own; nothing leaves it.
#include "RunCommand.h"

#include <gtest/gtest.h>

#include <string>

namespace lanyard {
namespace {

const std::string kWithLan = "ip link set lo up\n"
                             "ip link add en0 type veth peer name x0\n"
                             "ip addr add 10.77.0.1/24 dev en0\n"
                             "ip link set en0 up\n"
                             "ip link set x0 up\n"
                             "ip route add default via 10.77.0.254 dev en0\n";
const std::string kLoopbackOnly = "ip link set lo up\n";

class AppMainWindowNamespace : public ::testing::Test {
protected:
    void SetUp() override {
        int status = 0;
        test::runCommand("unshare -n sh -c 'ip link add t0 type veth peer name t1' 2>&1", &status);
        if (status != 0) {
            GTEST_SKIP()
                << "network namespaces with veth pairs are refused here (unshare -n needs root and the "
                   "veth driver); the window's services are not checked";
        }
    }

    // Runs one case of the probe (or of a copy of it) in a namespace set up by the commands; checks
    // that it passed.
    static void runCase(const std::string& setup, const std::string& name,
                        const std::string& probe = APP_WINDOW_SERVICE_PROBE,
                        const std::string& suite = "AppWindowService") {
        int status = 0;
        const std::string command =
            "unshare -n sh -ec '" + setup + "exec env LANYARD_NETNS=1 QT_QPA_PLATFORM=offscreen " +
            std::string(probe == APP_WINDOW_SERVICE_PROBE ? "LANYARD_SCREENSHOTS=1 " : "") +
            "DBUS_SYSTEM_BUS_ADDRESS=unix:path=/nonexistent/lanyard-test-bus " + probe +
            " --gtest_filter=" + suite + "." + name + "' 2>&1";
        const std::string output = test::runCommand(command, &status);
        EXPECT_EQ(status, 0) << output;
        EXPECT_NE(output.find("[  PASSED  ] 1 test."), std::string::npos) << output;
    }

    // Runs one media server case of the probe in the device namespace of netns_lib.sh, whose client
    // namespace the probe reaches through NS_CP. The web servers name their URL after the primary
    // interface, so the cases that start them first get a default route on en0 (its only peer is the
    // client namespace).
    static void runDlnaCase(const std::string& name, bool defaultRoute = false) {
        const std::string script =
            ". " LANYARD_SOURCE_DIR "/tests/e2e/netns_lib.sh; netns_up; " +
            std::string(defaultRoute ? "netns_dev ip route add default dev en0; " : "") +
            "netns_dev env NS_CP=$NS_CP LANYARD_NETNS=1 QT_QPA_PLATFORM=offscreen LANYARD_SCREENSHOTS=1 "
            "DBUS_SYSTEM_BUS_ADDRESS=unix:path=/nonexistent/lanyard-test-bus " APP_WINDOW_SERVICE_PROBE
            " --gtest_filter=AppWindowDlna." +
            name + "; status=$?; netns_down; exit $status";
        int status = 0;
        const std::string output = test::runCommand("bash -c '" + script + "' 2>&1", &status, 110);
        if (status == 77) {
            GTEST_SKIP() << output;
        }
        EXPECT_EQ(status, 0) << output;
        EXPECT_NE(output.find("[  PASSED  ] 1 test."), std::string::npos) << output;
    }
};

TEST_F(AppMainWindowNamespace, StartHttpServesTheSelectedFolderAndStopEndsIt) {
    runCase(kWithLan, "StartHttpServesTheSelectedFolderAndStopEndsIt");
}

TEST_F(AppMainWindowNamespace, OneServiceAtATime) {
    runCase(kWithLan, "OneServiceAtATime");
}

TEST_F(AppMainWindowNamespace, ClosingOrQuittingWhileAServiceRunsIsRefused) {
    runCase(kWithLan, "ClosingOrQuittingWhileAServiceRunsIsRefused");
}

TEST_F(AppMainWindowNamespace, ShowFullPathShapesTheServedHeader) {
    runCase(kWithLan, "ShowFullPathShapesTheServedHeader");
}

TEST_F(AppMainWindowNamespace, ThePermissionPanelSharesTheChosenFolder) {
    runCase(kWithLan, "ThePermissionPanelSharesTheChosenFolder");
}

TEST_F(AppMainWindowNamespace, ATakenPortStartsNothingAndSaysNothing) {
    runCase(kWithLan, "ATakenPortStartsNothingAndSaysNothing");
}

// Installed, the program finds the web file manager's pages in ../share/lanyard/WebUploader.bundle.
TEST_F(AppMainWindowNamespace, TheInstalledLayoutFindsTheWebPages) {
    int status = 0;
    const std::string prefix = test::runCommand("mktemp -d /tmp/lanyard-installed-XXXXXX", &status);
    ASSERT_EQ(status, 0);
    const std::string root = prefix.substr(0, prefix.find('\n'));
    test::runCommand("mkdir -p " + root + "/bin " + root + "/share/lanyard && cp " +
                         std::string(APP_WINDOW_SERVICE_PROBE) + " " + root + "/bin/ && cp -r " +
                         std::string(LANYARD_WEBUPLOADER_BUNDLE) + " " + root +
                         "/share/lanyard/WebUploader.bundle",
                     &status);
    ASSERT_EQ(status, 0);
    runCase(kWithLan, "StartHttpServesTheSelectedFolderAndStopEndsIt",
            root + "/bin/app_window_service_probe");
    test::runCommand("rm -rf " + root);
}

TEST_F(AppMainWindowNamespace, WithoutALanAddressNothingStarts) {
    runCase(kLoopbackOnly, "WithoutALanAddressNothingStarts");
}

TEST_F(AppMainWindowNamespace, DlnaStartsUnderTheDeviceNameAndStops) {
    runDlnaCase("StartsUnderTheDeviceNameAndStops");
}

TEST_F(AppMainWindowNamespace, DlnaWithoutADeviceNameTheComputerNameIsAnnounced) {
    runDlnaCase("WithoutADeviceNameTheComputerNameIsAnnounced");
}

TEST_F(AppMainWindowNamespace, DlnaWaitsForTheWebServersToStop) {
    runDlnaCase("WaitsForTheWebServersToStop", true);
}

TEST_F(AppMainWindowNamespace, DlnaWhileItRunsNothingElseStartsAndTheWindowStays) {
    runDlnaCase("WhileItRunsNothingElseStartsAndTheWindowStays");
}

TEST_F(AppMainWindowNamespace, DlnaATakenSsdpPortStartsNothingAndSaysNothing) {
    runDlnaCase("ATakenSsdpPortStartsNothingAndSaysNothing");
}

TEST_F(AppMainWindowNamespace, DlnaThePermissionPanelSharesTheChosenFolder) {
    runDlnaCase("ThePermissionPanelSharesTheChosenFolder");
}

TEST_F(AppMainWindowNamespace, DlnaWithoutALanAddressNothingStarts) {
    runCase(kLoopbackOnly, "WithoutALanAddressNothingStarts", APP_WINDOW_SERVICE_PROBE, "AppWindowDlna");
}

} // namespace
} // namespace lanyard
