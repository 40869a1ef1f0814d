// Rules of the main window and the settings window that the other window tests leave out: the real
// end of the application, the start-up order, a selection without a folder, the empty device name,
// and — inside a network namespace of its own, where port 8080 is free — the refusal texts and the
// LAN-address rule while a service runs.
#include "AnimatedSetString.h"
#include "AppSetting.h"
#include "AppUtils.h"
#include "JHDataSet.h"
#include "RunCommand.h"
#include "SettingWindowController.h"
#include "SqliteDataReader.h"
#include "UiTestSupport.h"
#include "ViewController.h"

#include <QAction>
#include <QApplication>
#include <QCheckBox>
#include <QFile>
#include <QFileInfo>
#include <QLineEdit>
#include <QPlainTextEdit>
#include <QTableView>
#include <QTest>
#include <QTimer>

#include <gtest/gtest.h>

#include <array>
#include <cstdio>

#include <netinet/in.h>
#include <sys/socket.h>
#include <sys/wait.h>
#include <unistd.h>

namespace lanyard {
namespace {

using test::child;
using test::WindowDriver;

// The application gives up waiting for its own end after this long.
constexpr int kQuitTimeoutMilliseconds = 5000;

std::int32_t rowsInShareList() {
    JHDataSet rows;
    SqliteDataReader reader;
    reader.initWithDocFile(AppUtils::kDatabaseFileName, std::nullopt, 2);
    reader.excute(&rows, AppUtils::kSelectByValSQL);
    return rows.rows();
}

// Runs the application's loop until the window's Exit (or close) ends it; the loop's exit code, or
// 7 when the application did not end.
int runUntilTheApplicationEnds(const std::function<void()>& leave) {
    QTimer::singleShot(50, leave);
    QTimer::singleShot(kQuitTimeoutMilliseconds, [] { QCoreApplication::exit(7); });
    return QApplication::exec();
}

TEST(AppConformance, ExitWithNothingRunningEndsTheApplication) {
    ViewController window;
    window.setAlertRunner([](const QString&, const QString&) { ADD_FAILURE() << "no alert expected"; });
    test::showAndActivate(&window);
    EXPECT_EQ(runUntilTheApplicationEnds([&] { window.btnExitlick(); }), 0);
}

TEST(AppConformance, ClosingTheWindowWithNothingRunningEndsTheApplication) {
    ViewController window;
    window.setAlertRunner([](const QString&, const QString&) { ADD_FAILURE() << "no alert expected"; });
    test::showAndActivate(&window);
    EXPECT_EQ(runUntilTheApplicationEnds([&] { window.close(); }), 0);
}

TEST(AppConformance, StartUpSetsTheTextAtOnceAndLoadsTheListLater) {
    AppUtils::buildDB();
    AppUtils::addNewPath(test::makeFolder(QStringLiteral("Early")).toStdString());
    const std::int32_t stored = rowsInShareList();
    ASSERT_GT(stored, 0);
    ViewController window;
    WindowDriver driver(window);
    // Nothing of the list before the deferred load has run; the text is there without a fade.
    EXPECT_EQ(window.srvTable()->model()->rowCount(), 0);
    EXPECT_EQ(window.txtInfoView()->toPlainText(), QStringLiteral("initialize suc."));
    EXPECT_FALSE(AnimatedSetString::isAnimating(window.txtInfoView()));
    test::showAndActivate(&window);
    EXPECT_EQ(QApplication::focusWidget(), window.txtInfoView());
    EXPECT_TRUE(driver.waitForRows(stored));
    EXPECT_EQ(window.webServer(), nullptr);
    EXPECT_EQ(window.webDavServer(), nullptr);
    EXPECT_TRUE(driver.alerts().isEmpty() && driver.panels().isEmpty());
}

// A selection that names no folder (the first run's 1 before anything is added, or a folder removed
// behind the window's back) is still a selection: a start asks for the folder instead of shaking.
TEST(AppConformance, ASelectionWithoutAFolderAsksForPermission) {
    while (const std::int32_t newest = AppUtils::getLastPathID()) {
        AppUtils::removePathBySelectID(newest);
    }
    AppSetting::setUserIntConfig(1, AppUtils::kSelectPathIDKey);
    ViewController window;
    WindowDriver driver(window);
    ASSERT_TRUE(driver.waitForRows(0));
    ASSERT_EQ(window.selectedPathID(), 1);
    for (QAction* item : {window.tbItemDLNA(), window.tbItemHttp(), window.tbItemWebDAV()}) {
        driver.answerNextPanel(std::nullopt);
        item->trigger();
    }
    ASSERT_EQ(driver.panels().size(), 3);
    for (const auto& panel : driver.panels()) {
        EXPECT_EQ(panel.prompt, QStringLiteral("Sure Start"));
        EXPECT_EQ(panel.message, QStringLiteral("Permission for accessing and sure"));
        EXPECT_EQ(panel.directory, QString());
    }
    EXPECT_EQ(child<QObject>(&window, "shakeAnimation"), nullptr);
    EXPECT_EQ(window.webServer(), nullptr);
    EXPECT_EQ(window.webDavServer(), nullptr);
    EXPECT_TRUE(driver.alerts().isEmpty());
}

TEST(AppConformance, AnEmptyStoredDeviceNameShowsTheComputerName) {
    AppSetting::setUserStrConfig(std::string(), "deviceName");
    AppSetting::setUserStrConfig(std::string("1"), "showFullPath");
    ViewController window;
    test::click(child<QWidget>(&window, "btnSetting"));
    SettingWindowController* settings = window.settingWindowController();
    ASSERT_NE(settings, nullptr);
    EXPECT_EQ(child<QLineEdit>(settings, "txtName")->text(), SettingWindowController::getComputerName());
    EXPECT_FALSE(child<QLineEdit>(settings, "txtName")->text().isEmpty());
    EXPECT_TRUE(settings->btnShowFullPath()->isChecked());
    AppSetting::setUserIntConfig(0, "showFullPath");
}

// --- inside a network namespace ---------------------------------------------------------------

// The LAN the services need: a veth end named en0 with 10.77.0.1 and the default route.
const std::string kWithLan = "ip link set lo up\n"
                             "ip link add en0 type veth peer name x0\n"
                             "ip addr add 10.77.0.1/24 dev en0\n"
                             "ip link set en0 up\n"
                             "ip link set x0 up\n"
                             "ip route add default via 10.77.0.254 dev en0\n";

// Runs one case of AppConformanceInNamespace in this same program inside a new network namespace.
class AppConformanceNamespace : public ::testing::Test {
protected:
    void SetUp() override {
        int status = 0;
        lanyard::test::runCommand("unshare -n sh -c 'ip link add t0 type veth peer name t1' 2>&1", &status);
        if (status != 0) {
            GTEST_SKIP() << "network namespaces with veth pairs are refused here (unshare -n needs root "
                            "and the veth driver); the services' rules are not checked";
        }
    }

