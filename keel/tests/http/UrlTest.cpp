// URLs, percent-coding and queries: tables of edge cases, all-byte round trips, and every prefix
// and random mutations of the table's texts.
#include "HttpTestStreams.h"
#include "KL_HttpUrl.h"
#include "KL_UrlQuery.h"

#include <gtest/gtest.h>

#include <cstring>
#include <random>
#include <string>
#include <vector>

namespace {

struct ParseCase {
    const char* text;
    const char* scheme;
    const char* host;
    uint16_t port;
    const char* path;
    const char* query;    // null: no query
    const char* fragment; // null: no fragment
    bool valid;
    const char* http_string; // KL_HttpUrl::ToString(true)
};

const ParseCase kParseCases[] = {
    {"http://host", "http", "host", 80, "/", nullptr, nullptr, true, "http://host/"},
    {"https://host:8443/a?b#c", "https", "host", 8443, "/a", "b", "c", true, "https://host:8443/a?b#c"},
    {"http://host?x=1", "http", "host", 80, "", "x=1", nullptr, true, "http://host/?x=1"},
    {"http://host:/", "http", "host", 0, "/", nullptr, nullptr, false, "http://host:0/"},
    {"http://host:", "http", "host", 0, "/", nullptr, nullptr, false, "http://host:0/"},
    {"HTTP://Host/", "http", "Host", 80, "/", nullptr, nullptr, true, "http://Host/"},
    {"1a+b.c://h/", "1a+b.c", "h", 0, "/", nullptr, nullptr, true, "1a+b.c://h/"},
    {"http://h:443/#f?#g", "http", "h", 443, "/", nullptr, "f?#g", true, "http://h:443/#f?#g"},
    {"https://h:443/x?", "https", "h", 443, "/x", "", nullptr, true, "https://h/x?"},
    {"http:///p", "http", "", 80, "/p", nullptr, nullptr, false, "http:///p"},
    {"http://h:65535/a%20b", "http", "h", 65535, "/a%20b", nullptr, nullptr, true, "http://h:65535/a%20b"},
};

// Texts that are not URLs: KL_ERROR_INVALID_SYNTAX, and a constructed URL is reset.
const char* const kSyntaxErrors[] = {
    {"http://host:8080?x"},
    {"http://host:80#f"},
    {"http://host:70000/"},
    {"http://host:65536/"},
    {"http://host:8a/"},
    {"mailto:someone"},
    {"http:/x"},
    {"http"},
    {"ht tp://h/"},
    {""},
};

TEST(Url, ParseTable) {
    for (const ParseCase& c : kParseCases) {
        SCOPED_TRACE(c.text);
        KL_Url url;
        ASSERT_EQ(url.Parse(c.text, 0), KL_SUCCESS);
        EXPECT_STREQ(url.GetScheme().GetChars(), c.scheme);
        EXPECT_STREQ(url.GetHost().GetChars(), c.host);
        EXPECT_EQ(url.GetPort(), c.port);
        EXPECT_STREQ(url.GetPath().GetChars(), c.path);
        EXPECT_EQ(url.HasQuery(), c.query != nullptr);
        EXPECT_STREQ(url.GetQuery().GetChars(), c.query ? c.query : "");
        EXPECT_EQ(url.HasFragment(), c.fragment != nullptr);
        EXPECT_STREQ(url.GetFragment().GetChars(), c.fragment ? c.fragment : "");
        EXPECT_EQ(url.IsValid(), c.valid);
        EXPECT_STREQ(KL_HttpUrl(c.text, true).ToString(true).GetChars(), c.http_string);
    }
    for (const char* text : kSyntaxErrors) {
        SCOPED_TRACE(text);
        KL_Url url;
        EXPECT_EQ(url.Parse(text, 0), KL_ERROR_INVALID_SYNTAX);
        const KL_HttpUrl http(text, true);
        EXPECT_EQ(http.GetPort(), 0);
        EXPECT_TRUE(http.GetHost().IsEmpty());
        EXPECT_FALSE(KL_HttpUrl(text).IsValid());
    }
}

TEST(Url, NullTextAndSchemeChecks) {
    KL_Url url;
    EXPECT_EQ(url.Parse(nullptr, 0), KL_ERROR_INVALID_PARAMETERS);
    EXPECT_EQ(url.SetPathQueryFragment(nullptr), KL_ERROR_INVALID_PARAMETERS);
    EXPECT_EQ(KL_Uri::GetSchemeId("HTTP"), KL_Uri::SCHEME_ID_UNKNOWN); // exact comparison
    EXPECT_EQ(KL_Uri::GetSchemeId("https"), KL_Uri::SCHEME_ID_HTTPS);
    EXPECT_FALSE(KL_HttpUrl("ftp://h/x").IsValid()); // another scheme is reset
    EXPECT_TRUE(KL_HttpUrl("ftp://h/x", true).IsValid());
    EXPECT_EQ(KL_Url("http://h:99/", 8080).GetPort(), 99);
    EXPECT_EQ(KL_Url("ftp://h/", 21).GetPort(), 21);
}

TEST(Url, StringForms) {
    const KL_HttpUrl url("https://host:8443/a?b#c");
    EXPECT_STREQ(url.ToString(false).GetChars(), "https://host:8443/a?b");
    EXPECT_STREQ(url.ToString(true).GetChars(), "https://host:8443/a?b#c");
    EXPECT_STREQ(KL_HttpUrl("http://host").ToRequestString().GetChars(), "/");
    EXPECT_STREQ(KL_HttpUrl("http://host?x=1").ToRequestString().GetChars(), "/?x=1");
    EXPECT_STREQ(KL_Url("http://host/p", 0).ToString().GetChars(), "http://host:80/p");
    const KL_HttpUrl parts("h", 8080, "/a b", "q", "");
    EXPECT_STREQ(parts.ToString(true).GetChars(), "http://h:8080/a b?q#");
    EXPECT_STREQ(KL_HttpUrl("h", 80, "/", nullptr, nullptr).ToString(true).GetChars(), "http://h/");
}

struct SetterCase {
    const char* what;
    void (*apply)(KL_Url&);
    const char* request_string; // ToRequestString(true)
};

const SetterCase kSetterCases[] = {
    {"path escaped", [](KL_Url& u) { u.SetPath("/a b%"); }, "/a%20b%25"},
    {"path as given", [](KL_Url& u) { u.SetPath("/a b%", true); }, "/a b%"},
    {"path set", [](KL_Url& u) { u.SetPath("/ !\"<>\\^`{|}?#[]~"); },
     "/%20%21%22%3C%3E%5C%5E%60%7B%7C%7D%3F%23%5B%5D~"},
    {"empty query has none", [](KL_Url& u) { u.SetQuery(""); }, "/p"},
    {"query keeps ?", [](KL_Url& u) { u.SetQuery("a=?#"); }, "/p?a=?%23"},
    {"empty fragment", [](KL_Url& u) { u.SetFragment(""); }, "/p#"},
    {"fragment keeps #", [](KL_Url& u) { u.SetFragment("x#y z"); }, "/p#x#y%20z"},
    {"null fragment", [](KL_Url& u) { u.SetFragment(nullptr); }, "/p"},
};

TEST(Url, SettersTable) {
    for (const SetterCase& c : kSetterCases) {
        SCOPED_TRACE(c.what);
        KL_Url url("http://h/p", 0);
        c.apply(url);
        EXPECT_STREQ(url.ToRequestString(true).GetChars(), c.request_string);
    }
}

TEST(Url, SetHostTable) {
    const struct {
        const char* text;
        const char* host;
        uint16_t port;
    } cases[] = {
        {"h:81", "h", 81},   {"h:x", "h", 7}, {"h", "h", 7},     {"h:", "h", 7}, {"h:+5", "h", 7},
        {"h:70000", "h", 7}, {"h:0", "h", 0}, {"a:1:2", "a", 7}, {":9", "", 9},  {"h:4294967296", "h", 7},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.text);
        KL_Url url("http://old:7/", 0);
        EXPECT_EQ(url.SetHost(c.text), KL_SUCCESS);
        EXPECT_STREQ(url.GetHost().GetChars(), c.host);
        EXPECT_EQ(url.GetPort(), c.port);
    }
}

