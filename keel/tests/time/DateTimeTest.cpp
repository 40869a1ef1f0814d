// KL_DateTime: conversions, validation, the text forms and their parse errors.
#include "KL_DateTime.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <ctime>
#include <limits>
#include <string>

namespace {

KL_DateTime Date(int32_t year, int32_t month, int32_t day, int32_t hours = 0, int32_t minutes = 0,
                 int32_t seconds = 0, int32_t nanos = 0, int32_t zone = 0) {
    KL_DateTime date;
    date.m_Year = year;
    date.m_Month = month;
    date.m_Day = day;
    date.m_Hours = hours;
    date.m_Minutes = minutes;
    date.m_Seconds = seconds;
    date.m_NanoSeconds = nanos;
    date.m_TimeZone = zone;
    return date;
}

std::string Text(const KL_DateTime& date, KL_DateTime::Format format, int flags = 0) {
    return date.ToString(format, flags).GetChars();
}

// Sets TZ for the duration of a test.
class ScopedZone {
public:
    explicit ScopedZone(const char* zone) {
        const char* old = std::getenv("TZ");
        m_Had = old != nullptr;
        if (m_Had) {
            m_Old = old;
        }
        setenv("TZ", zone, 1);
        tzset();
    }
    ~ScopedZone() {
        if (m_Had) {
            setenv("TZ", m_Old.c_str(), 1);
        } else {
            unsetenv("TZ");
        }
        tzset();
    }

private:
    bool m_Had = false;
    std::string m_Old;
};

} // namespace

TEST(DateTime, EpochInUtc) {
    KL_DateTime date(KL_TimeStamp(), false);
    EXPECT_EQ(date, KL_DateTime());
    EXPECT_EQ(Text(date, KL_DateTime::FORMAT_RFC_1123), "Thu, 01 Jan 1970 00:00:00 GMT");
    EXPECT_EQ(Text(date, KL_DateTime::FORMAT_RFC_1036), "Thursday, 01-Jan-70 00:00:00 GMT");
    EXPECT_EQ(Text(date, KL_DateTime::FORMAT_ANSI), "Thu Jan  1 00:00:00 1970");
    EXPECT_EQ(Text(date, KL_DateTime::FORMAT_W3C), "1970-01-01T00:00:00Z");
    EXPECT_EQ(Text(date, static_cast<KL_DateTime::Format>(4)), "");
}

TEST(DateTime, ZonesAreWrittenPerFormat) {
    const struct {
        int32_t zone;
        const char* rfc;
        const char* w3c;
    } cases[] = {{90, "Thu, 01 Jan 1970 00:00:00 +0130", "1970-01-01T00:00:00+01:30"},
                 {-330, "Thu, 01 Jan 1970 00:00:00 -0530", "1970-01-01T00:00:00-05:30"},
                 {720, "Thu, 01 Jan 1970 00:00:00 +1200", "1970-01-01T00:00:00+12:00"}};
    for (const auto& c : cases) {
        KL_DateTime date = Date(1970, 1, 1, 0, 0, 0, 0, c.zone);
        EXPECT_EQ(Text(date, KL_DateTime::FORMAT_RFC_1123), c.rfc);
        EXPECT_EQ(Text(date, KL_DateTime::FORMAT_W3C), c.w3c);
    }
}

TEST(DateTime, W3cFractionFlags) {
    KL_DateTime date = Date(2004, 2, 29, 23, 59, 58, 123456789);
    EXPECT_EQ(Text(date, KL_DateTime::FORMAT_W3C, 0), "2004-02-29T23:59:58Z");
    EXPECT_EQ(Text(date, KL_DateTime::FORMAT_W3C, 1), "2004-02-29T23:59:58.123Z");
    EXPECT_EQ(Text(date, KL_DateTime::FORMAT_W3C, 2), "2004-02-29T23:59:58Z");
    EXPECT_EQ(Text(date, KL_DateTime::FORMAT_W3C, 3), "2004-02-29T23:59:58.123456789Z");
}

