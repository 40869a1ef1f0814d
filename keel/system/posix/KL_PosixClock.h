// Deadlines for timed condition waits. Every condition of the runtime waits on the monotonic
// clock, so setting the wall clock neither shortens nor stretches a wait.
#pragma once

#include "KL_Result.h"
#include "KL_Types.h"

#include <pthread.h>
#include <time.h>

// Initialises a condition variable whose timed waits measure CLOCK_MONOTONIC.
void KL_PosixInitCondition(pthread_cond_t* condition);

// deadline = now (CLOCK_MONOTONIC) + timeout milliseconds, in 64-bit arithmetic with the
// nanoseconds carried into seconds. -1 when the clock cannot be read.
KL_Result KL_PosixComputeDeadline(KL_Timeout timeout, struct timespec& deadline);

// The same from a count of nanoseconds (negative counts as 0).
KL_Result KL_PosixComputeDeadlineNs(int64_t nanoseconds, struct timespec& deadline);

// Waits on the condition until the deadline (nullptr: for ever). Answers the platform's code:
// 0 after a wake-up, ETIMEDOUT once the deadline passed.
int KL_PosixConditionWait(pthread_cond_t* condition, pthread_mutex_t* mutex, const struct timespec* deadline);
