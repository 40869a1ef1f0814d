#include "http/HttpRequestHead.h"

#include <gtest/gtest.h>

#include <ostream>
#include <string>
#include <utility>
#include <vector>

using platform::HttpRequestHead;
using namespace std::string_literals;

namespace {

// Everything observable about a parse, so parses of the same bytes cut differently can be compared.
struct Outcome {
    bool accepted = false;
    bool complete = false;
    std::size_t consumed = 0;
    std::string method;
    std::string target;
    std::string version;
    std::vector<std::pair<std::string, std::string>> headers;

    bool operator==(const Outcome&) const = default;
};

std::ostream& operator<<(std::ostream& stream, const Outcome& outcome) {
    stream << "{accepted=" << outcome.accepted << " complete=" << outcome.complete
           << " consumed=" << outcome.consumed << " '" << outcome.method << "' '" << outcome.target << "' '"
           << outcome.version << "'";
    for (const auto& [name, value] : outcome.headers) {
        stream << " [" << name << ": " << value << "]";
    }
    return stream << "}";
}

// Feeds `wire` cut at the given positions (ascending); stops feeding once the head is complete or
// refused, as a connection would.
Outcome feed(const std::string& wire, const std::vector<std::size_t>& cuts,
             std::size_t maximumSize = HttpRequestHead::kDefaultMaximumSize) {
    HttpRequestHead head(maximumSize);
    Outcome outcome;
    outcome.accepted = true;
    std::size_t start = 0;
    std::vector<std::size_t> ends = cuts;
    ends.push_back(wire.size());
    for (std::size_t end : ends) {
        if (head.isHeaderComplete() || head.isRefused()) {
            break;
        }
        std::size_t consumed = 0;
        const auto* bytes = reinterpret_cast<const std::uint8_t*>(wire.data()) + start;
        outcome.accepted = head.appendBytes(bytes, end - start, &consumed);
        outcome.consumed += consumed;
        start = end;
    }
    outcome.complete = head.isHeaderComplete();
    outcome.method = head.method();
    outcome.target = head.requestTarget();
    outcome.version = head.version();
    outcome.headers.assign(head.headers().begin(), head.headers().end());
    return outcome;
}

Outcome feedWhole(const std::string& wire, std::size_t maximumSize = HttpRequestHead::kDefaultMaximumSize) {
    return feed(wire, {}, maximumSize);
}

// Whole, byte by byte, and split in two at every position: all give the same outcome.
void expectSameOutcomeWhateverTheCuts(const std::string& wire,
                                      std::size_t maximumSize = HttpRequestHead::kDefaultMaximumSize) {
    const Outcome whole = feedWhole(wire, maximumSize);
    std::vector<std::size_t> everyByte;
    for (std::size_t i = 1; i < wire.size(); ++i) {
        everyByte.push_back(i);
    }
    EXPECT_EQ(feed(wire, everyByte, maximumSize), whole) << "byte by byte: " << wire;
    for (std::size_t cut = 0; cut <= wire.size(); ++cut) {
        EXPECT_EQ(feed(wire, {cut}, maximumSize), whole) << "cut at " << cut << ": " << wire;
    }
}

std::optional<platform::Url> urlOf(const std::string& wire) {
    HttpRequestHead head;
    EXPECT_TRUE(head.appendBytes(reinterpret_cast<const std::uint8_t*>(wire.data()), wire.size()));
    EXPECT_TRUE(head.isHeaderComplete());
    return head.url();
}

const std::string kSimple = "GET /docs/a%20b.txt?x=1 HTTP/1.1\r\n"
                            "Host: example.local:8080\r\n"
                            "User-Agent: test/1.0\r\n"
                            "Accept: */*\r\n"
                            "\r\n";

} // namespace

TEST(HttpRequestHead, ParsesRequestLineAndHeadersWhateverTheCuts) {
    const Outcome outcome = feedWhole(kSimple);
    EXPECT_TRUE(outcome.accepted);
    EXPECT_TRUE(outcome.complete);
    EXPECT_EQ(outcome.consumed, kSimple.size());
    EXPECT_EQ(outcome.method, "GET");
    EXPECT_EQ(outcome.target, "/docs/a%20b.txt?x=1");
    EXPECT_EQ(outcome.version, "HTTP/1.1");
    const std::vector<std::pair<std::string, std::string>> expected = {
        {"Accept", "*/*"}, {"Host", "example.local:8080"}, {"User-Agent", "test/1.0"}};
    EXPECT_EQ(outcome.headers, expected);
    const std::vector<std::string> wires = {
        kSimple,
        "PROPFIND /dav/ HTTP/1.0\r\nDepth: 1\r\nX-A: 1\r\nx-a:  2 \r\n\r\nBODY",
        "GET / HTTP/1.1\nHost: h\n\nrest",
        "\r\nGET / HTTP/1.1\r\n\r\n",
        "GET / HTTP/1.1\r\nHost: a\r\n b\r\n\r\n",
        "GET / HTTP/1.1\r\nHost: a\rb\r\n\r\n",
        "GET / HTTP/2.0\r\n\r\n",
        "GET / HTTP/1.1\r\nNoColon\r\n\r\n",
    };
    for (const auto& wire : wires) {
        expectSameOutcomeWhateverTheCuts(wire);
    }
}