TEST(DateTime, Validation) {
    const struct {
        KL_DateTime date;
        KL_Result result;
    } cases[] = {
        {Date(1900, 12, 31), KL_ERROR_OUT_OF_RANGE},
        {Date(1901, 1, 1), KL_SUCCESS},
        {Date(2262, 4, 11), KL_SUCCESS},
        {Date(2263, 1, 1), KL_ERROR_OUT_OF_RANGE},
        {Date(2001, 2, 30), KL_SUCCESS},
        {Date(2001, 0, 1), KL_ERROR_OUT_OF_RANGE},
        {Date(2001, 13, 1), KL_ERROR_OUT_OF_RANGE},
        {Date(2001, 1, 0), KL_ERROR_OUT_OF_RANGE},
        {Date(2001, 1, 32), KL_ERROR_OUT_OF_RANGE},
        {Date(2001, 1, 1, 24), KL_ERROR_OUT_OF_RANGE},
        {Date(2001, 1, 1, 0, 60), KL_ERROR_OUT_OF_RANGE},
        {Date(2001, 1, 1, 0, 0, 60), KL_ERROR_OUT_OF_RANGE},
        {Date(2001, 1, 1, 0, 0, 0, 1000000000), KL_ERROR_OUT_OF_RANGE},
        {Date(2001, 1, 1, 0, 0, 0, -1), KL_ERROR_OUT_OF_RANGE},
        {Date(2001, 1, 1, 0, 0, 0, 0, 721), KL_ERROR_OUT_OF_RANGE},
        {Date(2001, 1, 1, 0, 0, 0, 0, -721), KL_ERROR_OUT_OF_RANGE},
    };
    for (const auto& c : cases) {
        EXPECT_EQ(c.date.Validate(), c.result)
            << c.date.m_Year << "-" << c.date.m_Month << "-" << c.date.m_Day;
        KL_TimeStamp stamp = KL_TimeStamp::FromNanos(1);
        EXPECT_EQ(c.date.ToTimeStamp(stamp), c.result);
        if (c.result != KL_SUCCESS) {
            EXPECT_EQ(stamp.ToNanos(), 0);
            EXPECT_EQ(Text(c.date, KL_DateTime::FORMAT_RFC_1123), "");
        }
    }
}

TEST(DateTime, DayCountAndWeekday) {
    EXPECT_EQ(KL_DateTime::DaysSince1900(1900, 1, 1), 0);
    EXPECT_EQ(KL_DateTime::DayOfWeek(1900, 1, 1), 1);
    EXPECT_EQ(KL_DateTime::DaysSince1900(1970, 1, 1), 25567);
    EXPECT_EQ(KL_DateTime::DayOfWeek(2000, 2, 29), 2);
    EXPECT_EQ(KL_DateTime::DayOfWeek(2000, 3, 1), 3);
    EXPECT_EQ(KL_DateTime::DayOfWeek(2100, 3, 1), 1);
}

// Stamps beyond 2192 convert; only what does not fit 64 bits is out of range.
TEST(DateTime, ToTimeStampReachesTheEndOfTheRange) {
    const struct {
        KL_DateTime date;
        KL_Result result;
        int64_t nanos;
    } cases[] = {
        {Date(2200, 1, 1), KL_SUCCESS, 7258118400000000000LL},
        {Date(2192, 4, 11), KL_SUCCESS, 7014384000000000000LL},
        {Date(2262, 4, 11, 23, 47, 16, 854775807), KL_SUCCESS, std::numeric_limits<int64_t>::max()},
        {Date(2262, 4, 11, 23, 47, 16, 854775808), KL_ERROR_OUT_OF_RANGE, 0},
        {Date(2262, 4, 12), KL_ERROR_OUT_OF_RANGE, 0},
        {Date(2262, 4, 12, 0, 0, 0, 0, 60), KL_SUCCESS, 9223369200000000000LL},
        {Date(1901, 1, 1, 0, 0, 0, 0, -720), KL_SUCCESS, -2177409600000000000LL},
    };
    for (const auto& c : cases) {
        KL_TimeStamp stamp;
        EXPECT_EQ(c.date.ToTimeStamp(stamp), c.result) << Text(c.date, KL_DateTime::FORMAT_W3C, 3);
        EXPECT_EQ(stamp.ToNanos(), c.nanos);
    }
}

