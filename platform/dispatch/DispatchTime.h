#pragma once

#include <chrono>

namespace platform::dispatch {

using Clock = std::chrono::steady_clock;

// The point `seconds` from now; negative or NaN means now, and huge values are clamped to a century
// so the arithmetic cannot overflow.
inline Clock::time_point deadlineAfter(double seconds) {
    constexpr double kLongest = 100.0 * 365 * 24 * 3600;
    if (!(seconds > 0)) {
        seconds = 0;
    } else if (seconds > kLongest) {
        seconds = kLongest;
    }
    return Clock::now() + std::chrono::duration_cast<Clock::duration>(std::chrono::duration<double>(seconds));
}

} // namespace platform::dispatch