TEST(HttpRequestHead, CompletesAtTheEmptyLineAndConsumesOnlyTheHead) {
    struct Case {
        std::string wire;
        bool complete;
        std::size_t consumed;
        std::string target;
        std::string version;
    };
    const std::string post = "POST /upload HTTP/1.1\r\nContent-Length: 5\r\n\r\n";
    const Case cases[] = {
        {post + "hello", true, post.size(), "/upload", "HTTP/1.1"},
        {"GET /x HTTP/1.0\nHost: h\n\n", true, 25, "/x", "HTTP/1.0"},  // bare line feeds
        {"\r\n\r\nGET / HTTP/1.1\r\n\r\n", true, 22, "/", "HTTP/1.1"}, // leading empty lines
        {"GET / HTTP/1.1\r\nHost: h\r\n", false, 25, "/", "HTTP/1.1"}, // not yet complete
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.wire);
        const Outcome outcome = feedWhole(c.wire);
        EXPECT_TRUE(outcome.accepted);
        EXPECT_EQ(outcome.complete, c.complete);
        EXPECT_EQ(outcome.consumed, c.consumed);
        EXPECT_EQ(outcome.target, c.target);
        EXPECT_EQ(outcome.version, c.version);
    }

    // Bytes fed after completion are left alone.
    HttpRequestHead parser;
    std::size_t consumed = 99;
    ASSERT_TRUE(
        parser.appendBytes(reinterpret_cast<const std::uint8_t*>(post.data()), post.size(), &consumed));
    ASSERT_TRUE(parser.appendBytes(reinterpret_cast<const std::uint8_t*>("more"), 4, &consumed));
    EXPECT_EQ(consumed, 0u);
    EXPECT_EQ(parser.headers().at("content-length"), "5");
}

TEST(HttpRequestHead, RefusesMalformedHeads) {
    const std::vector<std::string> wires = {
        "GET /  HTTP/1.1\r\n\r\n",
        " GET / HTTP/1.1\r\n\r\n",
        "GET / HTTP/1.1 \r\n\r\n",
        "GET /\r\n\r\n",
        "GET\r\n\r\n",
        "G@T / HTTP/1.1\r\n\r\n",
        "GET / HTTP/2.0\r\n\r\n",
        "GET / HTTP/1.2\r\n\r\n",
        "GET / HTTP/0.9\r\n\r\n",
        "GET / http/1.1\r\n\r\n",
        "GET /a\tb HTTP/1.1\r\n\r\n",
        "GET /a\0b HTTP/1.1\r\n\r\n"s,
        "GET / HTTP/1.1\r\nHost example\r\n\r\n",
        "GET / HTTP/1.1\r\nBad Name: x\r\n\r\n",
        "GET / HTTP/1.1\r\nHost : x\r\n\r\n",
        "GET / HTTP/1.1\r\n: x\r\n\r\n",
        "GET / HTTP/1.1\r\nX-A: one\r\n two\r\n\r\n",
        "GET / HTTP/1.1\r\nX-A: one\r\n\ttwo\r\n\r\n",
        "GET / HTTP/1.1\r\nX-A: a\0b\r\n\r\n"s,
        "GET / HTTP/1.1\r\nX-A: a\rb\r\n\r\n",
        "GET / HTTP/1.1\r\nX-A: a\x7f\r\n\r\n",
        "GET / HTTP/1.1\r\n\r\r\n",
    };
    for (const auto& wire : wires) {
        const Outcome outcome = feedWhole(wire);
        EXPECT_FALSE(outcome.accepted) << wire;
        EXPECT_FALSE(outcome.complete) << wire;
        expectSameOutcomeWhateverTheCuts(wire);
    }
    // A refused head stays refused.
    HttpRequestHead head;
    const std::string bad = "BROKEN\r\n";
    EXPECT_FALSE(head.appendBytes(reinterpret_cast<const std::uint8_t*>(bad.data()), bad.size()));
    EXPECT_TRUE(head.isRefused());
    std::size_t consumed = 99;
    EXPECT_FALSE(
        head.appendBytes(reinterpret_cast<const std::uint8_t*>(kSimple.data()), kSimple.size(), &consumed));
    EXPECT_EQ(consumed, 0u);
    EXPECT_FALSE(head.isHeaderComplete());
}

