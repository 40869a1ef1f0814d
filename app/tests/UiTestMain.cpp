// The main of the window tests: a real application object (SWBApplication) with the Qt main queue
// installed, then every test. The platform is Qt's offscreen one, without the desktop's theme, unless
// LANYARD_QPA_PLATFORM names another (the screenshots use xcb under Xvfb).
#include "QtMainQueue.h"
#include "SWBApplication.h"

#include <dispatch/MainQueue.h>
#include <foundation/MainBundle.h>

#include "AppUtils.h"

#include <QFile>
#include <QSettings>

#include <gtest/gtest.h>

#include <cstdlib>
#include <memory>

namespace {

// Every test starts as a first run: no settings, no share list (tests that restart the window do so
// within one test).
class FreshStart : public ::testing::EmptyTestEventListener {
    void OnTestStart(const ::testing::TestInfo&) override {
        QSettings settings;
        settings.clear();
        settings.sync();
        QFile::remove(QString::fromStdString(lanyard::AppUtils::databasePath()));
    }
};

} // namespace

int main(int argc, char** argv) {
    const char* platformName = std::getenv("LANYARD_QPA_PLATFORM");
    ::setenv("QT_QPA_PLATFORM", platformName && *platformName ? platformName : "offscreen", 1);
    ::unsetenv("QT_QPA_PLATFORMTHEME");
    ::testing::InitGoogleTest(&argc, argv);
    ::testing::UnitTest::GetInstance()->listeners().Append(new FreshStart);
    platform::MainBundle::setInfo({.displayName = "Lanyard",
                                   .name = "Lanyard",
                                   .shortVersion = "1.0.0",
                                   .identifier = "org.lanyard.Tests"});
    lanyard::SWBApplication application(argc, argv);
    platform::dispatch::MainQueue::setBackend(std::make_shared<lanyard::QtMainQueue>());
    const int status = RUN_ALL_TESTS();
    platform::dispatch::MainQueue::setBackend(nullptr);
    return status;
}
