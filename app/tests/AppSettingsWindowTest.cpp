#include "AppSetting.h"
#include "SettingWindowController.h"
#include "UiTestSupport.h"
#include "ViewController.h"

#include <sysconfig/SystemConfiguration.h>

#include <QCheckBox>
#include <QLineEdit>
#include <QTabWidget>
#include <QTest>

#include <gtest/gtest.h>

namespace lanyard {
namespace {

using test::child;

// Opens the settings through the main window's Settings button.
SettingWindowController* openSettings(ViewController& window) {
    test::click(child<QWidget>(&window, "btnSetting"));
    return window.settingWindowController();
}

std::string stored(const char* key) {
    return AppSetting::getUserStrConfig(key).value_or("<none>");
}

TEST(AppSettingsWindow, WithoutAStoredNameTheFieldShowsTheComputerName) {
    ViewController window;
    SettingWindowController* settings = openSettings(window);
    ASSERT_NE(settings, nullptr);
    EXPECT_TRUE(settings->isVisible());
    EXPECT_EQ(settings->objectName(), QStringLiteral("settingWindow"));
    ASSERT_NE(settings->tabViews(), nullptr);
    EXPECT_EQ(child<QTabWidget>(settings, "tabViews"), settings->tabViews());
    const auto computer = platform::SystemConfiguration::computerName();
    const QString expected = computer && !computer->empty() ? QString::fromStdString(*computer)
                                                            : SettingWindowController::getComputerName();
    EXPECT_EQ(child<QLineEdit>(settings, "txtName")->text(), expected);
    EXPECT_FALSE(child<QCheckBox>(settings, "btnShowFullPath")->isChecked());
    EXPECT_FALSE(expected.isEmpty());
}

TEST(AppSettingsWindow, OkStoresBothSettingsAndLeavesTheWindowOpen) {
    ViewController window;
    SettingWindowController* settings = openSettings(window);
    auto* name = child<QLineEdit>(settings, "txtName");
    name->clear();
    QTest::keyClicks(name, QStringLiteral("Living room"));
    child<QCheckBox>(settings, "btnShowFullPath")->setChecked(true);
    test::click(child<QWidget>(settings, "btnOK"));
    EXPECT_EQ(stored("deviceName"), "Living room");
    EXPECT_EQ(stored("showFullPath"), "1");
    EXPECT_TRUE(settings->isVisible());

    // A cleared field stores "", which counts as no name.
    name->clear();
    test::click(child<QWidget>(settings, "btnOK"));
    EXPECT_EQ(stored("deviceName"), "");
}

TEST(AppSettingsWindow, CancelStoresNothingAndReopeningShowsTheFieldsAsLeft) {
    AppSetting::setUserStrConfig(std::string("Kitchen"), "deviceName");
    AppSetting::setUserIntConfig(0, "showFullPath");
    ViewController window;
    SettingWindowController* settings = openSettings(window);
    auto* name = child<QLineEdit>(settings, "txtName");
    EXPECT_EQ(name->text(), QStringLiteral("Kitchen"));
    name->setText(QStringLiteral("Garage"));
    child<QCheckBox>(settings, "btnShowFullPath")->setChecked(true);
    test::click(child<QWidget>(settings, "btnCancel"));
    EXPECT_FALSE(settings->isVisible());
    EXPECT_EQ(stored("deviceName"), "Kitchen");
    EXPECT_EQ(stored("showFullPath"), "0");

    EXPECT_EQ(openSettings(window), settings) << "the settings window is made once and kept";
    EXPECT_TRUE(settings->isVisible());
    EXPECT_EQ(name->text(), QStringLiteral("Garage"));
    EXPECT_TRUE(child<QCheckBox>(settings, "btnShowFullPath")->isChecked());
}

TEST(AppSettingsWindow, ReturnInTheNameFieldIsOkAndEscapeCancels) {
    ViewController window;
    SettingWindowController* settings = openSettings(window);
    test::showAndActivate(settings);
    auto* name = child<QLineEdit>(settings, "txtName");
    name->setFocus();
    name->setText(QStringLiteral("Studio"));
    QTest::keyClick(name, Qt::Key_Return);
    EXPECT_EQ(stored("deviceName"), "Studio");
    EXPECT_TRUE(settings->isVisible());
    name->setText(QStringLiteral("Attic"));
    QTest::keyClick(name, Qt::Key_Escape);
    EXPECT_FALSE(settings->isVisible());
    EXPECT_EQ(stored("deviceName"), "Studio");
}

} // namespace
} // namespace lanyard
