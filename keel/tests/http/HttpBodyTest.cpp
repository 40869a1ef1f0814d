// Body streams: the chunked coding both ways, and the entity body with its connection.
#include "HttpTestStreams.h"
#include "KL_HttpChunkedInputStream.h"
#include "KL_HttpChunkedOutputStream.h"
#include "KL_HttpEntityBodyInputStream.h"
#include "KL_MemoryStream.h"

#include <gtest/gtest.h>

#include <random>
#include <set>
#include <string>

using namespace http_test;

namespace {

KL_Result Decode(const std::string& wire, std::string& out, KL_Size piece = 4096,
                 KL_Size source_piece = 0xFFFFFFFF) {
    KL_HttpChunkedInputStream chunked(Buffered(wire, KL_ERROR_EOS, source_piece));
    return Drain(chunked, out, piece);
}

std::string Encode(const std::string& data, const std::vector<size_t>& pieces) {
    KL_MemoryStream target;
    {
        KL_HttpChunkedOutputStream chunked(target);
        size_t at = 0;
        for (size_t piece : pieces) {
            EXPECT_EQ(chunked.WriteFully(data.data() + at, static_cast<KL_Size>(piece)), KL_SUCCESS);
            at += piece;
        }
    }
    return std::string(reinterpret_cast<const char*>(target.GetData()), target.GetDataSize());
}

TEST(HttpChunked, DecodeTable) {
    const std::string trailers = [] {
        std::string t;
        for (int i = 0; i < 101; ++i) {
            t += "X-T: 1\r\n";
        }
        return t;
    }();
    const struct {
        std::string wire;
        KL_Result result; // of the read after the data
        std::string data;
    } cases[] = {
        {"5\r\nhello\r\n0\r\n\r\n", KL_ERROR_EOS, "hello"},
        {"1A;name=value\r\nabcdefghijklmnopqrstuvwxyz\r\n0\r\n\r\n", KL_ERROR_EOS,
         "abcdefghijklmnopqrstuvwxyz"},
        {"3 ext\r\nabc\r\n0;x\r\nX-T: 1\r\nX-U: 2\r\n\r\n", KL_ERROR_EOS, "abc"},
        {std::string("00000003\n\xff\0\x01\n0\n\n", 16), KL_ERROR_INVALID_FORMAT,
         std::string("\xff\0\x01", 3)},
        {"000000003\r\nabc\r\n0\r\n\r\n", KL_ERROR_EOS, "abc"},
        // A size line without a digit is no last chunk, even when a trailer block follows.
        {" 5\r\n\r\nhello\r\n", KL_ERROR_INVALID_FORMAT, ""},
        {";ext\r\n\r\n", KL_ERROR_INVALID_FORMAT, ""},
        {";ext\r\nhello\r\n0\r\n\r\n", KL_ERROR_INVALID_FORMAT, ""},
        {"G\r\n", KL_ERROR_INVALID_FORMAT, ""},
        {"\r\n", KL_ERROR_INVALID_FORMAT, ""},
        {"5\r\nhelloXY0\r\n\r\n", KL_ERROR_INVALID_FORMAT, "hello"},
        {"100000000\r\n", KL_ERROR_INVALID_FORMAT, ""},
        {"FFFFFFFFFF\r\n", KL_ERROR_INVALID_FORMAT, ""},
        {"FFFFFFFF\r\nab", KL_ERROR_CONNECTION_ABORTED, "ab"},
        {"5\r\nhel", KL_ERROR_CONNECTION_ABORTED, "hel"},
        {"5\r\nhello", KL_ERROR_CONNECTION_ABORTED, "hello"},
        {"5\r\nhello\r\n", KL_ERROR_CONNECTION_ABORTED, "hello"},
        {"0\r\nX-T: 1\r\n", KL_ERROR_CONNECTION_ABORTED, ""},
        {"", KL_ERROR_CONNECTION_ABORTED, ""},
        {"0\r\n" + trailers + "\r\n", KL_ERROR_NOT_ENOUGH_SPACE, ""},
        {"0\r\nX-T: " + std::string(5000, 'v') + "\r\n\r\n", KL_ERROR_NOT_ENOUGH_SPACE, ""},
        {std::string(5000, '1') + "\r\n", KL_ERROR_NOT_ENOUGH_SPACE, ""},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.wire.substr(0, 30));
        for (KL_Size piece : {1u, 3u, 4096u}) {
            std::string data;
            EXPECT_EQ(Decode(c.wire, data, piece, piece), c.result);
            EXPECT_EQ(data, c.data);
        }
    }
}

