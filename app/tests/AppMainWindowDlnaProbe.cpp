// The media server started from the main window, run by AppMainWindowNamespaceTest in the device
// namespace of tests/e2e/netns_lib.sh (LANYARD_NETNS=1, the client namespace's name in NS_CP).
// The window's side is read from the window; the network's side from the client namespace, with
// gssdp-discover, curl and a GUPnP control point (dlna_browse.py). Outside such a namespace every
// case skips.
#include "AnimatedSetString.h"
#include "AppSetting.h"
#include "Localized.h"
#include "MyDLNAService.h"
#include "RunCommand.h"
#include "SettingWindowController.h"
#include "UiTestSupport.h"
#include "ViewController.h"

#include <QAction>
#include <QDir>
#include <QFile>
#include <QPlainTextEdit>
#include <QRegularExpression>
#include <QTest>

#include <gtest/gtest.h>

#include <future>

#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

namespace lanyard {
namespace {

using test::WindowDriver;

const QString kDlnaStarted =
    QStringLiteral("Browse your DLNA device by your smart TV or other smart device.\r\nName: %@");
const QString kDlnaStopped = QStringLiteral("DLNA service is stopped");
constexpr const char* kMediaServer = "urn:schemas-upnp-org:device:MediaServer:1";

// Starts the command on another thread while the window keeps running.
std::future<std::string> startAside(const std::string& command) {
    return std::async(std::launch::async,
                      [command] { return test::runCommand(command + " 2>&1", nullptr, 40); });
}

std::string finish(std::future<std::string>& pending) {
    test::waitUntil([&] { return pending.wait_for(std::chrono::seconds(0)) == std::future_status::ready; },
                    45000);
    return pending.get();
}

// The command line run in the client namespace.
std::string inClient(const std::string& command) {
    return "ip netns exec '" + qEnvironmentVariable("NS_CP").toStdString() + "' " + command;
}

std::string runInClient(const std::string& command) {
    auto pending = startAside(inClient(command));
    return finish(pending);
}

// The description URLs of the media servers gssdp-discover finds from the client namespace.
QStringList discoverMediaServers() {
    const QString output = QString::fromStdString(
        runInClient(std::string("gssdp-discover -i cp0 -n 4 -m available -t ") + kMediaServer));
    QStringList locations;
    const QRegularExpression location(QStringLiteral("Location:\\s*(\\S+)"));
    for (auto match = location.globalMatch(output); match.hasNext();) {
        const QString url = match.next().captured(1);
        if (!locations.contains(url)) {
            locations << url;
        }
    }
    return locations;
}

QString friendlyNameAt(const QString& descriptionURL) {
    const QString description =
        QString::fromStdString(runInClient("curl -s -S -m 10 '" + descriptionURL.toStdString() + "'"));
    const auto match =
        QRegularExpression(QStringLiteral("<friendlyName>(.*)</friendlyName>")).match(description);
    return match.hasMatch() ? match.captured(1) : description;
}

// "<title>\t<res URL>" lines of the top level of the shared folder, as the GUPnP client lists it.
std::string browseFromClient(const QString& name) {
    return runInClient("/usr/bin/python3 " + std::string(LANYARD_SOURCE_DIR) +
                       "/app/tests/dlna_browse.py cp0 '" + name.toStdString() + "' 15");
}

std::string readFile(const QString& path) {
    QFile file(path);
    return file.open(QIODevice::ReadOnly) ? file.readAll().toStdString() : std::string();
}

// Whether gssdp-discover's lines report the server "available" or "unavailable".
bool reported(const std::string& log, const std::string& kind, const std::string& uuid) {
    const std::string header = "resource " + kind + "\n";
    for (size_t at = log.find(header); at != std::string::npos; at = log.find(header, at + 1)) {
        const size_t next = log.find("resource ", at + header.size());
        if (log.substr(at, next == std::string::npos ? std::string::npos : next - at).find(uuid) !=
            std::string::npos) {
            return true;
        }
    }
    return false;
}

// gssdp-discover in the client namespace, reporting media servers as they come and go. It reports
// the byebye only of a server it knows, so the server must not stop before it has been reported
// available. The lines go to a file the test reads meanwhile.
class SsdpWatcher {
public:
    SsdpWatcher() : m_Log(test::makeFolder(QStringLiteral("ssdp")) + QStringLiteral("/watch.txt")) {
        m_Pending = startAside(inClient(std::string("gssdp-discover -i cp0 -n 40 -m all -t ") + kMediaServer +
                                        " >'" + m_Log.toStdString() + "'"));
    }