// Before 1970 a fraction belongs to the earlier second: nanoseconds stay 0..999,999,999.
TEST(DateTime, FromTimeStampBefore1970) {
    const struct {
        int64_t nanos;
        const char* w3c;
    } cases[] = {
        {-500000000, "1969-12-31T23:59:59.500000000Z"},
        {-1, "1969-12-31T23:59:59.999999999Z"},
        {-1000000000, "1969-12-31T23:59:59.000000000Z"},
        {-2147483648LL * 1000000000, "1901-12-13T20:45:52.000000000Z"},
        {-2147483648LL * 1000000000 + 1, "1901-12-13T20:45:52.000000001Z"},
        {-2145916800LL * 1000000000, "1902-01-01T00:00:00.000000000Z"},
    };
    for (const auto& c : cases) {
        KL_DateTime date;
        ASSERT_EQ(date.FromTimeStamp(KL_TimeStamp::FromNanos(c.nanos)), KL_SUCCESS) << c.nanos;
        EXPECT_EQ(Text(date, KL_DateTime::FORMAT_W3C, 3), c.w3c);
        KL_TimeStamp back;
        EXPECT_EQ(date.ToTimeStamp(back), KL_SUCCESS);
        EXPECT_EQ(back.ToNanos(), c.nanos);
    }
    KL_DateTime date;
    EXPECT_EQ(date.FromTimeStamp(KL_TimeStamp::FromNanos(-2147483648LL * 1000000000 - 1)),
              KL_ERROR_OUT_OF_RANGE);
    EXPECT_EQ(date.FromTimeStamp(KL_TimeStamp::FromNanos(std::numeric_limits<int64_t>::min())),
              KL_ERROR_OUT_OF_RANGE);
    EXPECT_EQ(date.FromTimeStamp(KL_TimeStamp::FromNanos(std::numeric_limits<int64_t>::max())), KL_SUCCESS);
    EXPECT_EQ(Text(date, KL_DateTime::FORMAT_W3C, 3), "2262-04-11T23:47:16.854775807Z");
}

TEST(DateTime, ChangeTimeZoneKeepsTheInstant) {
    KL_DateTime date = Date(2020, 12, 31, 23, 30);
    EXPECT_EQ(date.ChangeTimeZone(721), KL_ERROR_OUT_OF_RANGE);
    EXPECT_EQ(date.ChangeTimeZone(-721), KL_ERROR_OUT_OF_RANGE);
    ASSERT_EQ(date.ChangeTimeZone(90), KL_SUCCESS);
    EXPECT_EQ(Text(date, KL_DateTime::FORMAT_W3C), "2021-01-01T01:00:00+01:30");
    ASSERT_EQ(date.ChangeTimeZone(-330), KL_SUCCESS);
    EXPECT_EQ(Text(date, KL_DateTime::FORMAT_RFC_1123), "Thu, 31 Dec 2020 18:00:00 -0530");
    KL_DateTime end = Date(2262, 4, 11, 23, 47, 16, 854775807);
    EXPECT_EQ(end.ChangeTimeZone(60), KL_ERROR_OUT_OF_RANGE);
}

TEST(DateTime, LocalZoneIsTheOffsetAt1970) {
    {
        ScopedZone zone("XXX-5:30");
        EXPECT_EQ(KL_DateTime::GetLocalTimeZone(), 330);
        KL_DateTime date(KL_TimeStamp(), true);
        EXPECT_EQ(Text(date, KL_DateTime::FORMAT_W3C), "1970-01-01T05:30:00+05:30");
        KL_TimeStamp back;
        EXPECT_EQ(date.ToTimeStamp(back), KL_SUCCESS);
        EXPECT_EQ(back.ToNanos(), 0);
    }
    ScopedZone zone("UTC0");
    EXPECT_EQ(KL_DateTime::GetLocalTimeZone(), 0);
}