TEST(HttpChunked, FailureStaysAndEmptyReads) {
    KL_HttpChunkedInputStream chunked(Buffered("G\r\n5\r\nhello\r\n0\r\n\r\n"));
    char byte = 0;
    KL_Size count = 7;
    EXPECT_EQ(chunked.Read(&byte, 0, &count), KL_SUCCESS);
    EXPECT_EQ(count, 0u);
    EXPECT_EQ(chunked.Read(&byte, 1, &count), KL_ERROR_INVALID_FORMAT);
    EXPECT_EQ(chunked.Read(&byte, 1, &count), KL_ERROR_INVALID_FORMAT);
    KL_Position position = 1;
    EXPECT_EQ(chunked.Tell(position), KL_ERROR_NOT_SUPPORTED);
    EXPECT_EQ(chunked.Seek(0), KL_ERROR_NOT_SUPPORTED);
}

TEST(HttpChunked, EncodeTable) {
    EXPECT_EQ(Encode("abc", {3}), "3\r\nabc\r\n0\r\n\r\n");
    EXPECT_EQ(Encode("", {0}), "0\r\n\r\n"); // an empty write adds no chunk
    const std::string big(300, 'x');
    EXPECT_EQ(Encode(big, {300}).substr(0, 5), "12C\r\n");
    EXPECT_EQ(Encode(std::string(65536, 'y'), {65536}).substr(0, 7), "10000\r\n");
}

TEST(HttpChunked, RandomPieceRoundTrips) {
    const unsigned seed = http_test::TestSeed("chunked round-trip");
    std::mt19937 random(seed);
    for (int round = 0; round < 200; ++round) {
        std::string data(random() % 5000, '\0');
        for (char& c : data) {
            c = static_cast<char>(random());
        }
        std::vector<size_t> pieces;
        for (size_t left = data.size(); left > 0;) {
            const size_t piece = std::min<size_t>(left, 1 + random() % 700);
            pieces.push_back(piece);
            left -= piece;
        }
        std::string decoded;
        ASSERT_EQ(Decode(Encode(data, pieces), decoded, 1 + random() % 900, 1 + random() % 900),
                  KL_ERROR_EOS);
        ASSERT_EQ(decoded, data) << "round " << round;
    }
}

// Every cut of an encoded body is an error, never a complete body; mutations give only the
// decoder's codes.
TEST(HttpChunked, CutAndMutatedBodies) {
    const std::string wire = Encode(std::string(1000, 'd'), {1, 200, 799});
    for (size_t cut = 0; cut < wire.size(); ++cut) {
        std::string data;
        const KL_Result result = Decode(wire.substr(0, cut), data);
        ASSERT_TRUE(result == KL_ERROR_CONNECTION_ABORTED || result == KL_ERROR_INVALID_FORMAT) << cut;
    }
    const unsigned seed = http_test::TestSeed("chunked mutation");
    std::mt19937 random(seed);
    const std::set<KL_Result> codes = {KL_ERROR_EOS, KL_ERROR_CONNECTION_ABORTED, KL_ERROR_INVALID_FORMAT,
                                       KL_ERROR_NOT_ENOUGH_SPACE};
    for (int i = 0; i < 2000; ++i) {
        std::string mutated = wire;
        mutated[random() % mutated.size()] = static_cast<char>(random());
        std::string data;
        ASSERT_TRUE(codes.count(Decode(mutated, data, 1 + random() % 300))) << i;
        ASSERT_LE(data.size(), mutated.size());
    }
}

