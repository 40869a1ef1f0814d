// The server functions: forms, header values, URL unescaping, dates and MD5.

#include "WebServerFunctions.h"

#include <gtest/gtest.h>

#include <chrono>
#include <utility>
#include <vector>

namespace {

Date at(long long seconds) {
    return Date(std::chrono::seconds(seconds));
}

} // namespace

TEST(CoreFunctions, ParseURLEncodedForm) {
    const struct {
        const char* form;
        QueryDictionary expected;
    } cases[] = {
        {"a=1+2&b=%41&a=3", {{"a", "3"}, {"b", "A"}}}, // the later duplicate wins
        {"a=1+2&b=%41", {{"a", "1 2"}, {"b", "A"}}},   // "+" is a blank
        {"first+name=J%C3%A9r%C3%B4me", {{"first name", "Jérôme"}}},
        {"a=%ZZ&b=1", {{"b", "1"}}}, // pairs that do not unescape are dropped
        {"%ZZ=1&b=2", {{"b", "2"}}},
        {"a=%FF&b=2", {{"b", "2"}}},
        {"a=1&b", {{"a", "1"}}}, // a trailing key without value is dropped
        {"a", {}},
        {"a=&b=2", {{"a", ""}, {"b", "2"}}},
        {"a=1&b=", {{"a", "1"}, {"b", ""}}},
        {"", {}}, // without a first key the form is empty
        {"=x", {}},
        {"=x&a=1", {}},
    };
    for (const auto& c : cases) {
        EXPECT_EQ(ParseURLEncodedForm(c.form), c.expected) << c.form;
    }
}

TEST(CoreFunctions, NormalizeLowersOnlyTheFirstPart) {
    EXPECT_EQ(NormalizeHeaderValue(std::string("Text/HTML; Charset=UTF-8")), "text/html; Charset=UTF-8");
    EXPECT_EQ(NormalizeHeaderValue(std::string("APPLICATION/JSON")), "application/json");
    EXPECT_EQ(NormalizeHeaderValue(std::string("")), "");
    EXPECT_EQ(NormalizeHeaderValue(std::optional<std::string>()), std::nullopt);
    EXPECT_EQ(NormalizeHeaderValue(std::optional<std::string>("A;B;C")), std::optional<std::string>("a;B;C"));
}

TEST(CoreFunctions, ExtractHeaderValueParameter) {
    const std::string digest = "Digest username=\"user\", realm=\"The Realm\", nonce=\"abc123\", uri=\"/a "
                               "b?x=1\", response=\"ff00\"";
    const struct {
        std::string value, name;
        std::optional<std::string> expected;
    } cases[] = {
        {"multipart/form-data; boundary=\"a b;c\"", "boundary", "a b;c"},
        {"multipart/form-data; boundary=xyz123", "boundary", "xyz123"},
        {"text/plain; charset=utf-8 trailing", "charset", "utf-8"},
        {"text/plain; CHARSET=Latin1", "charset", "Latin1"}, // names in any case
        {"text/plain; charset=x", "CharSet", "x"},
        {"text/plain", "charset", std::nullopt}, // absent, without value or leading
        {"text/plain; charset", "charset", std::nullopt},
        {"charset=utf-8", "charset", std::nullopt},
        {digest, "username", "user"},
        {digest, "realm", "The Realm"},
        {digest, "nonce", "abc123"},
        {digest, "uri", "/a b?x=1"},
        {digest, "response", "ff00"},
    };
    for (const auto& c : cases) {
        EXPECT_EQ(ExtractHeaderValueParameter(c.value, c.name), c.expected) << c.value << " / " << c.name;
    }
}