// Every byte but NUL, alone and all together, through each set: escaped exactly when it is a
// control byte, above 0x7E, "%" (when asked) or in the set; decoding gives the byte back.
TEST(Url, PercentCodingOfEveryByte) {
    const char* sets[] = {KL_Uri::PathCharsToEncode, KL_Uri::QueryCharsToEncode,
                          KL_Uri::FragmentCharsToEncode, KL_Uri::QueryFieldCharsToEncode};
    EXPECT_EQ(std::strlen(sets[0]), 15u);
    EXPECT_EQ(std::strlen(sets[1]), 14u);
    EXPECT_EQ(std::strlen(sets[2]), 13u);
    EXPECT_EQ(std::strlen(sets[3]), 20u);
    for (const char* set : sets) {
        std::string all;
        for (int b = 1; b < 256; ++b) {
            const char text[2] = {static_cast<char>(b), 0};
            all += text[0];
            const bool escaped = b < 0x20 || b > 0x7E || b == '%' || std::strchr(set, b) != nullptr;
            const KL_String encoded = KL_Uri::PercentEncode(text, set, true);
            char expected[4];
            std::snprintf(expected, sizeof expected, "%%%02X", b);
            EXPECT_STREQ(encoded.GetChars(), escaped ? expected : text) << "byte " << b;
            EXPECT_STREQ(KL_Uri::PercentDecode(encoded.GetChars()).GetChars(), text) << "byte " << b;
        }
        EXPECT_STREQ(
            KL_Uri::PercentDecode(KL_Uri::PercentEncode(all.c_str(), set, true).GetChars()).GetChars(),
            all.c_str());
        const std::string field = KL_UrlQuery::UrlEncode(all.c_str(), true).GetChars();
        EXPECT_EQ(field.find(' '), std::string::npos);
        EXPECT_STREQ(KL_UrlQuery::UrlDecode(field.c_str()).GetChars(), all.c_str());
    }
}

