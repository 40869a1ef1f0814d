// Process-level services: the clock, sleeping, random numbers, the process id and the
// computer's name. Static operations only.
#pragma once

#include "KL_Result.h"
#include "KL_String.h"
#include "KL_TimeStamp.h"
#include "KL_Types.h"

#include <cstdint>

class KL_System {
public:
    KL_System() = delete;

    static KL_Result GetProcessId(uint32_t& pid);
    // The host name (gethostname). Always 0.
    static KL_Result GetMachineName(KL_String& name);
    // The wall clock since 1970-01-01 UTC, microsecond resolution; -1 (and 0) when the clock
    // cannot be read.
    static KL_Result GetCurrentTimeStamp(KL_TimeStamp& now);
    // Sleeps for the duration, resuming after signals until all of it has passed. Always 0.
    static KL_Result Sleep(const KL_TimeStamp& duration);
    // Sleeps until now + delay: 0 once that time has come, -1 when the clock cannot be read.
    static KL_Result SleepUntil(const KL_TimeStamp& delay);
    // Seeds the process-wide C library generator (every runtime thread does at its start).
    static KL_Result SetRandomSeed(uint32_t seed);
    // A pseudo-random integer in 0 .. RAND_MAX; the first call in the process seeds the
    // generator from the clock. Not for identifiers that must differ between machines or
    // between objects made at the same moment: use GetRandomBytes for those.
    static uint32_t GetRandomInteger();
    // Fills the buffer with bytes from the kernel's random source (getrandom(2)): 0, or
    // -22000 - errno when the source fails.
    [[nodiscard]] static KL_Result GetRandomBytes(void* buffer, KL_Size size);
};
