#include "KL_PosixClock.h"

namespace {
constexpr int64_t kNanosecondsPerSecond = 1000000000;
}

void KL_PosixInitCondition(pthread_cond_t* condition) {
    pthread_condattr_t attributes;
    pthread_condattr_init(&attributes);
    pthread_condattr_setclock(&attributes, CLOCK_MONOTONIC);
    pthread_cond_init(condition, &attributes);
    pthread_condattr_destroy(&attributes);
}

KL_Result KL_PosixComputeDeadlineNs(int64_t nanoseconds, struct timespec& deadline) {
    struct timespec now;
    if (clock_gettime(CLOCK_MONOTONIC, &now) != 0) {
        return KL_FAILURE;
    }
    if (nanoseconds < 0) {
        nanoseconds = 0;
    }
    int64_t seconds = static_cast<int64_t>(now.tv_sec) + nanoseconds / kNanosecondsPerSecond;
    int64_t rest = static_cast<int64_t>(now.tv_nsec) + nanoseconds % kNanosecondsPerSecond;
    seconds += rest / kNanosecondsPerSecond;
    rest %= kNanosecondsPerSecond;
    deadline.tv_sec = static_cast<time_t>(seconds);
    deadline.tv_nsec = static_cast<long>(rest);
    return KL_SUCCESS;
}

KL_Result KL_PosixComputeDeadline(KL_Timeout timeout, struct timespec& deadline) {
    return KL_PosixComputeDeadlineNs(static_cast<int64_t>(timeout) * 1000000, deadline);
}

int KL_PosixConditionWait(pthread_cond_t* condition, pthread_mutex_t* mutex,
                          const struct timespec* deadline) {
    if (deadline == nullptr) {
        return pthread_cond_wait(condition, mutex);
    }
    return pthread_cond_timedwait(condition, mutex, deadline);
}
