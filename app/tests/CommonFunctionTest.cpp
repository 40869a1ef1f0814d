#include "CommonFunction.h"

#include <gtest/gtest.h>

#include <chrono>
#include <limits>
#include <string>
#include <vector>

namespace lanyard {
namespace {

using namespace std::chrono_literals;
using Date = CommonFunction::Date;

Date localTime(const std::string& text) {
    const auto date = CommonFunction::dateFromString(text, "yyyy-MM-dd HH:mm:ss");
    EXPECT_TRUE(date.has_value()) << text;
    return date.value_or(Date{});
}

TEST(CommonFunctionDateTest, HourPatternIsTheTwelveHourClockAndParseRefusesWhatDoesNotMatch) {
    const Date afternoon = localTime("2024-03-05 15:04:05");
    EXPECT_EQ(CommonFunction::getStrTime(afternoon, "yyyy-MM-dd hh:mm:ss"), "2024-03-05 03:04:05");
    EXPECT_EQ(CommonFunction::getStrTime(afternoon, "yyyy-MM-dd HH:mm:ss"), "2024-03-05 15:04:05");
    EXPECT_EQ(CommonFunction::getStrTime(localTime("2024-03-05 00:30:00"), "hh:mm"), "12:30");
    for (const char* text : {"2024-13-01", "yesterday", "2024-01-01 extra"}) {
        EXPECT_EQ(CommonFunction::dateFromString(text, "yyyy-MM-dd"), std::nullopt) << text;
    }
}

TEST(CommonFunctionDateTest, SecondsSinceTheEpochAndNow) {
    // 2001-09-09 01:46:40 UTC is the same year and month in every time zone.
    EXPECT_EQ(CommonFunction::stringFromDouble("yyyy-MM", 1e9), "2001-09");
    const auto epoch = std::chrono::system_clock::from_time_t(1000000000);
    EXPECT_EQ(CommonFunction::stringFromDouble("yyyy-MM-dd HH:mm:ss", 1e9),
              CommonFunction::getStrTime(epoch, "yyyy-MM-dd HH:mm:ss"));
    EXPECT_EQ(CommonFunction::stringFromDouble("yyyy", std::numeric_limits<double>::infinity()), "");
    const std::string before =
        CommonFunction::getStrTime(std::chrono::system_clock::now(), "yyyy-MM-dd HH:mm");
    const std::string now = CommonFunction::getCurrentTime("yyyy-MM-dd HH:mm");
    const std::string after =
        CommonFunction::getStrTime(std::chrono::system_clock::now(), "yyyy-MM-dd HH:mm");
    EXPECT_TRUE(now == before || now == after) << now;
}

TEST(CommonFunctionDateTest, CalendarArithmeticAndDaysBetweenDates) {
    const Date start = localTime("2024-02-28 10:00:00");
    EXPECT_EQ(CommonFunction::getStrTime(CommonFunction::dateAfterDay(start, 1), "yyyy-MM-dd"), "2024-02-29");
    EXPECT_EQ(CommonFunction::getStrTime(CommonFunction::dateAfterDay(start, 2), "yyyy-MM-dd"), "2024-03-01");
    EXPECT_EQ(CommonFunction::getStrTime(CommonFunction::dateAfterDay(start, -28), "yyyy-MM-dd"),
              "2024-01-31");
    EXPECT_EQ(CommonFunction::dateAfterMin(start, 90) - start, 90min);
    EXPECT_EQ(CommonFunction::dateAfterSec(start, -45) - start, -45s);
    const Date precise = start + 123456789ns;
    EXPECT_EQ(CommonFunction::dateAfterSec(precise, 1) - precise, 1s);
    EXPECT_EQ(CommonFunction::daysAgo(start, CommonFunction::dateAfterDay(start, 5)), 5);
    EXPECT_EQ(CommonFunction::daysAgo(start, start + 23h), 0);
    EXPECT_EQ(CommonFunction::daysAgo(CommonFunction::dateAfterDay(start, 3), start), -3);
    const Date now = std::chrono::system_clock::now();
    EXPECT_EQ(CommonFunction::daysAgo(CommonFunction::dateAfterDay(now, -2)), 2);
}

TEST(CommonFunctionDateTest, DaysAgoAgainstMidnight) {
    const Date now = std::chrono::system_clock::now();
    const std::string today = CommonFunction::getStrTime(now, "yyyy-MM-dd");
    const auto midnight = CommonFunction::dateFromString(today, "yyyy-MM-dd");
    ASSERT_TRUE(midnight.has_value());
    EXPECT_EQ(CommonFunction::daysAgoAgainstMidnight(now), 0);
    EXPECT_EQ(CommonFunction::daysAgoAgainstMidnight(*midnight), 0);
    EXPECT_EQ(CommonFunction::daysAgoAgainstMidnight(*midnight - 1s), 1);
    EXPECT_EQ(CommonFunction::daysAgoAgainstMidnight(CommonFunction::dateAfterDay(now, -1)), 1);
    EXPECT_EQ(CommonFunction::daysAgoAgainstMidnight(CommonFunction::dateAfterDay(now, -3)), 3);
    EXPECT_LE(CommonFunction::daysAgoAgainstMidnight(CommonFunction::dateAfterDay(now, 1)), 0);
}

TEST(CommonFunctionValidatorTest, EdgeCases) {
    struct Case {
        const char* name;
        bool (*check)(const std::string&);
        std::vector<std::string> valid;
        std::vector<std::string> invalid;
    };
    const Case cases[] = {
        {"number",
         CommonFunction::isNumbericString,
         {"", "0", "12", "12.", ".5", "0.5", "10.25"},
         {"012", "-1", "1a", "1.2.3", " 1", "1e5"}},
        // The IP pattern counts digits only, anywhere in the text.
        {"IP",
         CommonFunction::isIPString,
         {"192.168.1.1", "server at 10.0.0.7 today", "999.999.999.999"},
         {"1.2.3", "1.2.3.4567"}},
        {"phone",
         CommonFunction::isPhoneNum,
         {"13812345678", "14412345678", "14312345678"},
         {"14512345678", "1381234567", "138123456789", "12812345678"}},
        {"transport", CommonFunction::isTranNum, {"C1234", "k12", "90"}, {"B12", "0123", "912345", "G"}},
        // The card pattern may match further on; the check then reads the first 18 characters.
        {"card",
         CommonFunction::isCardNum,
         {"11010519491231002X", "11010519491231002x", "440524188001010014"},
         {"110105194912310021", "440524188001010015", "11010519491231002", "", "!!11010519491231002X"}},
        {"email",
         CommonFunction::isEmail,
         {"a.b@c.com", "a_b-c@d.org", "user@mail.example.co", "\xC3\xBC@b.de"},
         {"a@b", "ab.com", "a@.com", "a..b@c.com", "a b@c.com", "a@b@c.com", "a@c.com.", "@c.com",
          "a+b@c.com"}},
        {"LAN interface",
         CommonFunction::isLanInterfaceName,
         {"en0", "en1", "enp3s0", "eno1", "eth0", "eth1", "wlan0", "wlp2s0"},
         {"lo", "docker0", "tun0", "veth1a2b", "br0", "virbr0", "e", ""}},
    };
    for (const auto& c : cases) {
        for (const auto& text : c.valid) {
            EXPECT_TRUE(c.check(text)) << c.name << ": " << text;
        }
        for (const auto& text : c.invalid) {
            EXPECT_FALSE(c.check(text)) << c.name << ": " << text;
        }
    }
}

TEST(CommonFunctionBase64Test, EncodeAndDecodeStrictly) {
    EXPECT_EQ(CommonFunction::encodeBase64String(std::string("Lanyard")), "TGFueWFyZA==");
    EXPECT_EQ(CommonFunction::encodeBase64String(std::string("\xC3\xA9")), "w6k=");
    EXPECT_EQ(CommonFunction::encodeBase64String(std::string()), "");
    EXPECT_EQ(CommonFunction::encodeBase64String(std::nullopt), std::nullopt);
    EXPECT_EQ(CommonFunction::decodeBase64String(std::string("TGFueWFyZA==")), "Lanyard");
    EXPECT_EQ(CommonFunction::decodeBase64String(std::string("w6k=")), "\xC3\xA9");
    EXPECT_EQ(CommonFunction::decodeBase64String(std::string()), "");
    EXPECT_EQ(CommonFunction::decodeBase64String(std::nullopt), std::nullopt);
    // 0xFF ("/w==") is not UTF-8.
    for (const char* text : {"TGFu eWFyZA==", "TGFueWFyZA==\n", "TGF*eWFyZA==", "/w=="}) {
        EXPECT_EQ(CommonFunction::decodeBase64String(std::string(text)), std::nullopt) << text;
    }
}

} // namespace
} // namespace lanyard
