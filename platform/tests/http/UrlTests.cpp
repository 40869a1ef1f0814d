#include "foundation/Url.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

using platform::Url;

TEST(Url, ParsesEveryPart) {
    const std::string text = "HTTPS://user:pw@Media.Example:8443/a/b%2Fc/?x=1&y=%20#frag";
    const auto url = Url::parse(text);
    ASSERT_TRUE(url.has_value());
    EXPECT_EQ(url->absoluteString(), text);
    EXPECT_EQ(url->scheme(), "https");
    EXPECT_EQ(url->host(), "Media.Example");
    EXPECT_EQ(url->port(), 8443);
    EXPECT_EQ(url->path(), "/a/b%2Fc/");
    EXPECT_EQ(url->query(), "x=1&y=%20");
    EXPECT_EQ(url->fragment(), "frag");
}

TEST(Url, PathIsSlashWhenOnlyAnAuthorityIsGiven) {
    const auto bare = Url::parse("http://host");
    ASSERT_TRUE(bare.has_value());
    EXPECT_EQ(bare->path(), "/");
    EXPECT_EQ(bare->port(), -1);
    EXPECT_FALSE(bare->query().has_value());
    EXPECT_FALSE(bare->fragment().has_value());
    EXPECT_EQ(bare->absoluteString(), "http://host");

    const auto query = Url::parse("http://host?a=b");
    ASSERT_TRUE(query.has_value());
    EXPECT_EQ(query->host(), "host");
    EXPECT_EQ(query->path(), "/");
    EXPECT_EQ(query->query(), "a=b");

    const auto fragment = Url::parse("http://host:80#top");
    ASSERT_TRUE(fragment.has_value());
    EXPECT_EQ(fragment->port(), 80);
    EXPECT_EQ(fragment->path(), "/");
    EXPECT_EQ(fragment->fragment(), "top");
}

TEST(Url, TellsAnEmptyQueryFromNone) {
    const auto empty = Url::parse("http://h/p?");
    ASSERT_TRUE(empty.has_value());
    EXPECT_EQ(empty->query(), "");
    const auto queryInFragment = Url::parse("http://h/p#a?b");
    ASSERT_TRUE(queryInFragment.has_value());
    EXPECT_FALSE(queryInFragment->query().has_value());
    EXPECT_EQ(queryInFragment->fragment(), "a?b");
    EXPECT_EQ(queryInFragment->path(), "/p");
}

TEST(Url, ParsesBracketedIpv6Hosts) {
    const auto withPort = Url::parse("http://[fe80::1:2]:9000/x");
    ASSERT_TRUE(withPort.has_value());
    EXPECT_EQ(withPort->host(), "fe80::1:2");
    EXPECT_EQ(withPort->port(), 9000);
    EXPECT_EQ(withPort->path(), "/x");

    const auto mapped = Url::parse("http://[::ffff:10.0.0.1]");
    ASSERT_TRUE(mapped.has_value());
    EXPECT_EQ(mapped->host(), "::ffff:10.0.0.1");
    EXPECT_EQ(mapped->port(), -1);
}

TEST(Url, KeepsUserInformationOutOfTheHost) {
    const auto url = Url::parse("ftp://anon@files.lan:21/pub");
    ASSERT_TRUE(url.has_value());
    EXPECT_EQ(url->host(), "files.lan");
    EXPECT_EQ(url->port(), 21);
    const auto emptyPort = Url::parse("http://h:/p");
    ASSERT_TRUE(emptyPort.has_value());
    EXPECT_EQ(emptyPort->port(), -1);
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

TEST(UrlRequestTarget, ResolvesOriginFormAgainstHost) {
    const auto url = Url::fromRequestTarget("/a%20b?x=1&y", "box:8080");
    ASSERT_TRUE(url.has_value());
    EXPECT_EQ(url->absoluteString(), "http://box:8080/a%20b?x=1&y");
    EXPECT_EQ(url->host(), "box");
    EXPECT_EQ(url->port(), 8080);
    EXPECT_EQ(url->path(), "/a%20b");
    EXPECT_EQ(url->query(), "x=1&y");

    // A target starting with "//" stays a path: it never supplies an authority.
    const auto doubled = Url::fromRequestTarget("//evil.example/x", "box");
    ASSERT_TRUE(doubled.has_value());
    EXPECT_EQ(doubled->host(), "box");
    EXPECT_EQ(doubled->path(), "//evil.example/x");
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

TEST(UrlRequestTarget, ParsesAbsoluteFormAndRefusesOtherForms) {
    const auto absolute = Url::fromRequestTarget("http://[::1]:81/d?e", "ignored");
    ASSERT_TRUE(absolute.has_value());
    EXPECT_EQ(absolute->host(), "::1");
    EXPECT_EQ(absolute->port(), 81);
    EXPECT_EQ(absolute->path(), "/d");

    const std::vector<std::string> targets = {"", "*", "example.com:443", "p/q", "/a b", "/a\x01", "/a\x7f"};
    for (const auto& target : targets) {
        EXPECT_FALSE(Url::fromRequestTarget(target, "box").has_value()) << target;
    }
}
