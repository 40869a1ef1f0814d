// Pictures of the windows as a person sees them, saved as test artifacts (LANYARD_ARTIFACT_DIR).
// Run under a virtual X server by UiScreenshots.sh.
#include "SettingWindowController.h"
#include "UiTestSupport.h"
#include "ViewController.h"

#include <QApplication>
#include <QDir>
#include <QImage>
#include <QMessageBox>
#include <QSet>
#include <QTableView>
#include <QTest>
#include <QTimer>

#include <gtest/gtest.h>

namespace lanyard {
namespace {

QString artifactPath(const QString& name) {
    const QString folder = QString::fromUtf8(LANYARD_ARTIFACT_DIR);
    QDir().mkpath(folder);
    return folder + u'/' + name;
}

// Saves the widget's picture and checks that it shows something (many colours, not one blank fill).
void saveShot(QWidget* widget, const QString& name) {
    QTest::qWait(100);
    const QImage shot = widget->grab().toImage();
    ASSERT_FALSE(shot.isNull());
    QSet<QRgb> colours;
    for (int y = 0; y < shot.height(); y += 3) {
        for (int x = 0; x < shot.width(); x += 3) {
            colours.insert(shot.pixel(x, y));
        }
    }
    EXPECT_GT(colours.size(), 20) << name.toStdString() << " looks blank";
    const QString path = artifactPath(name);
    ASSERT_TRUE(shot.save(path)) << path.toStdString();
    std::printf("screenshot: %s (%dx%d, %s)\n", qPrintable(path), shot.width(), shot.height(),
                qPrintable(QGuiApplication::platformName()));
}

TEST(AppWindowScreenshot, MainWindowWithSharedFolders) {
    ViewController window;
    test::WindowDriver driver(window);
    window.move(40, 40);
    test::showAndActivate(&window);
    ASSERT_TRUE(driver.waitForRows(0));
    for (const char* folder :
         {"Music", "Pictures/Holidays 2024", "Documents/Projects/Garden plans", "Videos"}) {
        driver.addFolder(test::makeFolder(QString::fromUtf8(folder)));
    }
    const QTableView* table = window.srvTable();
    const QRect row = table->visualRect(table->model()->index(2, 1));
    QTest::mouseClick(table->viewport(), Qt::LeftButton, Qt::NoModifier, row.center());
    ASSERT_EQ(window.selectedPathID(), 2);
    saveShot(&window, QStringLiteral("main-window.png"));
}

TEST(AppWindowScreenshot, SettingsWindow) {
    ViewController window;
    window.setAlertRunner([](const QString&, const QString&) {});
    window.move(40, 40);
    test::showAndActivate(&window);
    test::click(test::child<QWidget>(&window, "btnSetting"));
    SettingWindowController* settings = window.settingWindowController();
    ASSERT_NE(settings, nullptr);
    test::showAndActivate(settings);
    saveShot(settings, QStringLiteral("settings-window.png"));
}

TEST(AppWindowScreenshot, RefusalAlert) {
    ViewController window;
    window.move(40, 40);
    test::showAndActivate(&window);
    bool shot = false;
    QTimer::singleShot(0, [&] {
        test::waitUntil(
            [] { return qobject_cast<QMessageBox*>(QApplication::activeModalWidget()) != nullptr; });
        auto* alert = qobject_cast<QMessageBox*>(QApplication::activeModalWidget());
        ASSERT_NE(alert, nullptr);
        saveShot(alert, QStringLiteral("alert.png"));
        shot = true;
        alert->accept();
    });
    window.postErrMessage(QStringLiteral("Please stop Wifi service."));
    EXPECT_TRUE(shot);
}

} // namespace
} // namespace lanyard
