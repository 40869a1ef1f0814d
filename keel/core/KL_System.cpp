#include "KL_System.h"

#include "KL_AutoreleasePool.h"
#include "KL_Check.h"
#include "KL_PosixClock.h"

#include <atomic>
#include <cerrno>
#include <climits>
#include <cstdlib>
#include <pthread.h>
#include <sys/random.h>
#include <sys/time.h>
#include <time.h>
#include <unistd.h>

KL_SET_LOCAL_LOGGER("keel.system");

namespace {

// The mutex and the condition that SleepUntil waits on; nothing ever signals the condition.
struct SleepPair {
    SleepPair() {
        pthread_mutex_init(&m_Mutex, nullptr);
        KL_PosixInitCondition(&m_Condition);
    }
    ~SleepPair() {
        pthread_cond_destroy(&m_Condition);
        pthread_mutex_destroy(&m_Mutex);
    }
    pthread_mutex_t m_Mutex;
    pthread_cond_t m_Condition;
};

SleepPair& GetSleepPair() {
    static SleepPair pair;
    return pair;
}

// Made during static initialisation, like the other process-wide objects of the runtime.
[[maybe_unused]] const SleepPair& g_SleepPairAtStart = GetSleepPair();

std::atomic<bool> g_RandomSeeded{false};

} // namespace

KL_Result KL_System::GetProcessId(uint32_t& pid) {
    pid = static_cast<uint32_t>(getpid());
    return KL_SUCCESS;
}

KL_Result KL_System::GetMachineName(KL_String& name) {
    KL_AutoreleasePool pool;
    char host[HOST_NAME_MAX + 1] = {};
    if (gethostname(host, sizeof(host) - 1) != 0) {
        host[0] = '\0';
    }
    name = host;
    return KL_SUCCESS;
}

KL_Result KL_System::GetCurrentTimeStamp(KL_TimeStamp& now) {
    struct timeval tv;
    if (gettimeofday(&tv, nullptr) != 0) {
        now = KL_TimeStamp();
        return KL_FAILURE;
    }
    now = KL_TimeStamp::FromNanos(static_cast<int64_t>(tv.tv_sec) * KL_TimeStamp::NANOS_PER_SECOND +
                                  static_cast<int64_t>(tv.tv_usec) * KL_TimeStamp::NANOS_PER_MICRO);
    return KL_SUCCESS;
}

KL_Result KL_System::Sleep(const KL_TimeStamp& duration) {
    const int64_t nanos = duration.ToNanos();
    if (nanos <= 0) {
        return KL_SUCCESS;
    }
    struct timespec request;
    request.tv_sec = static_cast<time_t>(nanos / KL_TimeStamp::NANOS_PER_SECOND);
    request.tv_nsec = static_cast<long>(nanos % KL_TimeStamp::NANOS_PER_SECOND);
    struct timespec remaining = {};
    while (nanosleep(&request, &remaining) != 0 && errno == EINTR) {
        if (remaining.tv_sec < 0 || (remaining.tv_sec == 0 && remaining.tv_nsec <= 0)) {
            break;
        }
        request = remaining;
    }
    return KL_SUCCESS;
}

KL_Result KL_System::SleepUntil(const KL_TimeStamp& delay) {
    struct timespec deadline;
    if (KL_FAILED(KL_PosixComputeDeadlineNs(delay.ToNanos(), deadline))) {
        return KL_FAILURE;
    }
    SleepPair& pair = GetSleepPair();
    pthread_mutex_lock(&pair.m_Mutex);
    int error = 0;
    do {
        // Nothing signals the condition: a wake-up before the deadline is spurious.
        error = pthread_cond_timedwait(&pair.m_Condition, &pair.m_Mutex, &deadline);
    } while (error == 0 || error == EINTR);
    pthread_mutex_unlock(&pair.m_Mutex);
    return error == ETIMEDOUT ? KL_SUCCESS : KL_FAILURE;
}

KL_Result KL_System::SetRandomSeed(uint32_t seed) {
    srand(seed);
    return KL_SUCCESS;
}

uint32_t KL_System::GetRandomInteger() {
    if (!g_RandomSeeded.exchange(true)) {
        KL_TimeStamp now;
        (void)GetCurrentTimeStamp(now);
        SetRandomSeed(static_cast<uint32_t>(now.ToNanos()));
    }
    return static_cast<uint32_t>(rand());
}

KL_Result KL_System::GetRandomBytes(void* buffer, KL_Size size) {
    if (size == 0) {
        return KL_SUCCESS;
    }
    KL_CHECK_POINTER(buffer);
    auto* bytes = static_cast<unsigned char*>(buffer);
    KL_Size done = 0;
    while (done < size) {
        const ssize_t got = getrandom(bytes + done, size - done, 0);
        if (got < 0) {
            if (errno == EINTR) {
                continue;
            }
            const KL_Result result = KL_ResultFromErrno(errno);
            KL_LOG_CHECK_FAILED(KL_LOG_LEVEL_SEVERE, result, "(getrandom)");
            return result;
        }
        done += static_cast<KL_Size>(got);
    }
    return KL_SUCCESS;
}
