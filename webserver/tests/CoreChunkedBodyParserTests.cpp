#include "WebServerChunkedBodyParser.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cerrno>
#include <climits>
#include <cstdio>
#include <cstdlib>
#include <iostream>
#include <numeric>
#include <random>
#include <string>
#include <vector>

namespace {

using Parser = WebServerChunkedBodyParser;
using Status = Parser::Status;

struct Outcome {
    Status status = Status::NeedMore;
    std::string data;
};

// Feeds the wire bytes in the slices given by the cut positions (ascending).
Outcome parseWithCuts(const std::string& wire, const std::vector<std::size_t>& cuts) {
    Parser parser;
    Outcome outcome;
    auto sink = [&outcome](const std::uint8_t* bytes, std::size_t length) {
        outcome.data.append(reinterpret_cast<const char*>(bytes), length);
        return true;
    };
    std::size_t start = 0;
    std::vector<std::size_t> bounds = cuts;
    bounds.push_back(wire.size());
    for (const std::size_t end : bounds) {
        outcome.status =
            parser.feed(reinterpret_cast<const std::uint8_t*>(wire.data()) + start, end - start, sink);
        start = end;
    }
    EXPECT_EQ(parser.status(), outcome.status);
    return outcome;
}

Outcome parseWhole(const std::string& wire) {
    return parseWithCuts(wire, {});
}

// The wire parsed whole, cut once at every position, and one byte at a time all give `expected`.
void expectEverySlicing(const std::string& wire, Status expectedStatus, const std::string& expectedData) {
    SCOPED_TRACE(wire.substr(0, 80));
    Outcome whole = parseWhole(wire);
    EXPECT_EQ(whole.status, expectedStatus);
    EXPECT_EQ(whole.data, expectedData);
    for (std::size_t cut = 0; cut <= wire.size(); ++cut) {
        Outcome sliced = parseWithCuts(wire, {cut});
        EXPECT_EQ(sliced.status, expectedStatus) << "cut at " << cut;
        EXPECT_EQ(sliced.data, expectedData) << "cut at " << cut;
    }
    std::vector<std::size_t> everyByte(wire.size() - 1);
    std::iota(everyByte.begin(), everyByte.end(), 1);
    Outcome bytewise = parseWithCuts(wire, everyByte);
    EXPECT_EQ(bytewise.status, expectedStatus);
    EXPECT_EQ(bytewise.data, expectedData);
}

// What the C library makes of a size line, with the rule that nothing may follow the number.
long long referenceChunkSize(const std::string& line) {
    if (line.empty()) {
        return 0;
    }
    errno = 0;
    char* end = nullptr;
    const long long value = std::strtoll(line.c_str(), &end, 16);
    if (errno == ERANGE || end != line.c_str() + line.size() || value < 0) {
        return -1;
    }
    return value;
}

} // namespace

TEST(CoreChunkedBodyParser, EverySlicingGivesTheSameOutcome) {
    const struct {
        std::string wire;
        Status status;
        std::string data;
    } cases[] = {
        {"5\r\nhello\r\n0\r\n\r\n", Status::Done, "hello"},
        {"5;name=x\r\nhello\r\n0;last\r\n\r\n", Status::Done, "hello"}, // extensions are ignored
        {"A\r\n0123456789\r\nb\r\nabcdefghijk\r\n1\r\n!\r\n0\r\n\r\n", Status::Done,
         "0123456789abcdefghijk!"},
        {"3\r\nabc\r\n0\r\nX-Checksum: 1\r\nX-Other: two\r\n\r\n", Status::Done, "abc"}, // trailers
        {"\r\n\r\n", Status::Done, ""}, // an empty size line is the last chunk
        {"2\r\nok\r\n\r\n\r\n", Status::Done, "ok"},
        {"5\r\nhelloXY0\r\n\r\n", Status::Failed, "hello"}, // data not followed by CR LF
        {"5\r\nhello\n0\r\n\r\n", Status::Failed, "hello"},
        {"5\nhello\r\n0\r\n\r\n", Status::Failed, ""},   // size line without CR
        {"ffffffffffffffff\r\nabc", Status::Failed, ""}, // sizes beyond the signed range
        {"10000000000000000\r\nabc", Status::Failed, ""},
        {"7fffffffffffffff\r\nabc", Status::NeedMore, "abc"}, // the largest size is taken
    };
    for (const auto& c : cases) {
        expectEverySlicing(c.wire, c.status, c.data);
    }
    for (const std::string line : {"-5", "5x", "5 ", "g", "0x", "-", "5 5"}) {
        expectEverySlicing(line + "\r\nhello\r\n0\r\n\r\n", Status::Failed, "");
    }
}

