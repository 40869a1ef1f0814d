// The main window's services, run by AppMainWindowNamespaceTest inside a network namespace of its
// own (LANYARD_NETNS=1): port 8080 is free there, clients reach it on 127.0.0.1, and nothing leaves
// the machine. Outside such a namespace every case skips.
#include "AnimatedSetString.h"
#include "AppSetting.h"
#include "Localized.h"
#include "RunCommand.h"
#include "UiTestSupport.h"
#include "ViewController.h"

#include <QAbstractButton>
#include <QAction>
#include <QApplication>
#include <QDir>
#include <QFile>
#include <QMessageBox>
#include <QPlainTextEdit>
#include <QTest>
#include <QTimer>

#include <gtest/gtest.h>

#include <future>

#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

namespace lanyard {
namespace {

using test::child;
using test::WindowDriver;

const QString kHttpStarted = QStringLiteral("Use your web browser of other computer or device  to open the "
                                            "following URL to manage files\uFF1A\r\n%@");
const QString kWebDAVStarted =
    QStringLiteral("Use your file browser of other computer or device  to open the "
                   "following URL to manage files\uFF1A\r\n%@");

// Runs the command on another thread while the window keeps running; its output and exit status.
std::string runAside(const std::string& command, int* status = nullptr) {
    auto result = std::async(std::launch::async, [command] {
        int code = 0;
        std::string output = test::runCommand(command, &code);
        return std::make_pair(output, code);
    });
    test::waitUntil([&] { return result.wait_for(std::chrono::seconds(0)) == std::future_status::ready; },
                    40000);
    const auto [output, code] = result.get();
    if (status) {
        *status = code;
    }
    return output;
}

std::string curl(const std::string& arguments, int* status = nullptr) {
    return runAside("curl -s -S -m 10 " + arguments + " 2>&1", status);
}

bool portAnswers() {
    int status = 0;
    curl("-o /dev/null http://127.0.0.1:8080/", &status);
    return status == 0;
}

QString infoText(ViewController& window) {
    return window.txtInfoView()->toPlainText();
}

bool waitForInfo(ViewController& window, const QString& text) {
    const QString shown = AnimatedSetString::displayedText(text);
    return test::waitUntil([&] { return infoText(window) == shown; });
}

// A shared folder with one file in it.
QString sharedFolder(const QString& relative, const QString& fileName) {
    const QString folder = test::makeFolder(relative);
    QFile file(folder + u'/' + fileName);
    EXPECT_TRUE(file.open(QIODevice::WriteOnly));
    file.write("shared over the network\n");
    return folder;
}

class AppWindowService : public ::testing::Test {
protected:
    void SetUp() override {
        if (qEnvironmentVariable("LANYARD_NETNS") != u"1") {
            GTEST_SKIP() << "runs only inside the namespace AppMainWindowNamespaceTest builds";
        }
    }

    // A window with one folder (selected) holding "hello.txt".
    void prepare(ViewController& window, WindowDriver& driver,
                 const QString& relative = QStringLiteral("Shared")) {
        test::showAndActivate(&window);
        ASSERT_TRUE(driver.waitForRows(0));
        folder = sharedFolder(relative, QStringLiteral("hello.txt"));
        driver.addFolder(folder);
        ASSERT_EQ(window.selectedPathID(), 1);
    }

    void startHttp(ViewController& window) {
        window.tbItemHttp()->trigger();
        ASSERT_NE(window.webServer(), nullptr) << "the web file manager did not start";
        ASSERT_TRUE(waitForInfo(window, formatted(kHttpStarted, serverURL(window))));
    }

    static QString serverURL(ViewController& window) {
        const auto url =
            window.webServer() ? window.webServer()->serverURL() : window.webDavServer()->serverURL();
        return url ? QString::fromStdString(url->absoluteString()) : QString();
    }

