// KL_TimeStamp: nanosecond instants and intervals with saturating arithmetic.
#include "KL_TimeStamp.h"

#include <cmath>
#include <limits>

namespace {
constexpr int64_t kMax = std::numeric_limits<int64_t>::max();
constexpr int64_t kMin = std::numeric_limits<int64_t>::min();
} // namespace

KL_TimeStamp::KL_TimeStamp(double seconds) {
    double nanos = std::trunc(seconds * 1e9);
    if (std::isnan(nanos)) {
        m_NanoSeconds = 0;
    } else if (nanos >= 9223372036854775807.0) {
        m_NanoSeconds = kMax;
    } else if (nanos <= -9223372036854775808.0) {
        m_NanoSeconds = kMin;
    } else {
        m_NanoSeconds = static_cast<int64_t>(nanos);
    }
}

KL_TimeStamp KL_TimeStamp::Scaled(int64_t count, int64_t unit) {
    int64_t nanos = 0;
    if (__builtin_mul_overflow(count, unit, &nanos)) {
        nanos = count < 0 ? kMin : kMax;
    }
    return FromNanos(nanos);
}

uint32_t KL_TimeStamp::ToTimeoutMillis() const {
    int64_t millis = ToMillis();
    if (millis <= 0) {
        return 0;
    }
    if (millis >= 0xFFFFFFFELL) {
        return 0xFFFFFFFEU;
    }
    return static_cast<uint32_t>(millis);
}

KL_TimeStamp& KL_TimeStamp::operator+=(const KL_TimeStamp& other) {
    if (__builtin_add_overflow(m_NanoSeconds, other.m_NanoSeconds, &m_NanoSeconds)) {
        m_NanoSeconds = other.m_NanoSeconds < 0 ? kMin : kMax;
    }
    return *this;
}

KL_TimeStamp& KL_TimeStamp::operator-=(const KL_TimeStamp& other) {
    if (__builtin_sub_overflow(m_NanoSeconds, other.m_NanoSeconds, &m_NanoSeconds)) {
        m_NanoSeconds = other.m_NanoSeconds < 0 ? kMax : kMin;
    }
    return *this;
}