TEST(CoreChunkedBodyParser, IncompleteBodyNeedsMoreAndBytesAfterTheEndAreIgnored) {
    for (const std::string wire :
         {"5\r\nhel", "5\r\nhello\r\n", "5\r\nhello\r\n0\r\n", "5\r\nhello\r\n0\r\nX: y\r\n"}) {
        EXPECT_EQ(parseWhole(wire).status, Status::NeedMore) << wire;
    }
    Outcome outcome = parseWhole("2\r\nok\r\n0\r\n\r\n5\r\nextra\r\n0\r\n\r\n");
    EXPECT_EQ(outcome.status, Status::Done);
    EXPECT_EQ(outcome.data, "ok");
}

TEST(CoreChunkedBodyParser, ParseChunkSizeFollowsTheCLibrary) {
    std::vector<std::string> lines = {"",   "0",  "5",  "a",  "A",  "ff", "0x1A", "0X1a", " 5",    "\t5",
                                      "+5", "-5", "5x", "5 ", "x5", "0x", "-",    "+",    "1;ext", "00000a"};
    const std::vector<std::string> large = {"7fffffffffffffff", "8000000000000000", "ffffffffffffffff",
                                            "10000000000000000"};
    lines.insert(lines.end(), large.begin(), large.end());
    for (const std::string& line : lines) {
        EXPECT_EQ(Parser::parseChunkSize(line), referenceChunkSize(line)) << '"' << line << '"';
    }
    EXPECT_EQ(Parser::parseChunkSize("7fffffffffffffff"), LLONG_MAX);
}

TEST(CoreChunkedBodyParser, SizeLineOverFourKiBIsRefused) {
    const std::string longExtension(Parser::kMaximumSizeLine + 16, 'x');
    // Refused as soon as the line is too long, before its end has arrived.
    Outcome early = parseWhole("5;" + longExtension);
    EXPECT_EQ(early.status, Status::Failed);
    expectEverySlicing("5;" + longExtension + "\r\nhello\r\n0\r\n\r\n", Status::Failed, "");
    // A long extension within the limit is fine.
    const std::string fitting(Parser::kMaximumSizeLine - 8, 'y');
    EXPECT_EQ(parseWhole("5;" + fitting + "\r\nhello\r\n0\r\n\r\n").data, "hello");
}

TEST(CoreChunkedBodyParser, EndlessTrailerIsRefused) {
    std::string wire = "1\r\nz\r\n0\r\n";
    while (wire.size() < Parser::kMaximumTrailer + 1024) {
        wire += "X-Filler: 0123456789abcdef0123456789abcdef\r\n";
    }
    Outcome outcome = parseWhole(wire);
    EXPECT_EQ(outcome.status, Status::Failed);
    EXPECT_EQ(outcome.data, "z");
}

TEST(CoreChunkedBodyParser, SinkFailureStopsTheParse) {
    Parser parser;
    int calls = 0;
    const std::string wire = "3\r\nabc\r\n3\r\ndef\r\n0\r\n\r\n";
    const auto status = parser.feed(reinterpret_cast<const std::uint8_t*>(wire.data()), wire.size(),
                                    [&calls](const std::uint8_t*, std::size_t) { return ++calls < 2; });
    EXPECT_EQ(status, Status::Failed);
    EXPECT_EQ(calls, 2);
    // A failed parser stays failed.
    EXPECT_EQ(parser.feed(reinterpret_cast<const std::uint8_t*>("0\r\n\r\n"), 5,
                          [](const std::uint8_t*, std::size_t) { return true; }),
              Status::Failed);
}

TEST(CoreChunkedBodyParser, RandomSlicingOfAGeneratedBody) {
    const unsigned seed = std::random_device{}();
    std::cout << "[ seed     ] CoreChunkedBodyParser.RandomSlicingOfAGeneratedBody " << seed << std::endl;
    SCOPED_TRACE("seed " + std::to_string(seed));
    std::mt19937 random(seed);
    std::string wire;
    std::string expected;
    for (int chunk = 0; chunk < 40; ++chunk) {
        const std::size_t size = 1 + random() % 3000;
        std::string data(size, '\0');
        for (char& c : data) {
            c = static_cast<char>(random() % 256);
        }
        char sizeLine[32];
        std::snprintf(sizeLine, sizeof sizeLine, chunk % 2 ? "%zx" : "%zX;n=%d", size, chunk);
        wire += std::string(sizeLine) + "\r\n" + data + "\r\n";
        expected += data;
    }
    wire += "0\r\nTrailer: x\r\n\r\n";
    for (int round = 0; round < 200; ++round) {
        std::vector<std::size_t> cuts;
        const std::size_t count = random() % 60;
        for (std::size_t i = 0; i < count; ++i) {
            cuts.push_back(random() % (wire.size() + 1));
        }
        std::sort(cuts.begin(), cuts.end());
        Outcome outcome = parseWithCuts(wire, cuts);
        ASSERT_EQ(outcome.status, Status::Done) << "round " << round;
        ASSERT_EQ(outcome.data, expected) << "round " << round;
    }
}
