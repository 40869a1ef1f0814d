// KL_TimeStamp: a signed 64-bit count of nanoseconds.
//
// As a point in time it counts from 1970-01-01 00:00:00 UTC; as an interval it is a plain
// duration. The current time comes from KL_System::GetCurrentTimeStamp.
//
// Arithmetic saturates at the ends of the 64-bit range instead of wrapping, so a huge interval
// taken from a peer (a lease, a time-out) can never turn a deadline into the distant past.
#pragma once

#include <compare>
#include <cstdint>

class KL_TimeStamp {
public:
    static constexpr int64_t NANOS_PER_SECOND = 1000000000;
    static constexpr int64_t NANOS_PER_MILLI = 1000000;
    static constexpr int64_t NANOS_PER_MICRO = 1000;

    // 0: the epoch, or an empty interval.
    constexpr KL_TimeStamp() = default;
    constexpr KL_TimeStamp(const KL_TimeStamp&) = default;
    constexpr KL_TimeStamp& operator=(const KL_TimeStamp&) = default;
    // Seconds given as a double: multiplied by 1e9 and truncated towards zero (saturated at the
    // ends of the range; NaN gives 0).
    explicit KL_TimeStamp(double seconds);

    // Exact constructors from whole units (saturated).
    static constexpr KL_TimeStamp FromNanos(int64_t nanos) { return KL_TimeStamp(nanos, 0); }
    static KL_TimeStamp FromMicros(int64_t micros) { return Scaled(micros, NANOS_PER_MICRO); }
    static KL_TimeStamp FromMillis(int64_t millis) { return Scaled(millis, NANOS_PER_MILLI); }
    static KL_TimeStamp FromSeconds(int64_t seconds) { return Scaled(seconds, NANOS_PER_SECOND); }

    // Conversions truncate towards zero.
    constexpr int64_t ToNanos() const { return m_NanoSeconds; }
    constexpr int64_t ToMicros() const { return m_NanoSeconds / NANOS_PER_MICRO; }
    constexpr int64_t ToMillis() const { return m_NanoSeconds / NANOS_PER_MILLI; }
    constexpr int64_t ToSeconds() const { return m_NanoSeconds / NANOS_PER_SECOND; }
    double ToSecondsDouble() const { return static_cast<double>(m_NanoSeconds) / 1e9; }
    // Milliseconds clamped to 0 .. 0xFFFFFFFE (suitable for a finite KL_Timeout).
    uint32_t ToTimeoutMillis() const;

    constexpr void SetNanos(int64_t nanos) { m_NanoSeconds = nanos; }
    void SetMillis(int64_t millis) { *this = FromMillis(millis); }
    void SetSeconds(int64_t seconds) { *this = FromSeconds(seconds); }

    KL_TimeStamp& operator+=(const KL_TimeStamp& other);
    KL_TimeStamp& operator-=(const KL_TimeStamp& other);
    KL_TimeStamp operator+(const KL_TimeStamp& other) const {
        KL_TimeStamp sum(*this);
        sum += other;
        return sum;
    }
    KL_TimeStamp operator-(const KL_TimeStamp& other) const {
        KL_TimeStamp difference(*this);
        difference -= other;
        return difference;
    }

    constexpr bool operator==(const KL_TimeStamp& other) const = default;
    constexpr std::strong_ordering operator<=>(const KL_TimeStamp& other) const = default;

private:
    constexpr KL_TimeStamp(int64_t nanos, int) : m_NanoSeconds(nanos) {}
    static KL_TimeStamp Scaled(int64_t count, int64_t unit);

    int64_t m_NanoSeconds = 0;
};
