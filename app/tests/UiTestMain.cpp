// The main of the window tests: a real application object (SWBApplication) with the Qt main queue
// installed, then every test. The platform is Qt's offscreen one, without the desktop's theme, unless
// LANYARD_QPA_PLATFORM names another (the screenshots use xcb under Xvfb).
#include "QtMainQueue.h"
#include "SWBApplication.h"

#include <dispatch/MainQueue.h>
#include <foundation/MainBundle.h>

#include <gtest/gtest.h>

#include <cstdlib>
#include <memory>

int main(int argc, char** argv) {
    const char* platformName = std::getenv("LANYARD_QPA_PLATFORM");
    ::setenv("QT_QPA_PLATFORM", platformName && *platformName ? platformName : "offscreen", 1);
    ::unsetenv("QT_QPA_PLATFORMTHEME");
    ::testing::InitGoogleTest(&argc, argv);
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