TEST(Url, PercentCodingEdges) {
    EXPECT_STREQ(KL_Uri::PercentDecode("%4a%zz%").GetChars(), "J%zz%");
    EXPECT_STREQ(KL_Uri::PercentDecode("%4").GetChars(), "%4");
    EXPECT_STREQ(KL_Uri::PercentEncode("50%", KL_Uri::PathCharsToEncode, false).GetChars(), "50%");
    EXPECT_STREQ(KL_Uri::PercentEncode(nullptr, KL_Uri::PathCharsToEncode).GetChars(), "");
    EXPECT_STREQ(KL_Uri::PercentDecode(nullptr).GetChars(), "");
    const KL_String cut = KL_Uri::PercentDecode("a%00b");
    EXPECT_EQ(cut.GetLength(), 3u); // the NUL is stored, and ends the text
    EXPECT_STREQ(cut.GetChars(), "a");
    EXPECT_STREQ(KL_UrlQuery::UrlEncode("a b+c", true).GetChars(), "a+b%2Bc");
    EXPECT_STREQ(KL_UrlQuery::UrlDecode("a+b%2Bc").GetChars(), "a b+c");
}

TEST(UrlQuery, ParseAndFields) {
    KL_UrlQuery query("a=1&b&=x&c=2=3&&d=");
    EXPECT_STREQ(query.ToString().GetChars(), "a=1&b=&c=2=3&d=");
    EXPECT_STREQ(query.GetField("a"), "1");
    EXPECT_STREQ(query.GetField("b"), "");
    EXPECT_STREQ(query.GetField("c"), "2=3");
    EXPECT_EQ(query.GetField("x"), nullptr);
    EXPECT_EQ(query.GetField("A"), nullptr); // names compare case-sensitively

    query.Clear();
    query.AddField("k y", "v&w");
    query.AddField("k y", "second");
    query.SetField("k y", "first");
    query.SetField("new", "1 2", false);
    query.SetField("raw%20", "%41", true);
    EXPECT_STREQ(query.ToString().GetChars(), "k+y=first&k+y=second&new=1+2&raw%20=%41");
    EXPECT_STREQ(query.GetField("k y"), "first");
    EXPECT_STREQ(KL_UrlQuery("").ToString().GetChars(), "");
}

// Prefixes and random byte mutations of the table's texts: only the parser's codes, and what
// parses as a valid URL is written back as a text that parses again.
TEST(Url, PrefixesAndMutationsParseSafely) {
    const unsigned seed = http_test::TestSeed("url mutation");
    std::mt19937 random(seed);
    auto check = [](const std::string& text) {
        KL_Url url;
        const KL_Result result = url.Parse(text.c_str(), 0);
        ASSERT_TRUE(result == KL_SUCCESS || result == KL_ERROR_INVALID_SYNTAX) << text;
        if (result == KL_SUCCESS && url.IsValid() && url.GetPort() != 0) {
            KL_Url again;
            EXPECT_EQ(again.Parse(url.ToString(true).GetChars(), 0), KL_SUCCESS) << text;
        }
    };
    std::vector<std::string> texts(std::begin(kSyntaxErrors), std::end(kSyntaxErrors));
    for (const ParseCase& c : kParseCases) {
        texts.push_back(c.text);
    }
    for (const std::string& text : texts) {
        for (size_t n = 0; n <= text.size(); ++n) {
            check(text.substr(0, n));
        }
        for (int i = 0; i < 300 && !text.empty(); ++i) {
            std::string mutated = text;
            const int edits = 1 + static_cast<int>(random() % 3);
            for (int e = 0; e < edits; ++e) {
                const size_t at = random() % mutated.size();
                mutated[at] = static_cast<char>(1 + random() % 255);
            }
            check(mutated);
        }
    }
}

} // namespace