    ~SsdpWatcher() { end(); }

    // True once its socket on the SSDP group's port is open and it has reported the server available.
    bool waitUntilItSees(const std::string& uuid) {
        const QRegularExpression socket(
            QStringLiteral("239\\.255\\.255\\.250:1900\\s.*\"gssdp-discover\",pid=(\\d+)"));
        const bool open = test::waitUntil(
            [&] {
                const auto match = socket.match(
                    QString::fromStdString(test::runCommand(inClient("ss -Hulnp") + " 2>&1", nullptr, 10)));
                m_Pid = match.hasMatch() ? match.captured(1).toStdString() : std::string();
                return !m_Pid.empty();
            },
            30000);
        return open && test::waitUntil([&] { return reported(output(), "available", uuid); }, 30000);
    }

    // True once it has reported the server unavailable (waits until then or the time is up); it is
    // ended then.
    bool waitForByebye(const std::string& uuid) {
        const bool seen = test::waitUntil([&] { return reported(output(), "unavailable", uuid); }, 30000);
        end();
        return seen;
    }

    void end() {
        if (!m_Pid.empty() && m_Pending.wait_for(std::chrono::seconds(0)) != std::future_status::ready) {
            test::runCommand("kill -TERM " + m_Pid + " 2>&1", nullptr, 10);
        }
        m_Pid.clear();
        if (m_Pending.valid()) {
            finish(m_Pending);
        }
    }

    std::string output() const { return readFile(m_Log); }

private:
    QString m_Log;
    std::string m_Pid;
    std::future<std::string> m_Pending;
};

QString infoText(ViewController& window) {
    return window.txtInfoView()->toPlainText();
}

bool waitForInfo(ViewController& window, const QString& text) {
    const QString shown = AnimatedSetString::displayedText(text);
    return test::waitUntil([&] { return infoText(window) == shown; });
}

QString sharedFolder(const QString& relative, const QString& fileName) {
    const QString folder = test::makeFolder(relative);
    QFile file(folder + u'/' + fileName);
    EXPECT_TRUE(file.open(QIODevice::WriteOnly));
    file.write("0123456789 shared with the television\n");
    return folder;
}

class AppWindowDlna : public ::testing::Test {
protected:
    void SetUp() override {
        if (qEnvironmentVariable("LANYARD_NETNS") != u"1") {
            GTEST_SKIP() << "runs only inside the namespaces AppMainWindowNamespaceTest builds";
        }
    }

    // A window with one folder (selected) holding "dlna-song.mp3".
    void prepare(ViewController& window, WindowDriver& driver) {
        test::showAndActivate(&window);
        ASSERT_TRUE(driver.waitForRows(0));
        folder = sharedFolder(QStringLiteral("Music"), QStringLiteral("dlna-song.mp3"));
        driver.addFolder(folder);
        ASSERT_EQ(window.selectedPathID(), 1);
    }

    static void startDlna(ViewController& window, const QString& name) {
        window.tbItemDLNA()->trigger();
        ASSERT_NE(window.dlnaServer(), nullptr) << "the media server did not start";
        ASSERT_TRUE(waitForInfo(window, formatted(kDlnaStarted, name)));
    }

