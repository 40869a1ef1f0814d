// KL_TimeStamp: construction, conversion and saturating arithmetic.
#include "KL_TimeStamp.h"

#include <gtest/gtest.h>

#include <limits>

namespace {
constexpr int64_t kMax = std::numeric_limits<int64_t>::max();
constexpr int64_t kMin = std::numeric_limits<int64_t>::min();
} // namespace

TEST(TimeStamp, SecondsAsDoubleTruncateTowardsZero) {
    const struct {
        double seconds;
        int64_t nanos;
    } cases[] = {
        {0.0, 0},    {1.5, 1500000000}, {-1.5, -1500000000}, {1e-10, 0},
        {-1e-10, 0}, {1e300, kMax},     {-1e300, kMin},      {std::numeric_limits<double>::quiet_NaN(), 0}};
    for (const auto& c : cases) {
        EXPECT_EQ(KL_TimeStamp(c.seconds).ToNanos(), c.nanos) << c.seconds;
    }
}

TEST(TimeStamp, UnitsConvertExactlyAndTruncate) {
    EXPECT_EQ(KL_TimeStamp::FromMillis(1500).ToNanos(), 1500000000);
    EXPECT_EQ(KL_TimeStamp::FromSeconds(-2).ToMillis(), -2000);
    EXPECT_EQ(KL_TimeStamp::FromNanos(-1999999999).ToSeconds(), -1);
    EXPECT_EQ(KL_TimeStamp::FromMicros(7).ToNanos(), 7000);
    EXPECT_EQ(KL_TimeStamp::FromSeconds(kMax).ToNanos(), kMax);
    EXPECT_EQ(KL_TimeStamp::FromSeconds(kMin).ToNanos(), kMin);
}

TEST(TimeStamp, TimeoutMillisAreClampedToAFiniteTimeout) {
    EXPECT_EQ(KL_TimeStamp::FromMillis(-5).ToTimeoutMillis(), 0u);
    EXPECT_EQ(KL_TimeStamp::FromMillis(250).ToTimeoutMillis(), 250u);
    EXPECT_EQ(KL_TimeStamp::FromSeconds(1LL << 40).ToTimeoutMillis(), 0xFFFFFFFEu);
}

TEST(TimeStamp, ArithmeticSaturatesAndComparesByCount) {
    KL_TimeStamp a = KL_TimeStamp::FromNanos(kMax - 1);
    a += KL_TimeStamp::FromNanos(10);
    EXPECT_EQ(a.ToNanos(), kMax);
    KL_TimeStamp b = KL_TimeStamp::FromNanos(kMin + 1);
    b -= KL_TimeStamp::FromNanos(10);
    EXPECT_EQ(b.ToNanos(), kMin);
    EXPECT_EQ((KL_TimeStamp::FromNanos(0) - KL_TimeStamp::FromNanos(kMin)).ToNanos(), kMax);
    EXPECT_EQ((KL_TimeStamp::FromSeconds(3) - KL_TimeStamp::FromSeconds(1)).ToSeconds(), 2);
    EXPECT_LT(KL_TimeStamp::FromNanos(-1), KL_TimeStamp());
    EXPECT_EQ(KL_TimeStamp(2.0), KL_TimeStamp::FromSeconds(2));
}
