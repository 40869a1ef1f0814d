#include "AppSetting.h"
#include "AppUtils.h"
#include "PathControl.h"
#include "SettingWindowController.h"
#include "TempHome.h"
#include "UiTestSupport.h"
#include "ViewController.h"

#include <QAction>
#include <QDir>
#include <QFileDialog>
#include <QPlainTextEdit>
#include <QPropertyAnimation>
#include <QTableView>
#include <QTest>
#include <QTimer>
#include <QToolBar>
#include <QTranslator>

#include <gtest/gtest.h>

namespace lanyard {
namespace {

using test::child;
using test::WindowDriver;

const QString kSelected = QStringLiteral("\U0001F518");
const QString kUnselected = QStringLiteral("\u26AA\uFE0F");

QString cell(ViewController& window, int row, int column) {
    QAbstractItemModel* model = window.srvTable()->model();
    return model->data(model->index(row, column)).toString();
}

// Clicks the row in the table as a user does.
void clickRow(ViewController& window, int row) {
    QTableView* table = window.srvTable();
    const QRect rect = table->visualRect(table->model()->index(row, 1));
    QTest::mouseClick(table->viewport(), Qt::LeftButton, Qt::NoModifier, rect.center());
}

QString home() {
    return QString::fromStdString(test::temporaryHome());
}

TEST(AppMainWindow, FirstRunShowsAnEmptyListAndSelectsTheFirstFolderAdded) {
    ViewController window;
    WindowDriver driver(window);
    window.show();
    EXPECT_EQ(window.txtInfoView()->toPlainText(), QStringLiteral("initialize suc."));
    ASSERT_TRUE(driver.waitForRows(0));
    EXPECT_EQ(window.selectedPathID(), 1);
    EXPECT_EQ(AppSetting::getUserIntConfig("key_userdbinit"), 1);
    EXPECT_TRUE(window.pathCtrl()->url().isEmpty());
    EXPECT_EQ(window.srvTable()->model()->headerData(0, Qt::Horizontal, Qt::UserRole + 1).toString(),
              QStringLiteral("checked"));

    // Cancelling the open panel adds nothing.
    driver.answerNextPanel(std::nullopt);
    test::click(child<QWidget>(&window, "btnAdd"));
    EXPECT_EQ(driver.panels().size(), 1);
    EXPECT_TRUE(driver.waitForRows(0));
    EXPECT_EQ(AppUtils::getLastPathID(), 0);

    const QString music = test::makeFolder(QStringLiteral("Music"));
    driver.addFolder(music);
    ASSERT_EQ(driver.panels().size(), 2);
    EXPECT_EQ(driver.panels().at(1).prompt, QStringLiteral("Select"));
    EXPECT_EQ(driver.panels().at(1).message, QStringLiteral("Select folder which you want to share"));
    EXPECT_EQ(cell(window, 0, 0), kSelected);
    EXPECT_EQ(cell(window, 0, 1), QStringLiteral("Music"));
    EXPECT_EQ(cell(window, 0, 2), QStringLiteral("~/Music"));
    EXPECT_EQ(window.pathCtrl()->url(), QUrl::fromLocalFile(music));

    // A second folder sorts before the first by path; the selection stays.
    driver.addFolder(test::makeFolder(QStringLiteral("Books")));
    EXPECT_EQ(cell(window, 0, 1), QStringLiteral("Books"));
    EXPECT_EQ(cell(window, 0, 0), kUnselected);
    EXPECT_EQ(cell(window, 1, 0), kSelected);
    EXPECT_EQ(window.selectedPathID(), 1);
    EXPECT_TRUE(driver.alerts().isEmpty());
}

TEST(AppMainWindow, FoldersBesideTheHomeFolderKeepTheirFullPath) {
    ViewController window;
    WindowDriver driver(window);
    ASSERT_TRUE(driver.waitForRows(0));
    const QString sibling = home() + QStringLiteral("2/Shared");
    ASSERT_TRUE(QDir().mkpath(sibling));
    driver.addFolder(sibling);
    EXPECT_EQ(cell(window, 0, 2), sibling);
    QDir(home() + QStringLiteral("2")).removeRecursively();
}

TEST(AppMainWindow, AddingThroughTheRealOpenPanel) {
    ViewController window;
    window.setAlertRunner([](const QString&, const QString&) {});
    window.show();
    const QString photos = test::makeFolder(QStringLiteral("Pictures/Holidays"));
    QString prompt;
    QString title;
    QTimer::singleShot(0, [&] {
        test::waitUntil(
            [] { return qobject_cast<QFileDialog*>(QApplication::activeModalWidget()) != nullptr; });
        auto* panel = qobject_cast<QFileDialog*>(QApplication::activeModalWidget());
        ASSERT_NE(panel, nullptr);
        prompt = panel->labelText(QFileDialog::Accept);
        title = panel->windowTitle();
        EXPECT_EQ(panel->objectName(), QStringLiteral("openPanel"));
        EXPECT_EQ(panel->fileMode(), QFileDialog::Directory);
        panel->setDirectory(photos);
        panel->selectFile(photos);
        QMetaObject::invokeMethod(panel, "accept", Qt::QueuedConnection);
    });
    test::click(child<QWidget>(&window, "btnAdd"));
    EXPECT_EQ(prompt, QStringLiteral("Select"));
    EXPECT_EQ(title, QStringLiteral("Select folder which you want to share"));
    ASSERT_TRUE(test::waitUntil([&] { return window.srvTable()->model()->rowCount() == 1; }));
    EXPECT_EQ(cell(window, 0, 2), QStringLiteral("~/Pictures/Holidays"));
}

TEST(AppMainWindow, ChoosingARowMovesTheMarkerAndTheSelectionSurvivesARestart) {
    const QString b = test::makeFolder(QStringLiteral("B"));
    {
        ViewController window;
        WindowDriver driver(window);
        test::showAndActivate(&window);
        ASSERT_TRUE(driver.waitForRows(0));
        driver.addFolder(test::makeFolder(QStringLiteral("A")));
        driver.addFolder(b);
        driver.addFolder(test::makeFolder(QStringLiteral("C")));
        clickRow(window, 1);
        ASSERT_EQ(window.selectedPathID(), 2);
        EXPECT_EQ(AppSetting::getUserIntConfig("key_selectPathID"), 2);
        EXPECT_EQ(cell(window, 0, 0), kUnselected);
        EXPECT_EQ(cell(window, 1, 0), kSelected);
        EXPECT_EQ(window.pathCtrl()->url(), QUrl::fromLocalFile(b));
    }
    ViewController window;
    WindowDriver driver(window);
    ASSERT_TRUE(driver.waitForRows(3));
    EXPECT_EQ(window.selectedPathID(), 2);
    EXPECT_EQ(cell(window, 1, 0), kSelected);
    EXPECT_EQ(window.pathCtrl()->url(), QUrl::fromLocalFile(b));
    EXPECT_EQ(window.srvTable()->selectionModel()->selectedRows().value(0).row(), 1);
}

TEST(AppMainWindow, RemovingSelectsTheNewestRemainingFolderAndTheLastLeavesNothingToStart) {
    ViewController window;
    WindowDriver driver(window);
    test::showAndActivate(&window);
    ASSERT_TRUE(driver.waitForRows(0));
    for (const char* name : {"A", "B", "C"}) {
        driver.addFolder(test::makeFolder(QString::fromLatin1(name)));
    }
    clickRow(window, 1); // B, ID 2
    ASSERT_EQ(window.selectedPathID(), 2);
    test::click(child<QWidget>(&window, "btnDel"));
    EXPECT_EQ(window.selectedPathID(), 3);
    EXPECT_EQ(AppSetting::getUserIntConfig("key_selectPathID"), 3);
    ASSERT_TRUE(driver.waitForRows(2));
    EXPECT_EQ(cell(window, 1, 1), QStringLiteral("C"));
    EXPECT_EQ(cell(window, 1, 0), kSelected);
    test::click(child<QWidget>(&window, "btnDel"));
    EXPECT_EQ(window.selectedPathID(), 1);
    test::click(child<QWidget>(&window, "btnDel"));
    EXPECT_EQ(window.selectedPathID(), 0);
    ASSERT_TRUE(driver.waitForRows(0));
    EXPECT_TRUE(window.pathCtrl()->url().isEmpty());

    const QString info = window.txtInfoView()->toPlainText();
    for (const char* item : {"tbItemDLNA", "tbItemHttp", "tbItemWebDAV"}) {
        child<QAction>(&window, item)->trigger();
        auto* shake = child<QPropertyAnimation>(&window, "shakeAnimation");
        ASSERT_NE(shake, nullptr) << item;
        EXPECT_EQ(shake->state(), QAbstractAnimation::Running) << item;
        EXPECT_TRUE(test::waitUntil([&] { return shake->state() == QAbstractAnimation::Stopped; }));
        EXPECT_EQ(QApplication::focusWidget(), window.srvTable());
    }
    EXPECT_EQ(window.webServer(), nullptr);
    EXPECT_EQ(window.webDavServer(), nullptr);
    EXPECT_TRUE(driver.panels().size() == 3 && driver.alerts().isEmpty());
    EXPECT_EQ(window.txtInfoView()->toPlainText(), info);
}

TEST(AppMainWindow, TheShakeMovesTheWindowAndBringsItBack) {
    ViewController window;
    WindowDriver driver(window);
    window.move(200, 150);
    test::showAndActivate(&window);
    const QPoint origin = window.pos();
    QList<int> seen;
    window.shakeWindow();
    test::waitUntil([&] {
        seen << window.pos().x();
        return child<QPropertyAnimation>(&window, "shakeAnimation")->state() == QAbstractAnimation::Stopped;
    });
    EXPECT_EQ(window.pos(), origin);
    const int d = window.frameGeometry().width() / 50;
    EXPECT_LE(*std::min_element(seen.begin(), seen.end()), origin.x() - d / 2);
    EXPECT_GE(*std::max_element(seen.begin(), seen.end()), origin.x() + d / 2);
}

TEST(AppMainWindow, AnUnreadableFolderAsksForPermissionAndCancellingStartsNothing) {
    ViewController window;
    WindowDriver driver(window);
    ASSERT_TRUE(driver.waitForRows(0));
    const QString gone = test::makeFolder(QStringLiteral("Gone"));
    driver.addFolder(gone);
    ASSERT_TRUE(QDir(gone).removeRecursively());
    child<QAction>(&window, "tbItemHttp")->trigger();
    ASSERT_EQ(driver.panels().size(), 2);
    EXPECT_EQ(driver.panels().at(1).prompt, QStringLiteral("Sure Start"));
    EXPECT_EQ(driver.panels().at(1).message, QStringLiteral("Permission for accessing and sure"));
    EXPECT_EQ(driver.panels().at(1).directory, gone);
    EXPECT_EQ(window.webServer(), nullptr);
    EXPECT_EQ(window.tbItemHttp()->text(), QStringLiteral("Start HTTP"));
    EXPECT_TRUE(driver.alerts().isEmpty());
}

TEST(AppMainWindow, ShowFullPathShapesTheWebHeader) {
    ViewController window;
    const QString music = home() + QStringLiteral("/Media/Music");
    EXPECT_EQ(window.webHeaderForPath(music), QStringLiteral("Files manage by Http on WiFi:    Music"));
    AppSetting::setUserIntConfig(1, "showFullPath");
    EXPECT_EQ(window.webHeaderForPath(music),
              QStringLiteral("Files manage by Http on WiFi:    ~/Media/Music"));
    EXPECT_EQ(window.webHeaderForPath(QStringLiteral("/srv/share")),
              QStringLiteral("Files manage by Http on WiFi:    /srv/share"));
    AppSetting::setUserIntConfig(0, "showFullPath");
}

TEST(AppMainWindow, ExitAndClosingEndTheApplicationWhenNothingRuns) {
    ViewController window;
    WindowDriver driver(window);
    test::showAndActivate(&window);
    test::click(child<QWidget>(&window, "btnExit"));
    EXPECT_EQ(driver.terminations(), 1);
    EXPECT_FALSE(window.close());
    EXPECT_TRUE(window.isVisible());
    EXPECT_EQ(driver.terminations(), 2);
    QTest::keyClick(&window, Qt::Key_Q, Qt::ControlModifier);
    EXPECT_EQ(driver.terminations(), 3);
    EXPECT_TRUE(driver.alerts().isEmpty());
}

// A translation with a few of the window's texts.
class GermanTexts : public QTranslator {
public:
    bool isEmpty() const override { return false; }
    QString translate(const char* context, const char* source, const char*, int) const override {
        if (qstrcmp(context, "Lanyard") != 0) {
            return {};
        }
        if (qstrcmp(source, "Start HTTP") == 0) {
            return QStringLiteral("HTTP starten");
        }
        if (qstrcmp(source, "initialize suc.") == 0) {
            return QStringLiteral("Bereit.");
        }
        return {};
    }
};

TEST(AppMainWindow, EveryTextGoesThroughTheTranslations) {
    GermanTexts german;
    QCoreApplication::installTranslator(&german);
    {
        ViewController window;
        EXPECT_EQ(window.tbItemHttp()->text(), QStringLiteral("HTTP starten"));
        EXPECT_EQ(window.txtInfoView()->toPlainText(), QStringLiteral("Bereit."));
        EXPECT_EQ(window.tbItemWebDAV()->text(), QStringLiteral("Start webDAV"));
    }
    QCoreApplication::removeTranslator(&german);
}

TEST(AppMainWindow, WidgetsCarryTheirOutletNames) {
    ViewController window;
    for (const char* name :
         {"srvTable", "pathCtrl", "txtInfoView", "btnAdd", "btnDel", "btnSetting", "btnExit"}) {
        EXPECT_NE(child<QWidget>(&window, name), nullptr) << name;
    }
    for (const char* name : {"tbItemDLNA", "tbItemHttp", "tbItemWebDAV"}) {
        EXPECT_NE(child<QAction>(&window, name), nullptr) << name;
    }
    EXPECT_EQ(window.srvTable()->editTriggers(), QAbstractItemView::NoEditTriggers);
}

TEST(AppMainWindow, TheToolbarStartsWithTheMediaServer) {
    ViewController window;
    QStringList labels;
    for (QAction* item : child<QToolBar>(&window, "toolbar")->actions()) {
        labels << item->text();
    }
    EXPECT_EQ(labels, (QStringList{QStringLiteral("Start DLNA"), QStringLiteral("Start HTTP"),
                                   QStringLiteral("Start webDAV")}));
    EXPECT_EQ(child<QToolBar>(&window, "toolbar")->actions().at(0), window.tbItemDLNA());
}

TEST(AppMainWindow, TheDeviceNameIsTheSettingElseTheComputerName) {
    AppSetting::setUserStrConfig("Wohnzimmer", "deviceName");
    EXPECT_EQ(ViewController::getComputerName(), QStringLiteral("Wohnzimmer"));
    AppSetting::setUserStrConfig("", "deviceName");
    EXPECT_EQ(ViewController::getComputerName(), SettingWindowController::getComputerName());
    EXPECT_FALSE(ViewController::getComputerName().isEmpty());
}

} // namespace
} // namespace lanyard