    QString folder;
};

TEST_F(AppWindowDlna, StartsUnderTheDeviceNameAndStops) {
    AppSetting::setUserStrConfig("Wohnzimmer", "deviceName");
    ViewController window;
    WindowDriver driver(window);
    prepare(window, driver);
    startDlna(window, QStringLiteral("Wohnzimmer"));
    EXPECT_EQ(window.tbItemDLNA()->text(), QStringLiteral("Stop DLNA"));
    EXPECT_TRUE(window.tbItemDLNA()->isChecked());
    const QStringList servers = discoverMediaServers();
    ASSERT_EQ(servers.size(), 1) << servers.join(u' ').toStdString();
    EXPECT_EQ(friendlyNameAt(servers.at(0)), QStringLiteral("Wohnzimmer"));
    const std::string listing = browseFromClient(QStringLiteral("Wohnzimmer"));
    ASSERT_NE(listing.find("dlna-song\t"), std::string::npos) << listing;
    const size_t item = listing.find("dlna-song\t") + std::string("dlna-song\t").size();
    const std::string res = listing.substr(item, listing.find('\n', item) - item);
    EXPECT_EQ(runInClient("curl -s -S -m 10 -r 2-5 '" + res + "'"), "2345") << listing;
    if (qEnvironmentVariable("LANYARD_SCREENSHOTS") == u"1") {
        test::waitUntil([&] { return !AnimatedSetString::isAnimating(window.txtInfoView()); });
        QDir().mkpath(QString::fromUtf8(LANYARD_ARTIFACT_DIR));
        window.grab().save(QString::fromUtf8(LANYARD_ARTIFACT_DIR) +
                           QStringLiteral("/main-window-dlna-running.png"));
    }

    const std::string uuid = window.dlnaServer()->mediaServer()->GetUUID().GetChars();
    SsdpWatcher watcher;
    ASSERT_TRUE(watcher.waitUntilItSees(uuid)) << watcher.output();
    window.tbItemDLNA()->trigger();
    EXPECT_EQ(window.dlnaServer(), nullptr);
    EXPECT_EQ(window.tbItemDLNA()->text(), QStringLiteral("Start DLNA"));
    EXPECT_FALSE(window.tbItemDLNA()->isChecked());
    EXPECT_TRUE(waitForInfo(window, kDlnaStopped));
    EXPECT_TRUE(watcher.waitForByebye(uuid)) << watcher.output();
    EXPECT_TRUE(driver.alerts().isEmpty());
    AppSetting::setUserStrConfig("", "deviceName");
}

TEST_F(AppWindowDlna, WithoutADeviceNameTheComputerNameIsAnnounced) {
    AppSetting::setUserStrConfig("", "deviceName");
    ViewController window;
    WindowDriver driver(window);
    prepare(window, driver);
    const QString computer = SettingWindowController::getComputerName();
    startDlna(window, computer);
    const QStringList servers = discoverMediaServers();
    ASSERT_EQ(servers.size(), 1);
    EXPECT_EQ(friendlyNameAt(servers.at(0)), computer);
    window.tbItemDLNA()->trigger();
    EXPECT_TRUE(waitForInfo(window, kDlnaStopped));
}

// Needs the default route on en0: the web servers name their URL after the primary interface.
TEST_F(AppWindowDlna, WaitsForTheWebServersToStop) {
    ViewController window;
    WindowDriver driver(window);
    prepare(window, driver);
    for (QAction* other : {window.tbItemHttp(), window.tbItemWebDAV()}) {
        other->trigger();
        ASSERT_TRUE(window.isServiceRunning());
        const QString info = infoText(window);
        window.tbItemDLNA()->trigger();
        EXPECT_EQ(window.dlnaServer(), nullptr);
        EXPECT_EQ(window.tbItemDLNA()->text(), QStringLiteral("Start DLNA"));
        EXPECT_EQ(infoText(window), info);
        other->trigger();
    }
    ASSERT_EQ(driver.alerts().size(), 2);
    EXPECT_EQ(driver.alerts().at(0).text, QStringLiteral("Please stop Wifi service."));
    EXPECT_EQ(driver.alerts().at(1).text, QStringLiteral("Please stop WebDAV service."));
    EXPECT_TRUE(discoverMediaServers().isEmpty());
}

TEST_F(AppWindowDlna, WhileItRunsNothingElseStartsAndTheWindowStays) {
    ViewController window;
    WindowDriver driver(window);
    prepare(window, driver);
    startDlna(window, ViewController::getComputerName());
    window.tbItemHttp()->trigger();
    window.tbItemWebDAV()->trigger();
    test::showAndActivate(&window); // the key goes to the active window
    QTest::keyClick(&window, Qt::Key_Q, Qt::ControlModifier);
    EXPECT_FALSE(window.close());
    EXPECT_EQ(window.webServer(), nullptr);
    EXPECT_EQ(window.webDavServer(), nullptr);
    QStringList texts;
    for (const auto& alert : driver.alerts()) {
        texts << alert.text;
    }
    EXPECT_EQ(texts, QStringList(4, QStringLiteral("Please stop DLNA service.")));
    EXPECT_EQ(driver.terminations(), 0);
    EXPECT_TRUE(window.isVisible());
    EXPECT_NE(window.dlnaServer(), nullptr);
}

// Run with the loopback interface alone.
TEST_F(AppWindowDlna, WithoutALanAddressNothingStarts) {
    ViewController window;
    WindowDriver driver(window);
    prepare(window, driver);
    const QString info = infoText(window);
    window.tbItemDLNA()->trigger();
    ASSERT_EQ(driver.alerts().size(), 1);
    EXPECT_EQ(driver.alerts().at(0).text,
              QStringLiteral("You need wifi environment in order to use the DLNA Service."));
    EXPECT_EQ(window.dlnaServer(), nullptr);
    EXPECT_EQ(window.tbItemDLNA()->text(), QStringLiteral("Start DLNA"));
    EXPECT_EQ(infoText(window), info);
}

// The engine fails with a socket error: the start stays silent, as a taken web port does.
TEST_F(AppWindowDlna, ATakenSsdpPortStartsNothingAndSaysNothing) {
    const int holder = ::socket(AF_INET, SOCK_DGRAM, 0);
    ASSERT_GE(holder, 0);
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_port = htons(1900);
    ASSERT_EQ(::bind(holder, reinterpret_cast<sockaddr*>(&address), sizeof address), 0);
    ViewController window;
    WindowDriver driver(window);
    prepare(window, driver);
    const QString info = infoText(window);
    window.tbItemDLNA()->trigger();
    EXPECT_EQ(window.dlnaServer(), nullptr);
    EXPECT_EQ(window.tbItemDLNA()->text(), QStringLiteral("Start DLNA"));
    EXPECT_FALSE(window.tbItemDLNA()->isChecked());
    QTest::qWait(900);
    EXPECT_EQ(infoText(window), info);
    EXPECT_TRUE(driver.alerts().isEmpty());
    ::close(holder);
}

TEST_F(AppWindowDlna, ThePermissionPanelSharesTheChosenFolder) {
    AppSetting::setUserStrConfig("Panel", "deviceName");
    ViewController window;
    WindowDriver driver(window);
    prepare(window, driver);
    ASSERT_TRUE(QDir(folder).removeRecursively());
    const QString other = sharedFolder(QStringLiteral("Other"), QStringLiteral("chosen.mp3"));
    driver.answerNextPanel(QStringList{other});
    window.tbItemDLNA()->trigger();
    ASSERT_EQ(driver.panels().size(), 2);
    EXPECT_EQ(driver.panels().at(1).prompt, QStringLiteral("Sure Start"));
    EXPECT_EQ(driver.panels().at(1).directory, folder);
    ASSERT_NE(window.dlnaServer(), nullptr);
    const std::string listing = browseFromClient(QStringLiteral("Panel"));
    EXPECT_NE(listing.find("chosen\t"), std::string::npos) << listing;
    window.tbItemDLNA()->trigger();
    AppSetting::setUserStrConfig("", "deviceName");
}

} // namespace
} // namespace lanyard
