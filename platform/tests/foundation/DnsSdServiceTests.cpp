#include "dispatch/MainQueue.h"
#include "dnssd/DnsSdService.h"

#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <cstdlib>

using platform::DnsSdService;
using platform::dispatch::RunLoop;

namespace {

// No daemon is ever reached from these tests: the system bus points nowhere.
class DnsSdServiceWithoutDaemon : public ::testing::Test {
protected:
    void SetUp() override { setenv("DBUS_SYSTEM_BUS_ADDRESS", "unix:path=/nonexistent/dbus-socket", 1); }

    // Runs the main queue for a while, so that a callback posted by mistake would run.
    static void drainMainQueue(double seconds) {
        const auto end = std::chrono::steady_clock::now() + std::chrono::duration<double>(seconds);
        while (std::chrono::steady_clock::now() < end) {
            RunLoop::shared()->runOnce(0.05);
        }
    }

    DnsSdService::Callback counting() {
        return [this](int) { ++_callbacks; };
    }

    std::atomic<int> _callbacks{0};
};

double secondsSince(std::chrono::steady_clock::time_point start) {
    return std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
}

} // namespace

TEST(DnsSdService, CreateValidatesItsArgumentsAndCopyKeepsThem) {
    EXPECT_EQ(DnsSdService::create("", "_http._tcp", "", 8080), nullptr);
    EXPECT_EQ(DnsSdService::create("", "http", "Files", 8080), nullptr);
    EXPECT_EQ(DnsSdService::create("", "_http._tcp", std::string(64, 'n'), 8080), nullptr);
    EXPECT_EQ(DnsSdService::create("", "_http._tcp", "Files", -1), nullptr);
    EXPECT_EQ(DnsSdService::create("", "_http._tcp", "Files", 65536), nullptr);
    auto service = DnsSdService::create("", "_webdav._tcp", "Ünïcode name", 80);
    ASSERT_NE(service, nullptr);
    auto copy = service->copy();
    ASSERT_NE(copy, nullptr);
    EXPECT_NE(copy, service);
    for (const auto& item : {service, copy}) {
        EXPECT_EQ(item->domain(), "local.");
        EXPECT_EQ(item->type(), "_webdav._tcp");
        EXPECT_EQ(item->name(), "Ünïcode name");
        EXPECT_EQ(item->port(), 80);
        EXPECT_FALSE(item->targetHost());
    }
}

TEST_F(DnsSdServiceWithoutDaemon, RegisterAndResolveFailQuicklyAndStaySilent) {
    auto service = DnsSdService::create("", "_http._tcp", "Silent", 8080);
    ASSERT_NE(service, nullptr);
    auto copy = service->copy();
    const auto start = std::chrono::steady_clock::now();
    EXPECT_FALSE(service->registerService(counting()));
    EXPECT_FALSE(copy->resolve(0.1, counting()));
    EXPECT_LT(secondsSince(start), 5.0);
    drainMainQueue(0.3);
    EXPECT_EQ(_callbacks.load(), 0);
    EXPECT_EQ(service->name(), "Silent");
    EXPECT_FALSE(copy->targetHost());
    EXPECT_EQ(copy->port(), 8080);
}

TEST_F(DnsSdServiceWithoutDaemon, ChurnNeitherHangsNorCallsBack) {
    const auto start = std::chrono::steady_clock::now();
    for (int i = 0; i < 20; ++i) {
        auto service = DnsSdService::create("", "_http._tcp", "Churn " + std::to_string(i), 1024 + i);
        ASSERT_NE(service, nullptr);
        service->cancel();
        (void)service->registerService(counting());
        auto copy = service->copy();
        (void)copy->resolve(1.0, counting());
        copy->cancel();
        service->cancel();
        service->cancel();
        if (i % 2 == 0) {
            // Dropped without cancel: the destructor cleans up.
            (void)service->registerService(counting());
        }
    }
    EXPECT_LT(secondsSince(start), 20.0);
    drainMainQueue(0.3);
    EXPECT_EQ(_callbacks.load(), 0);
}
