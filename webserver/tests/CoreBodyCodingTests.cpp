// The gzip stages of request and response bodies.

#include "CoreTestSupport.h"
#include "WebServerBodyDecoder.h"
#include "WebServerBodyEncoder.h"
#include "WebServerRequestErrors.h"

#include <gtest/gtest.h>
#include <zlib.h>

#include <iostream>
#include <random>

namespace {

const Url kURL = *Url::parse("http://localhost/upload");

// Counts what it receives and fails on request: open, close, or the Nth write.
class TestWriter : public WebServerBodyWriter {
public:
    bool open(Error* error) override {
        opened = true;
        return failOpen ? fail(error, -1) : true;
    }
    bool writeData(const Data& data, Error* error) override {
        ++writes;
        largestWrite = std::max(largestWrite, data.size());
        total += data.size();
        if (keep) {
            received.append(data.begin(), data.end());
        } else if (!data.empty() && (data.front() != 0 || data.back() != 0)) {
            nonZero = true;
        }
        return writes == failOnWrite ? fail(error, writes) : true;
    }
    bool close(Error* error) override {
        closed = true;
        return failClose ? fail(error, -2) : true;
    }

    bool keep = true;
    bool failOpen = false;
    bool failClose = false;
    int failOnWrite = 0;
    bool opened = false;
    bool closed = false;
    int writes = 0;
    std::size_t largestWrite = 0;
    std::uint64_t total = 0;
    bool nonZero = false;
    std::string received;

private:
    static bool fail(Error* error, long long code) {
        platform::setError(error, Error::make("TestDomain", code, "injected failure"));
        return false;
    }
};

std::string randomText(std::size_t size, unsigned seed, bool compressible) {
    std::mt19937 random(seed);
    std::string text(size, '\0');
    for (std::size_t i = 0; i < size; ++i) {
        text[i] = compressible ? static_cast<char>('a' + random() % 4) : static_cast<char>(random() % 256);
    }
    return text;
}

// Inflates `packed` through a decoder fed in pieces of the given sizes (cycled).
bool decode(const std::string& packed, const std::vector<std::size_t>& pieces, TestWriter& writer,
            Error* error) {
    auto request = WebServerRequest::create("POST", kURL, {}, "/upload", {});
    WebServerGZipDecoder decoder(request.get(), &writer);
    if (!decoder.open(error)) {
        return false;
    }
    std::size_t offset = 0;
    for (std::size_t i = 0; offset < packed.size(); ++i) {
        const std::size_t take = std::min(pieces[i % pieces.size()], packed.size() - offset);
        Data piece(packed.begin() + static_cast<std::ptrdiff_t>(offset),
                   packed.begin() + static_cast<std::ptrdiff_t>(offset + take));
        offset += take;
        if (!decoder.writeData(piece, error)) {
            return false;
        }
    }
    return decoder.close(error);
}

// A gzip member of `mebibytes` MiB of zeros, made quickly: after a full flush deflate starts
// afresh, so every MiB of zeros compresses to the same bytes; the trailer is computed directly.
std::string zeroBomb(std::size_t mebibytes) {
    constexpr std::size_t kMiB = 1 << 20;
    z_stream stream{};
    deflateInit2(&stream, 9, Z_DEFLATED, -15, 8, Z_DEFAULT_STRATEGY);
    std::vector<unsigned char> zeros(kMiB, 0);
    auto run = [&stream, &zeros](int flush, std::size_t length) {
        std::string out;
        std::vector<unsigned char> buffer(64 * 1024);
        stream.next_in = zeros.data();
        stream.avail_in = static_cast<uInt>(length);
        do {
            stream.next_out = buffer.data();
            stream.avail_out = static_cast<uInt>(buffer.size());
            deflate(&stream, flush);
            out.append(reinterpret_cast<char*>(buffer.data()), buffer.size() - stream.avail_out);
        } while (stream.avail_out == 0);
        return out;
    };
    const std::string first = run(Z_FULL_FLUSH, kMiB);
    const std::string again = run(Z_FULL_FLUSH, kMiB);
    const std::string finish = run(Z_FINISH, 0);
    deflateEnd(&stream);
    if (first != again) {
        return {};
    }
    std::string member("\x1f\x8b\x08\x00\x00\x00\x00\x00\x00\x03", 10);
    member.reserve(10 + first.size() * mebibytes + finish.size() + 8);
    const uLong oneCRC = crc32(crc32(0, Z_NULL, 0), zeros.data(), static_cast<uInt>(kMiB));
    uLong crc = crc32(0, Z_NULL, 0);
    for (std::size_t i = 0; i < mebibytes; ++i) {
        member += first;
        crc = crc32_combine(crc, oneCRC, static_cast<z_off_t>(kMiB));
    }
    member += finish;
    const auto size = static_cast<std::uint32_t>(mebibytes * kMiB);
    for (const std::uint32_t word : {static_cast<std::uint32_t>(crc), size}) {
        for (int shift = 0; shift < 32; shift += 8) {
            member.push_back(static_cast<char>((word >> shift) & 0xFF));
        }
    }
    return member;
}

} // namespace