    static void runCase(const std::string& name) {
        const std::string program = QCoreApplication::applicationFilePath().toStdString();
        const std::string command = "unshare -n sh -ec '" + kWithLan +
                                    "exec env LANYARD_NETNS=1 QT_QPA_PLATFORM=offscreen "
                                    "DBUS_SYSTEM_BUS_ADDRESS=unix:path=/nonexistent/lanyard-test-bus " +
                                    program + " --gtest_filter=AppConformanceInNamespace." + name + "' 2>&1";
        int status = 0;
        const std::string output = lanyard::test::runCommand(command, &status, 100);
        EXPECT_EQ(status, 0) << output;
        EXPECT_NE(output.find("[  PASSED  ] 1 test."), std::string::npos) << output;
    }
};

TEST_F(AppConformanceNamespace, LeavingWhileWebDAVRunsShowsTheWebDAVRefusal) {
    runCase("LeavingWhileWebDAVRunsShowsTheWebDAVRefusal");
}

TEST_F(AppConformanceNamespace, AStartWithoutALanAddressDropsTheRunningServiceOfItsKind) {
    runCase("AStartWithoutALanAddressDropsTheRunningServiceOfItsKind");
}

TEST_F(AppConformanceNamespace, StartingARunningServiceAgainChangesNothing) {
    runCase("StartingARunningServiceAgainChangesNothing");
}

// Whether something accepts connections on 127.0.0.1:8080 (the namespace's own loopback).
bool portAnswers() {
    const int fd = ::socket(AF_INET, SOCK_STREAM, 0);
    if (fd < 0) {
        return false;
    }
    const timeval limit{2, 0};
    ::setsockopt(fd, SOL_SOCKET, SO_SNDTIMEO, &limit, sizeof limit);
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_port = htons(8080);
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    const bool connected = ::connect(fd, reinterpret_cast<const sockaddr*>(&address), sizeof address) == 0;
    ::close(fd);
    return connected;
}

// Cases run only by AppConformanceNamespace, inside the namespace it builds.
class AppConformanceInNamespace : public ::testing::Test {
protected:
    void SetUp() override {
        if (qEnvironmentVariable("LANYARD_NETNS") != u"1") {
            GTEST_SKIP() << "runs only inside the namespace AppConformanceNamespace builds";
        }
    }