TEST(CoreFunctions, UnescapeURLString) {
    EXPECT_EQ(UnescapeURLString("a%20b"), std::optional<std::string>("a b"));
    EXPECT_EQ(UnescapeURLString("%41%62c"), std::optional<std::string>("Abc"));
    EXPECT_EQ(UnescapeURLString("caf%C3%A9"), std::optional<std::string>("café"));
    EXPECT_EQ(UnescapeURLString("%F0%9F%98%80"), std::optional<std::string>("\xF0\x9F\x98\x80"));
    EXPECT_EQ(UnescapeURLString("a+b"), std::optional<std::string>("a+b"));
    EXPECT_EQ(UnescapeURLString(""), std::optional<std::string>(""));
    EXPECT_EQ(UnescapeURLString("%25"), std::optional<std::string>("%"));
    // Invalid escapes; then a lone continuation byte, a truncated sequence, an overlong "/", a
    // surrogate and a code point beyond U+10FFFF.
    for (const std::string text : {"%", "%4", "abc%", "%zz", "%g1", "%-1", "a%2", "%80", "%FF", "%C3",
                                   "%C3%28", "%C0%AF", "%E0%80%AF", "%ED%A0%80", "%F4%90%80%80"}) {
        EXPECT_EQ(UnescapeURLString(text), std::nullopt) << text;
    }
}

TEST(CoreFunctions, FormatAndParseRFC822) {
    EXPECT_EQ(FormatRFC822Date(at(784111777)), "Sun, 06 Nov 1994 08:49:37 GMT");
    EXPECT_EQ(FormatRFC822Date(at(0)), "Thu, 01 Jan 1970 00:00:00 GMT");
    EXPECT_EQ(FormatRFC822Date(at(1577880000)), "Wed, 01 Jan 2020 12:00:00 GMT");
    // Fractions of a second are not written.
    EXPECT_EQ(FormatRFC822Date(at(784111777) + std::chrono::milliseconds(900)),
              "Sun, 06 Nov 1994 08:49:37 GMT");
    EXPECT_EQ(ParseRFC822Date("Sun, 06 Nov 1994 08:49:37 GMT"), std::optional<Date>(at(784111777)));
    EXPECT_EQ(ParseRFC822Date("Wed, 01 Jan 2020 12:00:00 GMT"), std::optional<Date>(at(1577880000)));
    EXPECT_EQ(ParseRFC822Date(""), std::nullopt);
    EXPECT_EQ(ParseRFC822Date("yesterday"), std::nullopt);
    EXPECT_EQ(ParseRFC822Date("1994-11-06T08:49:37+00:00"), std::nullopt);
    // Years the clock cannot hold are unparseable, not overflowed.
    EXPECT_EQ(ParseRFC822Date("Sun, 06 Nov 3988 08:49:37 GMT"), std::nullopt);
    EXPECT_EQ(ParseRFC822Date("Sun, 06 Nov 9999 08:49:37 GMT"), std::nullopt);
    EXPECT_EQ(ParseRFC822Date("Sun, 06 Nov 0001 08:49:37 GMT"), std::nullopt);
    EXPECT_EQ(ParseISO8601Date("3988-11-06T08:49:37+00:00"), std::nullopt);
    for (long long seconds : {0LL, 951782400LL, 1700000000LL, 2147483647LL, 4102444799LL}) {
        EXPECT_EQ(ParseRFC822Date(FormatRFC822Date(at(seconds))), std::optional<Date>(at(seconds)))
            << seconds;
    }
}

// Conditional headers may carry a date in any of the three forms of RFC 9110 §5.6.7.
TEST(CoreFunctions, ParseHTTPDateReadsAllThreeForms) {
    const std::optional<Date> sunday(at(784111777)); // Sun, 06 Nov 1994 08:49:37 GMT
    for (const auto& [text, date] : std::vector<std::pair<std::string, std::optional<Date>>>{
             {"Sun, 06 Nov 1994 08:49:37 GMT", sunday},
             {"Sunday, 06-Nov-94 08:49:37 GMT", sunday},
             {"Sun Nov  6 08:49:37 1994", sunday},
             {"Sun Nov 06 08:49:37 1994", sunday},
             {"Thursday, 01-Jan-70 00:00:00 GMT", std::optional<Date>(at(3155760000))}, // 2070
             {"Sat, 29 Feb 2020 00:00:00 GMT", std::optional<Date>(at(1582934400))},
             {"Tue, 29 Feb 2000 00:00:00 GMT", std::optional<Date>(at(951782400))}, // every 400 years
             {"Mon, 29 Feb 2021 00:00:00 GMT", std::nullopt},
             {"Thu, 29 Feb 1900 00:00:00 GMT", std::nullopt}, // not every 100 years
             {"Sunday, 06-Nov-1994 08:49:37 GMT", std::nullopt},
             {"Sun, 06-Nov-94 08:49:37 GMT", std::nullopt},
             {"Someday, 06-Nov-94 08:49:37 GMT", std::nullopt},
             {"Sunday, 06-Nov-94 08:49:37", std::nullopt},
             {"Sun Nov 6 08:49:37 1994", std::nullopt},
             {"Sun Nov  6 08:49:37 1994 GMT", std::nullopt},
             {"Sun Nov  6 08:49 1994", std::nullopt},
             {"Sun Nov 31 08:49:37 1994", std::nullopt},
             {"", std::nullopt},
         }) {
        EXPECT_EQ(ParseHTTPDate(text), date) << text;
    }
}

