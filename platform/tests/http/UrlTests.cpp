#include "foundation/Url.h"

#include <gtest/gtest.h>

#include <optional>
#include <string>
#include <utility>
#include <vector>

using platform::Url;

namespace {

struct Parts {
    std::string text; // the URL, or the request target for Url::fromRequestTarget
    std::string scheme;
    std::string host;
    int port;
    std::string path;
    std::optional<std::string> query;
    std::optional<std::string> fragment;
};

void expectParts(const std::optional<Url>& url, const Parts& expected) {
    ASSERT_TRUE(url.has_value());
    EXPECT_EQ(url->scheme(), expected.scheme);
    EXPECT_EQ(url->host(), expected.host);
    EXPECT_EQ(url->port(), expected.port);
    EXPECT_EQ(url->path(), expected.path);
    EXPECT_EQ(url->query(), expected.query);
    EXPECT_EQ(url->fragment(), expected.fragment);
}

} // namespace

TEST(Url, ParsesEveryPart) {
    const std::optional<std::string> none;
    const Parts cases[] = {
        {"HTTPS://user:pw@Media.Example:8443/a/b%2Fc/?x=1&y=%20#frag", "https", "Media.Example", 8443,
         "/a/b%2Fc/", "x=1&y=%20", "frag"},
        {"http://host", "http", "host", -1, "/", none, none}, // only an authority: the path is "/"
        {"http://host?a=b", "http", "host", -1, "/", "a=b", none},
        {"http://host:80#top", "http", "host", 80, "/", none, "top"},
        {"http://h/p?", "http", "h", -1, "/p", "", none}, // an empty query is not none
        {"http://h/p#a?b", "http", "h", -1, "/p", none, "a?b"},
        {"http://[fe80::1:2]:9000/x", "http", "fe80::1:2", 9000, "/x", none, none},
        {"http://[::ffff:10.0.0.1]", "http", "::ffff:10.0.0.1", -1, "/", none, none},
        {"ftp://anon@files.lan:21/pub", "ftp", "files.lan", 21, "/pub", none, none},
        {"http://h:/p", "http", "h", -1, "/p", none, none},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.text);
        const auto url = Url::parse(c.text);
        expectParts(url, c);
        EXPECT_EQ(url->absoluteString(), c.text);
    }
}

TEST(Url, RefusesTextsThatAreNotAbsoluteUrls) {
    const std::vector<std::string> texts = {
        "",
        "/path",
        "host/path",
        "http:/x",
        "http:host",
        "1http://x/",
        "ht tp://x/",
        "http://ho st/",
        "http://h/a b",
        "http://h/\x01",
        "http://h/\x7f",
        "http://h:12a/",
        "http://h:99999/",
        "http://h:123456/",
        "http://[::1/",
        "http://[::1]x/",
        "http://[zz]/",
        "http://[]/",
        "http://a:b:c/",
        "http://h\xc3\xa9/",
    };
    for (const auto& text : texts) {
        EXPECT_FALSE(Url::parse(text).has_value()) << text;
    }
}

TEST(Url, ComparesByText) {
    EXPECT_EQ(*Url::parse("http://h/a"), *Url::parse("http://h/a"));
    EXPECT_FALSE(*Url::parse("http://h/a") == *Url::parse("http://h/a?"));
}

TEST(UrlRequestTarget, ResolvesOriginFormAgainstHostAndParsesAbsoluteForm) {
    const std::optional<std::string> none;
    const std::pair<std::string, Parts> cases[] = {
        {"box:8080", {"/a%20b?x=1&y", "http", "box", 8080, "/a%20b", "x=1&y", none}},
        // A target starting with "//" stays a path: it never supplies an authority.
        {"box", {"//evil.example/x", "http", "box", -1, "//evil.example/x", none, none}},
        {"[::1]:8080", {"/v6", "http", "::1", 8080, "/v6", none, none}},
        {"ignored", {"http://[::1]:81/d?e", "http", "::1", 81, "/d", "e", none}},
    };
    for (const auto& [host, c] : cases) {
        SCOPED_TRACE(c.text + " on " + host);
        expectParts(Url::fromRequestTarget(c.text, host), c);
    }
    EXPECT_EQ(Url::fromRequestTarget("/a%20b?x=1&y", "box:8080")->absoluteString(),
              "http://box:8080/a%20b?x=1&y");
}

TEST(UrlRequestTarget, FallsBackToLocalhostForUnusableHosts) {
    const std::vector<std::string> hosts = {"",     "evil/x", "a?b",   "a#b",  "user@box", "a b",
                                            "a\tb", "a\r\nb", "a:b:c", "[::1", "box:x",    "box:1:2"};
    for (const auto& host : hosts) {
        const auto url = Url::fromRequestTarget("/p?q", host);
        ASSERT_TRUE(url.has_value()) << host;
        EXPECT_EQ(url->absoluteString(), "http://localhost/p?q") << host;
        EXPECT_EQ(url->host(), "localhost");
        EXPECT_EQ(url->path(), "/p");
    }
}

TEST(UrlRequestTarget, RefusesOtherForms) {
    const std::vector<std::string> targets = {"", "*", "example.com:443", "p/q", "/a b", "/a\x01", "/a\x7f"};
    for (const auto& target : targets) {
        EXPECT_FALSE(Url::fromRequestTarget(target, "box").has_value()) << target;
    }
}
