// KL_DateTime::FromString: each form's accepted texts, its errors, the zone table of the RFC
// forms, and hostile input (every prefix, random mutations).
#include "KL_DateTime.h"

#include <gtest/gtest.h>

#include <cstdio>
#include <random>
#include <string>

namespace {

struct ParseCase {
    KL_DateTime::Format format;
    const char* text;
    KL_Result result;
    int64_t seconds; // since 1970, when the result is success
};

constexpr KL_DateTime::Format ANSI = KL_DateTime::FORMAT_ANSI;
constexpr KL_DateTime::Format W3C = KL_DateTime::FORMAT_W3C;
constexpr KL_DateTime::Format RFC1123 = KL_DateTime::FORMAT_RFC_1123;
constexpr KL_DateTime::Format RFC1036 = KL_DateTime::FORMAT_RFC_1036;

const ParseCase kCases[] = {
    // asctime
    {ANSI, "Thu Jan  1 00:00:00 1970", KL_SUCCESS, 0},
    {ANSI, "Wed Jan 01 00:00:00 2200", KL_SUCCESS, 7258118400},
    {ANSI, "Sun Nov  6 08:49:37 1994", KL_SUCCESS, 784111777},
    {ANSI, "Mon Nov  6 08:49:37 1994", KL_ERROR_INVALID_PARAMETERS, 0},
    {ANSI, "Xyz Nov  6 08:49:37 1994", KL_ERROR_INVALID_PARAMETERS, 0},
    {ANSI, "Sun Nox  6 08:49:37 1994", KL_ERROR_OUT_OF_RANGE, 0},
    {ANSI, "Sun Nov  6 08:49:37 1994 ", KL_ERROR_INVALID_SYNTAX, 0},
    {ANSI, "Sun Nov  6 08-49:37 1994", KL_ERROR_INVALID_SYNTAX, 0},
    {ANSI, "Sun Nov  6 08:4x:37 1994", KL_ERROR_INVALID_PARAMETERS, 0},
    {ANSI, "Sun Nov  6 24:49:37 1994", KL_ERROR_OUT_OF_RANGE, 0},
    // W3C
    {W3C, "1994-11-06T08:49:37Z", KL_SUCCESS, 784111777},
    {W3C, "1994-11-06T08:49Z", KL_SUCCESS, 784111740},
    {W3C, "1994-11-06T10:19:37+01:30", KL_SUCCESS, 784111777},
    {W3C, "1994-11-06T03:19:37-05:30", KL_SUCCESS, 784111777},
    {W3C, "1994-11-06T08:49:37.5Z", KL_SUCCESS, 784111777},
    {W3C, "1994-11-06T08:49:37", KL_ERROR_INVALID_SYNTAX, 0},
    {W3C, "1994-11-06T08:49:37.Z", KL_ERROR_INVALID_SYNTAX, 0},
    {W3C, "1994-11-06T08:49:37+0100", KL_ERROR_INVALID_SYNTAX, 0},
    {W3C, "1994-11-06T08:49:37+01-00", KL_ERROR_INVALID_SYNTAX, 0},
    {W3C, "1994-11-06T08:49:37+60:00", KL_ERROR_INVALID_SYNTAX, 0},
    {W3C, "1994-11-06T08:49:37+12:01", KL_ERROR_OUT_OF_RANGE, 0},
    {W3C, "1994-11-06T08:49:37junkZ", KL_ERROR_INVALID_SYNTAX, 0},
    {W3C, "1994-11-06 08:49:37Z", KL_ERROR_INVALID_SYNTAX, 0},
    {W3C, "1994/11/06", KL_ERROR_INVALID_SYNTAX, 0},
    {W3C, "1994-11-06T08", KL_ERROR_INVALID_SYNTAX, 0},
    {W3C, "1994-13-06", KL_ERROR_OUT_OF_RANGE, 0},
    {W3C, "1994-1x-06", KL_ERROR_INVALID_PARAMETERS, 0},
    // RFC 1123 and RFC 1036, each width of year in each form
    {RFC1123, "Sun, 06 Nov 1994 08:49:37 GMT", KL_SUCCESS, 784111777},
    {RFC1123, "Sun, 06 Nov 94 08:49:37 GMT", KL_SUCCESS, 784111777},
    {RFC1123, "Wed, 01 Jan 2200 00:00:00 GMT", KL_SUCCESS, 7258118400},
    {RFC1123, "Sun, 06 Nov 1994 10:19:37 +0130", KL_SUCCESS, 784111777},
    {RFC1123, "Sun, 06 Nov 1994 03:49:37 EST", KL_SUCCESS, 784111777},
    {RFC1123, "Thu, 02 Jan 1970 00:00:00 GMT", KL_ERROR_INVALID_PARAMETERS, 0},
    {RFC1123, "Sunday, 06 Nov 1994 08:49:37 GMT", KL_ERROR_INVALID_PARAMETERS, 0},
    {RFC1123, "Sun, 06-Nov-1994 08:49:37 GMT", KL_ERROR_INVALID_SYNTAX, 0},
    {RFC1123, "Sun, 06 Nov 1994 08:49:37 XYZ", KL_ERROR_INVALID_SYNTAX, 0},
    {RFC1123, "Sun, 06 Nov 1994 08:49:37  GMT", KL_ERROR_INVALID_SYNTAX, 0},
    {RFC1123, "Sun 06 Nov 1994 08:49:37 GMT", KL_ERROR_INVALID_SYNTAX, 0},
    {RFC1123, "Sun, 06 Nov 1994 08.49.37 GMT", KL_ERROR_INVALID_SYNTAX, 0},
    {RFC1123, "Sun, 06 Nov 00 08:49:37 GMT", KL_ERROR_OUT_OF_RANGE, 0},
    {RFC1036, "Sunday, 06-Nov-94 08:49:37 GMT", KL_SUCCESS, 784111777},
    {RFC1036, "Sunday, 06-Nov-1994 08:49:37 GMT", KL_SUCCESS, 784111777},
    {RFC1036, "Sun, 06-Nov-94 08:49:37 GMT", KL_ERROR_INVALID_PARAMETERS, 0},
    {RFC1036, "Sunday, 06 Nov 94 08:49:37 GMT", KL_ERROR_INVALID_SYNTAX, 0},
    // every form
    {ANSI, "", KL_ERROR_INVALID_PARAMETERS, 0},
    {W3C, "", KL_ERROR_INVALID_PARAMETERS, 0},
    {RFC1123, "", KL_ERROR_INVALID_PARAMETERS, 0},
    {static_cast<KL_DateTime::Format>(7), "1994-11-06", KL_ERROR_INVALID_PARAMETERS, 0},
};

std::string Describe(const KL_DateTime& date) {
    return date.ToString(W3C, 3).GetChars();
}

} // namespace