// A two-digit year lies at most 50 years ahead (RFC 9110 §5.6.7), whichever year it is now.
TEST(CoreFunctions, TwoDigitYearsLieAtMostFiftyYearsAhead) {
    using namespace std::chrono;
    const int now = static_cast<int>(year_month_day(floor<days>(system_clock::now())).year());
    for (const int year : {now + 50, now + 49, now, now - 1, now - 49}) {
        const int twoDigits = year % 100;
        const std::string text = std::string("Monday, 01-Jan-") + char('0' + twoDigits / 10) +
                                 char('0' + twoDigits % 10) + " 00:00:00 GMT";
        const auto date = ParseHTTPDate(text);
        ASSERT_TRUE(date) << text;
        EXPECT_EQ(static_cast<int>(year_month_day(floor<days>(*date)).year()), year) << text;
    }
}

// RFC 9110 §8.8.3.2: strong comparison refuses weak tags; weak compares the opaque parts.
TEST(CoreFunctions, EntityTagListsAsClientsWriteThem) {
    struct Row {
        const char* list;
        bool strong;
        bool weak;
    };
    for (const Row& row : {
             Row{"1/2/3", true, true},
             Row{"\"1/2/3\"", true, true},
             Row{"W/\"1/2/3\"", false, true},
             Row{"W/1/2/3", false, true},
             Row{"\"x\", \"1/2/3\"", true, true},
             Row{"\"x\",1/2/3", true, true},
             Row{" \"x\" ,\t\"1/2/3\" ", true, true},
             Row{"\"a,b\", \"1/2/3\"", true, true},
             Row{"\"x,1/2/3,y\"", false, false}, // one tag: a comma inside quotes splits nothing
             Row{"\"1/2/3", false, false},
             Row{"\"1/2/4\"", false, false},
             Row{"\"1/2/3\"x", false, false},
             Row{"*", false, false},
             Row{"", false, false},
             Row{"\"\"", false, false},
         }) {
        EXPECT_EQ(EntityTagListMatches(row.list, "1/2/3", true), row.strong) << row.list;
        EXPECT_EQ(EntityTagListMatches(row.list, "1/2/3", false), row.weak) << row.list;
    }
    EXPECT_TRUE(IsAnyEntityTag(" * "));
    EXPECT_FALSE(IsAnyEntityTag("\"*\""));
}

TEST(CoreFunctions, MD5HexOfFormatKnownValues) {
    EXPECT_EQ(MD5HexOfFormat("", {}), "d41d8cd98f00b204e9800998ecf8427e");
    EXPECT_EQ(MD5HexOfFormat("%@:%@", {"a", "b"}), "d8160c9b3dc20d4e931aeb4f45262155");
    // The Digest examples of RFC 2617.
    EXPECT_EQ(MD5HexOfFormat("%@:%@:%@", {"Mufasa", "testrealm@host.com", "Circle Of Life"}),
              "939e7578ed9e3c518a452acee763bce9");
    EXPECT_EQ(MD5HexOfFormat("%@:%@", {"GET", "/dir/index.html"}), "39aff3a2bab6126f332b942af96d3366");
}