TEST(HttpRequestHead, RefusesHugeHeadAsSoonAsItPassesTheLimit) {
    std::string wire = "GET / HTTP/1.1\r\n";
    while (wire.size() < 1024 * 1024) {
        wire += "X-Filler: " + std::string(100, 'a') + "\r\n";
    }
    wire += "\r\n";

    HttpRequestHead head;
    constexpr std::size_t kChunk = 4096;
    std::size_t fed = 0;
    while (fed < wire.size()) {
        const std::size_t length = std::min(kChunk, wire.size() - fed);
        const bool accepted =
            head.appendBytes(reinterpret_cast<const std::uint8_t*>(wire.data()) + fed, length);
        fed += length;
        if (!accepted) {
            break;
        }
    }
    EXPECT_TRUE(head.isRefused());
    EXPECT_GT(fed, HttpRequestHead::kDefaultMaximumSize);
    EXPECT_LE(fed, HttpRequestHead::kDefaultMaximumSize + kChunk);

    // One line without any line end is refused too.
    const std::string endless = "GET /" + std::string(1024 * 1024, 'a');
    const Outcome outcome = feedWhole(endless);
    EXPECT_FALSE(outcome.accepted);
    EXPECT_EQ(outcome.consumed, HttpRequestHead::kDefaultMaximumSize);
}

TEST(HttpRequestHead, HonoursACustomMaximum) {
    const std::string wire = "GET / HTTP/1.1\r\nHost: h\r\n\r\n";
    EXPECT_TRUE(feedWhole(wire, wire.size()).complete);
    expectSameOutcomeWhateverTheCuts(wire, wire.size());
    const Outcome tooSmall = feedWhole(wire, wire.size() - 1);
    EXPECT_FALSE(tooSmall.accepted);
    EXPECT_FALSE(tooSmall.complete);
    EXPECT_EQ(tooSmall.consumed, wire.size() - 1);
    expectSameOutcomeWhateverTheCuts(wire, wire.size() - 1);
    // Body bytes after the head do not count.
    EXPECT_TRUE(feedWhole(wire + "body", wire.size()).complete);
}

TEST(HttpRequestHead, JoinsRepeatedFieldsTrimsValuesAndIgnoresCaseOfNames) {
    const Outcome outcome = feedWhole("GET / HTTP/1.1\r\n"
                                      "Accept:  text/html \t\r\n"
                                      "X-Empty:\r\n"
                                      "ACCEPT:\tapplication/json\r\n"
                                      "Value-With-Colon: a: b\r\n"
                                      "\r\n");
    ASSERT_TRUE(outcome.complete);
    const std::vector<std::pair<std::string, std::string>> expected = {
        {"Accept", "text/html, application/json"}, {"Value-With-Colon", "a: b"}, {"X-Empty", ""}};
    EXPECT_EQ(outcome.headers, expected);

    // Names are looked up without regard to case; the method keeps its case.
    HttpRequestHead head;
    const std::string wire = "get / HTTP/1.1\r\ncontent-TYPE: text/plain\r\n\r\n";
    ASSERT_TRUE(head.appendBytes(reinterpret_cast<const std::uint8_t*>(wire.data()), wire.size()));
    EXPECT_EQ(head.method(), "get");
    ASSERT_EQ(head.headers().count("Content-Type"), 1u);
    EXPECT_EQ(head.headers().at("CONTENT-TYPE"), "text/plain");
    EXPECT_EQ(head.headers().begin()->first, "content-TYPE");
}

TEST(HttpRequestHead, BuildsItsUrlFromTheTargetAndTheHostField) {
    const auto url = urlOf("GET /a%20b?x=1&y HTTP/1.1\r\nHost: example.local:8080\r\n\r\n");
    ASSERT_TRUE(url.has_value());
    EXPECT_EQ(url->absoluteString(), "http://example.local:8080/a%20b?x=1&y");
    EXPECT_EQ(urlOf("GET /p HTTP/1.0\r\n\r\n")->absoluteString(), "http://localhost/p");
    // Two Host fields join into a value that is no host name.
    EXPECT_EQ(urlOf("GET / HTTP/1.1\r\nHost: a\r\nHost: b\r\n\r\n")->host(), "localhost");
    EXPECT_FALSE(urlOf("OPTIONS * HTTP/1.1\r\nHost: h\r\n\r\n").has_value());

    HttpRequestHead incomplete;
    const std::string partial = "GET / HTTP/1.1\r\n";
    ASSERT_TRUE(
        incomplete.appendBytes(reinterpret_cast<const std::uint8_t*>(partial.data()), partial.size()));
    EXPECT_FALSE(incomplete.url().has_value());
}
