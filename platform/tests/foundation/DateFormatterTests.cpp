#include "foundation/DateFormatter.h"

#include <gtest/gtest.h>

#include <chrono>

using platform::Date;
using platform::DateFormatter;
using namespace std::chrono_literals;

namespace {

constexpr const char* kRfc822 = "EEE',' dd MMM yyyy HH':'mm':'ss 'GMT'";
constexpr const char* kIso8601 = "yyyy-MM-dd'T'HH:mm:ss'+00:00'";

Date fromSeconds(std::int64_t seconds) {
    return Date(std::chrono::seconds(seconds));
}

} // namespace

TEST(DateFormatter, FormatsAndParsesRfc822AndIso8601) {
    DateFormatter rfc(kRfc822, "GMT", "en_US");
    DateFormatter iso(kIso8601, "GMT", "en_US");
    ASSERT_TRUE(rfc.isValid() && iso.isValid());
    EXPECT_EQ(rfc.format(fromSeconds(784111777)), "Sun, 06 Nov 1994 08:49:37 GMT");
    EXPECT_EQ(iso.format(fromSeconds(1393675200)), "2014-03-01T12:00:00+00:00");
    EXPECT_EQ(rfc.parse("Sun, 06 Nov 1994 08:49:37 GMT"), fromSeconds(784111777));
    EXPECT_EQ(iso.parse("2014-03-01T12:00:00+00:00"), fromSeconds(1393675200));
    for (std::int64_t seconds : {0LL, 951782400LL, 1700000000LL, 4102444799LL}) {
        EXPECT_EQ(rfc.parse(rfc.format(fromSeconds(seconds))), fromSeconds(seconds)) << seconds;
        EXPECT_EQ(iso.parse(iso.format(fromSeconds(seconds))), fromSeconds(seconds)) << seconds;
    }
}

TEST(DateFormatter, DropsSubSecondPrecision) {
    DateFormatter formatter(kRfc822, "GMT", "en_US");
    EXPECT_EQ(formatter.format(fromSeconds(784111777) + 999ms), "Sun, 06 Nov 1994 08:49:37 GMT");
    // Before 1970 the fraction still belongs to the earlier second.
    EXPECT_EQ(formatter.format(fromSeconds(0) - 1ms), "Wed, 31 Dec 1969 23:59:59 GMT");
}

TEST(DateFormatter, RejectsGarbagePartialTextAndDaysThatDoNotExist) {
    DateFormatter rfc(kRfc822, "GMT", "en_US");
    EXPECT_FALSE(rfc.parse(""));
    EXPECT_FALSE(rfc.parse("yesterday"));
    EXPECT_FALSE(rfc.parse("Sun, 06 Nov 1994"));
    EXPECT_FALSE(rfc.parse("Sun, 06 Nov 1994 08:49:37 GMT trailing"));
    EXPECT_FALSE(rfc.parse("Sun, 06 Nov 1994 08:49:37 GMT "));
    EXPECT_FALSE(rfc.parse("Sun, 06 Nov 1994 08:49:37"));
    EXPECT_FALSE(rfc.parse("Sun, 06 Nov 1994 08:49:37 GM"));
    EXPECT_FALSE(rfc.parse("Sun, 06 Foo 1994 08:49:37 GMT"));
    DateFormatter iso(kIso8601, "GMT", "en_US");
    EXPECT_FALSE(iso.parse("2014-03-01T12:00:00"));
    EXPECT_FALSE(iso.parse("2014-03-01T12:00:00+00"));
    EXPECT_FALSE(iso.parse("2014-03-01 12:00:00+00:00"));
    EXPECT_FALSE(iso.parse("2014-13-01T12:00:00+00:00"));
    EXPECT_FALSE(iso.parse("2014-03-01T25:00:00+00:00"));
    EXPECT_FALSE(iso.parse("2013-02-29T00:00:00+00:00")); // no leap year
    EXPECT_FALSE(iso.parse("1900-02-29T00:00:00+00:00"));
    EXPECT_EQ(iso.parse("2000-02-29T00:00:00+00:00"), fromSeconds(951782400));
}

TEST(DateFormatter, HonoursTheTimeZoneAndRejectsAnUnknownOne) {
    DateFormatter paris("yyyy-MM-dd HH:mm", "Europe/Paris", "en_US");
    ASSERT_TRUE(paris.isValid());
    EXPECT_EQ(paris.format(fromSeconds(1393675200)), "2014-03-01 13:00");
    EXPECT_EQ(paris.parse("2014-03-01 13:00"), fromSeconds(1393675200));
    DateFormatter local("yyyy-MM-dd HH:mm:ss Z", "", "en_US"); // the system's zone
    ASSERT_TRUE(local.isValid());
    EXPECT_EQ(local.parse(local.format(fromSeconds(1393675200))), fromSeconds(1393675200));
    DateFormatter nowhere(kRfc822, "Nowhere/Atlantis", "en_US");
    EXPECT_FALSE(nowhere.isValid());
    EXPECT_EQ(nowhere.format(fromSeconds(0)), "");
    EXPECT_FALSE(nowhere.parse("Thu, 01 Jan 1970 00:00:00 GMT"));
}