    // A window whose selected folder holds one file.
    void prepare(ViewController& window, WindowDriver& driver) {
        test::showAndActivate(&window);
        ASSERT_TRUE(driver.waitForRows(0));
        folder = test::makeFolder(QStringLiteral("Shared"));
        QFile file(folder + QStringLiteral("/hello.txt"));
        ASSERT_TRUE(file.open(QIODevice::WriteOnly));
        file.write("hello\n");
        file.close();
        driver.addFolder(folder);
        ASSERT_EQ(window.selectedPathID(), 1);
    }

    static void startWebDAV(ViewController& window) {
        window.tbItemWebDAV()->trigger();
        ASSERT_NE(window.webDavServer(), nullptr) << "the WebDAV server did not start";
        EXPECT_EQ(window.tbItemWebDAV()->text(), QStringLiteral("Stop webDAV"));
        const auto url = window.webDavServer()->serverURL();
        ASSERT_TRUE(url.has_value());
        const QString started = QStringLiteral("Use your file browser of other computer or device  to open "
                                               "the following URL to manage files\uFF1A\r\n") +
                                QString::fromStdString(url->absoluteString());
        EXPECT_TRUE(test::waitUntil([&] {
            return window.txtInfoView()->toPlainText() == AnimatedSetString::displayedText(started);
        }));
        EXPECT_TRUE(portAnswers());
    }

    static bool webUploaderBundleIsInstalled() {
        return QFileInfo(QCoreApplication::applicationDirPath() + QStringLiteral("/WebUploader.bundle"))
            .isDir();
    }

    QString folder;
};

TEST_F(AppConformanceInNamespace, LeavingWhileWebDAVRunsShowsTheWebDAVRefusal) {
    ViewController window;
    WindowDriver driver(window);
    prepare(window, driver);
    startWebDAV(window);
    EXPECT_FALSE(window.close());
    test::click(child<QWidget>(&window, "btnExit"));
    ASSERT_EQ(driver.alerts().size(), 2);
    for (const auto& alert : driver.alerts()) {
        EXPECT_EQ(alert.title, QString());
        EXPECT_EQ(alert.text, QStringLiteral("Please stop WebDAV service."));
    }
    EXPECT_EQ(driver.terminations(), 0);
    EXPECT_TRUE(window.isVisible());
    EXPECT_NE(window.webDavServer(), nullptr);
    EXPECT_TRUE(portAnswers());
}

TEST_F(AppConformanceInNamespace, AStartWithoutALanAddressDropsTheRunningServiceOfItsKind) {
    ViewController window;
    WindowDriver driver(window);
    prepare(window, driver);
    startWebDAV(window);
    int status = 0;
    lanyard::test::runCommand("ip addr flush dev en0 2>&1", &status, 10);
    ASSERT_EQ(status, 0);
    window.startWebDAVFilesMgr(folder);
    EXPECT_EQ(window.webDavServer(), nullptr);
    EXPECT_FALSE(portAnswers());
    ASSERT_EQ(driver.alerts().size(), 1);
    EXPECT_EQ(driver.alerts().at(0).text,
              QStringLiteral("You need wifi environment in order to use the webDAV files manage."));

    if (!webUploaderBundleIsInstalled()) {
        GTEST_SKIP() << "WebUploader.bundle is not beside the test program; the web file manager is not "
                        "checked";
    }
    lanyard::test::runCommand("ip addr add 10.77.0.1/24 dev en0 2>&1", &status, 10);
    ASSERT_EQ(status, 0);
    window.tbItemHttp()->trigger();
    ASSERT_NE(window.webServer(), nullptr) << "the web file manager did not start";
    EXPECT_TRUE(portAnswers());
    lanyard::test::runCommand("ip addr flush dev en0 2>&1", &status, 10);
    window.startWifiFilesMgr(folder);
    EXPECT_EQ(window.webServer(), nullptr);
    EXPECT_FALSE(portAnswers());
    ASSERT_EQ(driver.alerts().size(), 2);
    EXPECT_EQ(driver.alerts().at(1).text,
              QStringLiteral("You need wifi environment in order to use the http files manage."));
}

TEST_F(AppConformanceInNamespace, StartingARunningServiceAgainChangesNothing) {
    ViewController window;
    WindowDriver driver(window);
    prepare(window, driver);
    startWebDAV(window);
    const auto running = window.webDavServer();
    const QString info = window.txtInfoView()->toPlainText();
    window.startWebDAVFilesMgr(folder);
    EXPECT_EQ(window.webDavServer(), running);
    EXPECT_EQ(window.tbItemWebDAV()->text(), QStringLiteral("Stop webDAV"));
    EXPECT_TRUE(driver.alerts().isEmpty());
    QTest::qWait(2 * AnimatedSetString::kFadeMilliseconds + 100);
    EXPECT_EQ(window.txtInfoView()->toPlainText(), info);
    EXPECT_TRUE(portAnswers());
}

} // namespace
} // namespace lanyard