// ---- Decoder ----

TEST(CoreGzipDecoder, SmallPiecesInflateLikeOnePiece) {
    const std::string text = randomText(300 * 1024, 7, true);
    const std::string packed = coretest::gzipCompress(text);
    TestWriter whole;
    Error error;
    ASSERT_TRUE(decode(packed, {packed.size()}, whole, &error)) << error.description;
    EXPECT_EQ(whole.received, text);
    for (const std::vector<std::size_t>& pieces :
         std::vector<std::vector<std::size_t>>{{1}, {3, 1, 7}, {1000}}) {
        TestWriter sliced;
        ASSERT_TRUE(decode(packed, pieces, sliced, &error)) << error.description;
        EXPECT_EQ(sliced.received, whole.received);
        EXPECT_TRUE(sliced.opened && sliced.closed);
    }
}

TEST(CoreGzipDecoder, BytesAfterTheStreamAreIgnored) {
    TestWriter writer;
    Error error;
    ASSERT_TRUE(decode(coretest::gzipCompress("payload") + "trailing garbage", {4}, writer, &error));
    EXPECT_EQ(writer.received, "payload");
}

TEST(CoreGzipDecoder, TruncatedOrCorruptStreamFailsWithZlibError) {
    const std::string packed = coretest::gzipCompress(randomText(10000, 3, true));
    for (const std::size_t cut : {packed.size() - 1, packed.size() - 8, packed.size() / 2, std::size_t{12}}) {
        TestWriter writer;
        Error error;
        EXPECT_FALSE(decode(packed.substr(0, cut), {512}, writer, &error)) << cut;
        EXPECT_EQ(error.domain, kZlibErrorDomain) << cut;
    }
    std::string corrupt = packed;
    corrupt[0] = 'X'; // not a gzip magic number
    TestWriter writer;
    Error error;
    EXPECT_FALSE(decode(corrupt, {corrupt.size()}, writer, &error));
    EXPECT_EQ(error.domain, kZlibErrorDomain);
    EXPECT_EQ(error.code, Z_DATA_ERROR);
}

TEST(CoreGzipDecoder, NextWriterOpenOrCloseFailureIsReported) {
    TestWriter refusingOpen;
    refusingOpen.failOpen = true;
    Error error;
    EXPECT_FALSE(decode(coretest::gzipCompress("x"), {1}, refusingOpen, &error));
    EXPECT_EQ(error.domain, "TestDomain");
    EXPECT_EQ(refusingOpen.writes, 0);
    TestWriter refusingClose;
    refusingClose.failClose = true;
    EXPECT_FALSE(decode(coretest::gzipCompress("x"), {1}, refusingClose, &error));
    EXPECT_EQ(error.code, -2);
}

TEST(CoreGzipDecoder, FailureOnEveryWriteIsReported) {
    // About 1.5 MiB of output: several slices, so several writes.
    const std::string packed = coretest::gzipCompress(randomText(1536 * 1024, 5, true));
    for (int failOn = 1;; ++failOn) {
        TestWriter writer;
        writer.failOnWrite = failOn;
        Error error;
        const bool decoded = decode(packed, {100 * 1024}, writer, &error);
        if (decoded) {
            EXPECT_GT(failOn, writer.writes); // only succeeds once no write fails
            EXPECT_GT(failOn, 3);
            break;
        }
        EXPECT_EQ(writer.writes, failOn);
        EXPECT_EQ(error.domain, "TestDomain");
        EXPECT_EQ(error.code, failOn);
        ASSERT_LT(failOn, 1000);
    }
}