TEST(DateTimeParse, Table) {
    for (const auto& c : kCases) {
        KL_DateTime date;
        EXPECT_EQ(date.FromString(c.text, c.format), c.result) << c.format << " '" << c.text << "'";
        if (c.result == KL_SUCCESS) {
            KL_TimeStamp stamp;
            EXPECT_EQ(date.ToTimeStamp(stamp), KL_SUCCESS);
            EXPECT_EQ(stamp.ToSeconds(), c.seconds) << c.text;
        } else {
            EXPECT_EQ(date, KL_DateTime()) << "a failed parse changed the date: " << c.text;
        }
    }
    KL_DateTime date;
    EXPECT_EQ(date.FromString(nullptr, W3C), KL_ERROR_INVALID_PARAMETERS);
}

TEST(DateTimeParse, W3cKeepsWhatTheTextDoesNotSay) {
    KL_DateTime date;
    date.m_Hours = 5;
    date.m_Minutes = 6;
    date.m_Seconds = 7;
    date.m_NanoSeconds = 8;
    date.m_TimeZone = -60;
    ASSERT_EQ(date.FromString("2001-02-03", W3C), KL_SUCCESS);
    EXPECT_EQ(Describe(date), "2001-02-03T05:06:07.000000008-01:00");
    // Without a zone designator the zone stays; seconds and fraction do not.
    ASSERT_EQ(date.FromString("2001-02-03T10:11:12.5", W3C), KL_SUCCESS);
    EXPECT_EQ(Describe(date), "2001-02-03T10:11:12.500000000-01:00");
    ASSERT_EQ(date.FromString("2001-02-03T10:11-02:00", W3C), KL_SUCCESS);
    EXPECT_EQ(Describe(date), "2001-02-03T10:11:00.000000000-02:00");
    ASSERT_EQ(date.FromString("2001-02-03T10:11:12.1234567891234Z", W3C), KL_SUCCESS);
    EXPECT_EQ(Describe(date), "2001-02-03T10:11:12.123456789Z");
}