    QString folder;
};

TEST_F(AppWindowService, StartHttpServesTheSelectedFolderAndStopEndsIt) {
    ViewController window;
    WindowDriver driver(window);
    prepare(window, driver);
    startHttp(window);
    EXPECT_EQ(window.tbItemHttp()->text(), QStringLiteral("Stop HTTP"));
    EXPECT_TRUE(serverURL(window).contains(QStringLiteral("10.77.0.1:8080")))
        << serverURL(window).toStdString();
    EXPECT_NE(curl("'http://127.0.0.1:8080/list?path=/'").find("hello.txt"), std::string::npos);
    const std::string page = curl("http://127.0.0.1:8080/");
    EXPECT_NE(page.find("Files manage by Http on WiFi"), std::string::npos) << page;
    EXPECT_TRUE(window.tbItemHttp()->isChecked());
    EXPECT_FALSE(window.tbItemWebDAV()->isChecked());
    if (qEnvironmentVariable("LANYARD_SCREENSHOTS") == u"1") {
        test::waitUntil([&] { return !AnimatedSetString::isAnimating(window.txtInfoView()); });
        QDir().mkpath(QString::fromUtf8(LANYARD_ARTIFACT_DIR));
        window.grab().save(QString::fromUtf8(LANYARD_ARTIFACT_DIR) +
                           QStringLiteral("/main-window-http-running.png"));
    }

    window.tbItemHttp()->trigger();
    EXPECT_EQ(window.webServer(), nullptr);
    EXPECT_EQ(window.tbItemHttp()->text(), QStringLiteral("Start HTTP"));
    EXPECT_FALSE(window.tbItemHttp()->isChecked());
    EXPECT_TRUE(waitForInfo(window, QStringLiteral("Http Web Management service is stopped")));
    EXPECT_FALSE(portAnswers());
    EXPECT_TRUE(driver.alerts().isEmpty());
}

TEST_F(AppWindowService, OneServiceAtATime) {
    ViewController window;
    WindowDriver driver(window);
    prepare(window, driver);
    startHttp(window);
    const QString info = infoText(window);
    window.tbItemWebDAV()->trigger();
    ASSERT_EQ(driver.alerts().size(), 1);
    EXPECT_EQ(driver.alerts().at(0).title, QString());
    EXPECT_EQ(driver.alerts().at(0).text, QStringLiteral("Please stop Wifi service."));
    EXPECT_EQ(window.webDavServer(), nullptr);
    EXPECT_EQ(window.tbItemWebDAV()->text(), QStringLiteral("Start webDAV"));
    EXPECT_FALSE(window.tbItemWebDAV()->isChecked());
    EXPECT_NE(window.webServer(), nullptr);
    EXPECT_EQ(infoText(window), info);

    window.tbItemHttp()->trigger();
    ASSERT_TRUE(waitForInfo(window, QStringLiteral("Http Web Management service is stopped")));
    window.tbItemWebDAV()->trigger();
    ASSERT_NE(window.webDavServer(), nullptr);
    EXPECT_EQ(window.tbItemWebDAV()->text(), QStringLiteral("Stop webDAV"));
    EXPECT_TRUE(waitForInfo(window, formatted(kWebDAVStarted, serverURL(window))));
    const std::string listing = curl("-X PROPFIND -H 'Depth: 1' http://127.0.0.1:8080/");
    EXPECT_NE(listing.find("hello.txt"), std::string::npos) << listing;
    window.tbItemHttp()->trigger();
    ASSERT_EQ(driver.alerts().size(), 2);
    EXPECT_EQ(driver.alerts().at(1).text, QStringLiteral("Please stop WebDAV service."));
    EXPECT_EQ(window.webServer(), nullptr);

    window.tbItemWebDAV()->trigger();
    EXPECT_EQ(window.webDavServer(), nullptr);
    EXPECT_EQ(window.tbItemWebDAV()->text(), QStringLiteral("Start webDAV"));
    EXPECT_TRUE(waitForInfo(window, QStringLiteral("WebDav files Management service is stopped")));
    EXPECT_FALSE(portAnswers());
}

TEST_F(AppWindowService, ClosingOrQuittingWhileAServiceRunsIsRefused) {
    ViewController window;
    WindowDriver driver(window);
    prepare(window, driver);
    startHttp(window);
    window.setAlertRunner(nullptr); // the real alert
    QStringList shown;
    auto dismissNextAlert = [&] {
        QTimer::singleShot(0, [&] {
            test::waitUntil(
                [] { return qobject_cast<QMessageBox*>(QApplication::activeModalWidget()) != nullptr; });
            auto* alert = qobject_cast<QMessageBox*>(QApplication::activeModalWidget());
            ASSERT_NE(alert, nullptr);
            ASSERT_EQ(alert->buttons().size(), 1);
            EXPECT_EQ(alert->buttons().at(0)->text(), QStringLiteral("OK"));
            shown << alert->text() + alert->informativeText();
            alert->buttons().at(0)->click();
        });
    };
    dismissNextAlert();
    EXPECT_FALSE(window.close());
    dismissNextAlert();
    test::click(child<QWidget>(&window, "btnExit"));
    test::showAndActivate(&window); // the key goes to the active window
    dismissNextAlert();
    QTest::keyClick(&window, Qt::Key_Q, Qt::ControlModifier);
    EXPECT_EQ(shown, QStringList(3, QStringLiteral("Please stop Wifi service.")));
    EXPECT_TRUE(window.isVisible());
    EXPECT_EQ(driver.terminations(), 0);
    EXPECT_TRUE(portAnswers());
}

TEST_F(AppWindowService, ShowFullPathShapesTheServedHeader) {
    AppSetting::setUserIntConfig(1, "showFullPath");
    ViewController window;
    WindowDriver driver(window);
    prepare(window, driver, QStringLiteral("Media/Music"));
    startHttp(window);
    ASSERT_TRUE(window.webServer()->header().has_value());
    EXPECT_EQ(*window.webServer()->header(), "Files manage by Http on WiFi:    ~/Media/Music");
    const std::string page = curl("http://127.0.0.1:8080/");
    EXPECT_NE(page.find("~/Media/Music"), std::string::npos) << page;
    AppSetting::setUserIntConfig(0, "showFullPath");
}

TEST_F(AppWindowService, ThePermissionPanelSharesTheChosenFolder) {
    ViewController window;
    WindowDriver driver(window);
    prepare(window, driver);
    ASSERT_TRUE(QDir(folder).removeRecursively());
    const QString other = sharedFolder(QStringLiteral("Other"), QStringLiteral("chosen.txt"));
    driver.answerNextPanel(QStringList{other});
    window.tbItemHttp()->trigger();
    ASSERT_EQ(driver.panels().size(), 2);
    EXPECT_EQ(driver.panels().at(1).prompt, QStringLiteral("Sure Start"));
    ASSERT_NE(window.webServer(), nullptr);
    EXPECT_EQ(window.webServer()->uploadDirectory(), other.toStdString());
    EXPECT_NE(curl("'http://127.0.0.1:8080/list?path=/'").find("chosen.txt"), std::string::npos);
}

TEST_F(AppWindowService, ATakenPortStartsNothingAndSaysNothing) {
    const int blocker = ::socket(AF_INET, SOCK_STREAM, 0);
    ASSERT_GE(blocker, 0);
    const int yes = 1;
    ::setsockopt(blocker, SOL_SOCKET, SO_REUSEADDR, &yes, sizeof yes);
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_port = htons(8080);
    ASSERT_EQ(::bind(blocker, reinterpret_cast<sockaddr*>(&address), sizeof address), 0);
    ASSERT_EQ(::listen(blocker, 1), 0);
    ViewController window;
    WindowDriver driver(window);
    prepare(window, driver);
    const QString info = infoText(window);
    window.tbItemHttp()->trigger();
    EXPECT_EQ(window.webServer(), nullptr);
    EXPECT_EQ(window.tbItemHttp()->text(), QStringLiteral("Start HTTP"));
    window.tbItemWebDAV()->trigger();
    EXPECT_EQ(window.webDavServer(), nullptr);
    EXPECT_EQ(window.tbItemWebDAV()->text(), QStringLiteral("Start webDAV"));
    QTest::qWait(900);
    EXPECT_EQ(infoText(window), info);
    EXPECT_TRUE(driver.alerts().isEmpty());
    ::close(blocker);
}

TEST_F(AppWindowService, WithoutALanAddressNothingStarts) {
    ViewController window;
    WindowDriver driver(window);
    prepare(window, driver);
    const QString info = infoText(window);
    window.tbItemHttp()->trigger();
    window.tbItemWebDAV()->trigger();
    ASSERT_EQ(driver.alerts().size(), 2);
    EXPECT_EQ(driver.alerts().at(0).text,
              QStringLiteral("You need wifi environment in order to use the http files manage."));
    EXPECT_EQ(driver.alerts().at(1).text,
              QStringLiteral("You need wifi environment in order to use the webDAV files manage."));
    EXPECT_EQ(window.webServer(), nullptr);
    EXPECT_EQ(window.webDavServer(), nullptr);
    EXPECT_EQ(window.tbItemHttp()->text(), QStringLiteral("Start HTTP"));
    EXPECT_EQ(infoText(window), info);
    EXPECT_FALSE(portAnswers());
}

} // namespace
} // namespace lanyard