struct BodyCase {
    const char* what;
    std::string source;
    uint64_t size;
    bool size_is_known;
    bool chunked;
    bool should_persist;
    KL_Result end;    // the read after the body
    std::string body; // what was delivered
    size_t left;      // bytes left on the connection
    int recycled;     // Recycle calls
};

TEST(HttpEntityBody, ConnectionTable) {
    const BodyCase cases[] = {
        {"known size 0", "rest", 0, true, false, true, KL_ERROR_EOS, "", 4, 1},
        {"10 over 15", "0123456789abcde", 10, true, false, true, KL_ERROR_EOS, "0123456789", 5, 1},
        {"10 over 15, not kept", "0123456789abcde", 10, true, false, false, KL_ERROR_EOS, "0123456789", 5, 0},
        {"truncated", "01234", 10, true, false, true, KL_ERROR_CONNECTION_ABORTED, "01234", 0, 0},
        {"unknown size", "01234", 0, false, false, true, KL_ERROR_EOS, "01234", 0, 1},
        {"chunked", "3\r\nabc\r\n0\r\n\r\nNEXT", 0, false, true, true, KL_ERROR_EOS, "abc", 4, 1},
        {"chunked wins over length", "3\r\nabc\r\n0\r\n\r\n", 1, true, true, true, KL_ERROR_EOS, "abc", 0, 1},
        {"chunked cut", "3\r\nab", 0, false, true, true, KL_ERROR_CONNECTION_ABORTED, "ab", 0, 0},
        {"chunked bad", "Z\r\n", 0, false, true, true, KL_ERROR_INVALID_FORMAT, "", 0, 0},
    };
    for (const BodyCase& c : cases) {
        SCOPED_TRACE(c.what);
        ConnectionLog log;
        KL_InputStreamReference raw(new ScriptedInputStream(c.source, KL_ERROR_EOS, 4), true);
        KL_InputStreamReference buffered(new KL_BufferedInputStream(raw, 0), true);
        std::string body;
        {
            KL_HttpEntityBodyInputStream stream(buffered, c.size, c.size_is_known, c.chunked,
                                                new FakeConnection(log), c.should_persist);
            EXPECT_EQ(Drain(stream, body, 3), c.end);
            char byte = 0;
            EXPECT_EQ(stream.Read(&byte, 1), c.end); // the end stays the end
        }
        EXPECT_EQ(body, c.body);
        KL_LargeSize left = 0;
        EXPECT_EQ(AsBuffered(buffered).GetAvailable(left), KL_SUCCESS);
        EXPECT_EQ(left, c.left);
        EXPECT_EQ(log.recycled, c.recycled);
        EXPECT_EQ(log.deleted, 1); // recycled (and freed by the pool) or closed, once
    }
}

TEST(HttpEntityBody, Accessors) {
    KL_InputStreamReference buffered = Buffered("0123456789abcde");
    KL_HttpEntityBodyInputStream stream(buffered, 10, true, false, nullptr, false);
    KL_LargeSize value = 0;
    EXPECT_EQ(stream.GetSize(value), KL_SUCCESS);
    EXPECT_EQ(value, 10u);
    EXPECT_EQ(stream.Seek(0), KL_ERROR_NOT_SUPPORTED);
    char bytes[4];
    EXPECT_EQ(stream.Read(bytes, 4), KL_SUCCESS);
    EXPECT_EQ(stream.Tell(value), KL_SUCCESS);
    EXPECT_EQ(value, 4u);
    EXPECT_EQ(stream.GetAvailable(value), KL_SUCCESS);
    EXPECT_EQ(value, 6u); // capped at what is left of the body
}

} // namespace