// A compression bomb is passed on in bounded slices only up to its expansion bound (64 times the
// encoded bytes plus 16 MiB), then refused as too large; a body within the bound decodes whole.
TEST(CoreGzipDecoder, ExpansionIsBoundedByTheEncodedSize) {
    const std::string packed = zeroBomb(2048);
    ASSERT_FALSE(packed.empty()) << "deflate did not repeat itself after a full flush";
    EXPECT_LT(packed.size(), 4u << 20);
    TestWriter writer;
    writer.keep = false;
    Error error;
    EXPECT_FALSE(decode(packed, {256 * 1024}, writer, &error));
    EXPECT_TRUE(IsWebServerBodyTooLargeError(error)) << error.description;
    EXPECT_LE(writer.total, 64 * packed.size() + (16u << 20));
    EXPECT_GE(writer.total, 16u << 20);
    EXPECT_LE(writer.largestWrite, 256u * 1024);
    EXPECT_FALSE(writer.nonZero);

    TestWriter within;
    within.keep = false;
    ASSERT_TRUE(decode(zeroBomb(16), {256 * 1024}, within, &error)) << error.description;
    EXPECT_EQ(within.total, 16u << 20);
}

// ---- Encoder ----

namespace {

// A text handed out in slices of `slice` bytes; fails on the Nth read when asked to.
class SlicedResponse : public coretest::StringResponse {
public:
    SlicedResponse(const std::string& text, std::size_t slice, int failOnRead = 0)
        : StringResponse(text, "text/plain", slice), _failOnRead(failOnRead) {}
    std::optional<Data> readData(Error* error) override {
        if (++reads == _failOnRead) {
            platform::setError(error, Error::make("TestDomain", reads, "cannot read"));
            return std::nullopt;
        }
        return StringResponse::readData(error);
    }
    void close() override { closed = true; }
    int reads = 0;
    bool closed = false;

private:
    int _failOnRead;
};

// Reads the whole body through the response's reader chain; false on failure.
bool readAll(WebServerResponse& response, std::string* out, Error* error) {
    response.prepareForReading();
    if (!response.performOpen(error)) {
        return false;
    }
    bool ok = true;
    for (bool done = false; !done;) {
        response.performReadDataWithCompletion([&](std::optional<Data> data, const Error& readError) {
            if (!data) {
                *error = readError;
                ok = false;
                done = true;
            } else if (data->empty()) {
                done = true;
            } else {
                out->append(data->begin(), data->end());
            }
        });
    }
    response.performClose();
    return ok;
}

} // namespace

TEST(CoreGzipEncoder, RoundTripOfManyPieces) {
    std::string text;
    for (int i = 0; i < 2000; ++i) {
        text += "piece " + std::to_string(i) + " " + std::string(static_cast<std::size_t>(i % 97), '.');
    }
    SlicedResponse response(text, 61);
    response.setGzipContentEncodingEnabled(true);
    std::string packed;
    Error error;
    ASSERT_TRUE(readAll(response, &packed, &error)) << error.description;
    EXPECT_EQ(response.contentLength(), kWebServerNotFound);
    EXPECT_TRUE(response.usesChunkedTransferEncoding());
    EXPECT_EQ(response.additionalHeaders().at("Content-Encoding"), "gzip");
    EXPECT_TRUE(response.closed);
    std::string inflated;
    ASSERT_TRUE(coretest::gunzip(packed, &inflated));
    EXPECT_EQ(inflated, text);
    EXPECT_LT(packed.size(), text.size() / 4);
}

TEST(CoreGzipEncoder, IncompressiblePieceLargerThanTheBuffer) {
    const std::string text = randomText(1200 * 1024, 11, false);
    SlicedResponse response(text, text.size());
    response.setGzipContentEncodingEnabled(true);
    std::string packed;
    Error error;
    ASSERT_TRUE(readAll(response, &packed, &error));
    std::string inflated;
    ASSERT_TRUE(coretest::gunzip(packed, &inflated));
    EXPECT_EQ(inflated, text);
}

TEST(CoreGzipEncoder, ReaderFailureOnEveryReadIsReported) {
    const std::string text(5 * 100000, 'q');
    for (int failOn = 1;; ++failOn) {
        SlicedResponse response(text, 100000, failOn);
        response.setGzipContentEncodingEnabled(true);
        std::string packed;
        Error error;
        if (readAll(response, &packed, &error)) {
            EXPECT_GT(failOn, 6); // five pieces and the end
            break;
        }
        EXPECT_EQ(error.domain, "TestDomain");
        EXPECT_EQ(error.code, failOn);
        ASSERT_LT(failOn, 100);
    }
}
