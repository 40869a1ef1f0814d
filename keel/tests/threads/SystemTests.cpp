#include "KL_AutomaticCleaner.h"
#include "KL_AutoreleasePool.h"
#include "KL_Environment.h"
#include "KL_System.h"
#include "KL_Thread.h"

#include <gtest/gtest.h>

#include <climits>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <ctime>
#include <unistd.h>

TEST(Environment, GetAndSet) {
    const char* name = "KEEL_THREADS_TEST_VARIABLE";
    KL_String value("stale");
    ASSERT_EQ(KL_Environment::Set(name, nullptr), KL_SUCCESS);
    EXPECT_EQ(KL_Environment::Get(name, value), KL_ERROR_NO_SUCH_ITEM);
    EXPECT_TRUE(value.IsEmpty());

    const char* values[] = {"one", "", "two words", "one"};
    for (const char* text : values) {
        ASSERT_EQ(KL_Environment::Set(name, text), KL_SUCCESS);
        ASSERT_EQ(KL_Environment::Get(name, value), KL_SUCCESS);
        EXPECT_STREQ(value.GetChars(), text);
    }
    ASSERT_EQ(KL_Environment::Set(name, nullptr), KL_SUCCESS);
    EXPECT_EQ(getenv(name), nullptr);
    EXPECT_EQ(KL_Environment::Get(nullptr, value), KL_ERROR_INVALID_PARAMETERS);
    EXPECT_EQ(KL_Environment::Set(nullptr, "x"), KL_ERROR_INVALID_PARAMETERS);
}

TEST(System, ProcessMachineAndClock) {
    uint32_t pid = 0;
    EXPECT_EQ(KL_System::GetProcessId(pid), KL_SUCCESS);
    EXPECT_EQ(pid, static_cast<uint32_t>(getpid()));

    char host[HOST_NAME_MAX + 1] = {};
    ASSERT_EQ(gethostname(host, sizeof(host) - 1), 0);
    KL_String name;
    EXPECT_EQ(KL_System::GetMachineName(name), KL_SUCCESS);
    EXPECT_STREQ(name.GetChars(), host);

    const time_t before = time(nullptr);
    KL_TimeStamp now;
    EXPECT_EQ(KL_System::GetCurrentTimeStamp(now), KL_SUCCESS);
    const time_t after = time(nullptr);
    EXPECT_GE(now.ToSeconds(), before);
    EXPECT_LE(now.ToSeconds(), after);
    EXPECT_EQ(now.ToNanos() % 1000, 0); // microsecond resolution

    KL_AutoreleasePool pool; // does nothing here, but exists
}

namespace {
volatile sig_atomic_t g_Signals = 0;
void CountSignal(int) {
    g_Signals = g_Signals + 1;
}
} // namespace

TEST(System, SleepResumesAfterASignal) {
    struct sigaction action = {};
    action.sa_handler = &CountSignal;
    sigemptyset(&action.sa_mask);
    action.sa_flags = 0; // no SA_RESTART: nanosleep returns EINTR
    struct sigaction previous = {};
    ASSERT_EQ(sigaction(SIGUSR1, &action, &previous), 0);

    const pthread_t sleeper = pthread_self();
    struct Signaller : KL_Runnable {
        explicit Signaller(pthread_t target) : m_Target(target) {}
        void Run() override {
            KL_System::Sleep(KL_TimeStamp::FromMillis(300));
            pthread_kill(m_Target, SIGUSR1);
        }
        pthread_t m_Target;
    } signaller(sleeper);
    KL_Thread thread(&signaller);

    struct timespec start, end;
    clock_gettime(CLOCK_MONOTONIC, &start);
    ASSERT_EQ(thread.Start(), KL_SUCCESS);
    EXPECT_EQ(KL_System::Sleep(KL_TimeStamp(1.5)), KL_SUCCESS);
    clock_gettime(CLOCK_MONOTONIC, &end);
    ASSERT_EQ(thread.Wait(), KL_SUCCESS);
    sigaction(SIGUSR1, &previous, nullptr);

    EXPECT_EQ(g_Signals, 1);
    const int64_t slept = (end.tv_sec - start.tv_sec) * 1000000000LL + (end.tv_nsec - start.tv_nsec);
    EXPECT_GE(slept, 1500000000LL); // the whole duration, not up to the signal

    EXPECT_EQ(KL_System::Sleep(KL_TimeStamp::FromNanos(-5)), KL_SUCCESS);
    EXPECT_EQ(KL_System::SleepUntil(KL_TimeStamp::FromMillis(20)), KL_SUCCESS);
}

TEST(System, RandomGeneratorIsSeededOnce) {
    (void)KL_System::GetRandomInteger(); // seeds, if nothing did yet
    ASSERT_EQ(KL_System::SetRandomSeed(4242), KL_SUCCESS);
    const uint32_t first = KL_System::GetRandomInteger();
    const uint32_t second = KL_System::GetRandomInteger();
    srand(4242);
    // No second seeding from the clock in between.
    EXPECT_EQ(first, static_cast<uint32_t>(rand()));
    EXPECT_EQ(second, static_cast<uint32_t>(rand()));
    EXPECT_LE(first, static_cast<uint32_t>(RAND_MAX));
}

TEST(System, RandomBytesFromTheKernel) {
    unsigned char a[16] = {}, b[16] = {};
    ASSERT_EQ(KL_System::GetRandomBytes(a, sizeof(a)), KL_SUCCESS);
    ASSERT_EQ(KL_System::GetRandomBytes(b, sizeof(b)), KL_SUCCESS);
    EXPECT_NE(memcmp(a, b, sizeof(a)), 0);
    EXPECT_EQ(KL_System::GetRandomBytes(nullptr, 0), KL_SUCCESS);
    EXPECT_EQ(KL_System::GetRandomBytes(nullptr, 4), KL_ERROR_INVALID_PARAMETERS);
}

namespace {

// Writes its name to stderr when deleted.
class NamedSingleton : public KL_AutomaticCleaner::Singleton {
public:
    explicit NamedSingleton(const char* name) : m_Name(name) {}
    ~NamedSingleton() override { fprintf(stderr, "%s;", m_Name); }

private:
    const char* m_Name;
};

[[noreturn]] void RegisterAndExit() {
    KL_AutomaticCleaner* cleaner = KL_AutomaticCleaner::GetInstance();
    auto* first = new NamedSingleton("first");
    cleaner->Register(first);
    cleaner->Register(new NamedSingleton("second"));
    cleaner->Register(first); // again: one entry, moved to the head
    cleaner->RegisterTlsContext(new NamedSingleton("tls"));
    cleaner->RegisterHttpConnectionManager(new NamedSingleton("manager"));
    fprintf(stderr, "exit:");
    exit(0);
}

} // namespace

TEST(AutomaticCleaner, DeletesAtExitInOrder) {
    GTEST_FLAG_SET(death_test_style, "threadsafe");
    EXPECT_EXIT(RegisterAndExit(), ::testing::ExitedWithCode(0), "exit:manager;tls;first;second;$");
    EXPECT_EQ(KL_AutomaticCleaner::GetInstance(), KL_AutomaticCleaner::GetInstance());
}