TEST(DateTimeParse, RfcZoneTable) {
    const struct {
        const char* zone;
        int32_t minutes;
    } zones[] = {{"GMT", 0},      {"UT", 0},     {"Z", 0},       {"EDT", -240}, {"EST", -300}, {"CDT", -300},
                 {"CST", -360},   {"MDT", -360}, {"MST", -420},  {"PDT", -420}, {"PST", -480}, {"A", -60},
                 {"I", -540},     {"K", -600},   {"M", -720},    {"N", 60},     {"Y", 720},    {"+0130", 90},
                 {"-0530", -330}, {"+0000", 0},  {"-1200", -720}};
    for (const auto& z : zones) {
        std::string text = std::string("Sun, 06 Nov 1994 08:49:37 ") + z.zone;
        KL_DateTime date;
        ASSERT_EQ(date.FromString(text.c_str(), RFC1123), KL_SUCCESS) << text;
        EXPECT_EQ(date.m_TimeZone, z.minutes) << text;
    }
    const char* refused[] = {"J", "a", "gmt", "+6000", "+0160", "+013", "0130+", "+01:30", "UTC", "--130"};
    for (const char* zone : refused) {
        std::string text = std::string("Sun, 06 Nov 1994 08:49:37 ") + zone;
        KL_DateTime date;
        EXPECT_EQ(date.FromString(text.c_str(), RFC1123), KL_ERROR_INVALID_SYNTAX) << text;
    }
    // Syntactically fine but beyond twelve hours: the date is refused by validation.
    KL_DateTime date;
    EXPECT_EQ(date.FromString("Sun, 06 Nov 1994 08:49:37 +1300", RFC1123), KL_ERROR_OUT_OF_RANGE);
}

// Every prefix and thousands of random mutations of valid texts give a code and, when they
// succeed, a valid date.
TEST(DateTimeParse, HostileInputGivesACode) {
    const struct {
        KL_DateTime::Format format;
        const char* text;
    } valid[] = {{ANSI, "Sun Nov  6 08:49:37 1994"},
                 {W3C, "1994-11-06T08:49:37.123456789+01:30"},
                 {W3C, "1994-11-06T08:49Z"},
                 {RFC1123, "Sun, 06 Nov 1994 08:49:37 GMT"},
                 {RFC1036, "Sunday, 06-Nov-94 08:49:37 -0530"}};
    auto check = [](KL_DateTime::Format format, const std::string& text) {
        KL_DateTime date;
        KL_Result result = date.FromString(text.c_str(), format);
        if (result == KL_SUCCESS) {
            EXPECT_EQ(date.Validate(), KL_SUCCESS) << text;
        } else {
            EXPECT_LT(result, 0);
        }
    };
    for (const auto& v : valid) {
        std::string text = v.text;
        for (size_t length = 0; length <= text.size(); ++length) {
            check(v.format, text.substr(0, length));
        }
    }
    unsigned seed = std::random_device{}();
    std::printf("mutation seed %u\n", seed);
    std::mt19937 random(seed);
    const char alphabet[] = "0123456789 :-+.,TZGMTabcXYZ\xff\t";
    for (int i = 0; i < 10000; ++i) {
        const auto& v = valid[random() % (sizeof valid / sizeof valid[0])];
        std::string text = v.text;
        int edits = 1 + static_cast<int>(random() % 4);
        for (int e = 0; e < edits && !text.empty(); ++e) {
            size_t at = random() % text.size();
            char c = alphabet[random() % (sizeof alphabet - 1)];
            switch (random() % 3) {
            case 0:
                text[at] = c;
                break;
            case 1:
                text.insert(at, 1, c);
                break;
            default:
                text.erase(at, 1);
                break;
            }
        }
        check(v.format, text);
        if (HasFailure()) {
            std::printf("failed on '%s' (seed %u)\n", text.c_str(), seed);
            return;
        }
    }
}
