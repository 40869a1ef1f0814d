// File bodies sent straight from the descriptor (sendfile) against the same responses read piece by
// piece: the same bytes, heads and ranges; gzip keeps the read path; a file that changes during
// the send never yields a torn body under a complete length.

#include "CoreTestSupport.h"
#include "StaticTestSupport.h"
#include "WebServerFileResponse.h"

#include <gtest/gtest.h>
#include <unistd.h>

#include <atomic>
#include <fstream>

using statictest::ScratchFolder;

namespace {

// A file response that counts its piece reads; with `readPath` it offers no file body, so the
// connection reads it piece by piece as it does for any other response.
class ProbeFileResponse : public WebServerFileResponse {
public:
    static std::shared_ptr<ProbeFileResponse> make(const std::string& path, WebServerRange range,
                                                   bool readPath, std::atomic<int>* reads) {
        std::shared_ptr<ProbeFileResponse> response(new ProbeFileResponse(readPath, reads));
        return response->initWithFile(path, range, false) ? response : nullptr;
    }
    std::optional<Data> readData(Error* error) override {
        ++*_reads;
        return WebServerFileResponse::readData(error);
    }

protected:
    std::optional<FileBody> fileBody() const override {
        return _readPath ? std::nullopt : WebServerFileResponse::fileBody();
    }

private:
    ProbeFileResponse(bool readPath, std::atomic<int>* reads) : _readPath(readPath), _reads(reads) {}
    bool _readPath;
    std::atomic<int>* _reads;
};

constexpr std::size_t kFileSize = 5 * 1024 * 1024 + 17; // more than the socket buffers, an odd tail

class SendFileServer : public coretest::ServerTest {
protected:
    void SetUp() override {
        ASSERT_TRUE(folder.valid());
        ASSERT_TRUE(statictest::writeFile(file(), statictest::patternBytes(kFileSize)));
    }
    std::string file() const { return folder / "big.bin"; }
    // GET `path` answered by a probe response of the file.
    void serve(const std::string& path, WebServerRange range, bool readPath, bool gzip = false) {
        const std::string source = file();
        addGet(path, [this, source, range, readPath, gzip](const std::shared_ptr<WebServerRequest>&) {
            auto response =
                ProbeFileResponse::make(source, range, readPath, readPath ? &readPathReads : &sendReads);
            if (response) {
                response->setGzipContentEncodingEnabled(gzip);
            }
            return std::static_pointer_cast<WebServerResponse>(response);
        });
    }
    ScratchFolder folder;
    std::atomic<int> sendReads{0};
    std::atomic<int> readPathReads{0};
};

std::string headerOr(const coretest::HttpReply& reply, const char* name) {
    const std::string* value = reply.header(name);
    return value ? *value : "(none)";
}

} // namespace

TEST_F(SendFileServer, SendsExactlyWhatTheReadPathSends) {
    const std::uint64_t size = kFileSize;
    const std::vector<WebServerRange> ranges = {
        WebServerRange(),                      // the whole file
        {0, 500},                              // the start
        {1'000'000, 2'500'000},                // the middle, across slices
        {size - 1, 1},                         // the last byte
        {kWebServerNotFound, 3 * 1024 * 1024}, // a suffix
        {4 * 1024 * 1024, kWebServerNotFound}, // from an offset to the end
    };
    for (std::size_t i = 0; i < ranges.size(); ++i) {
        serve("/send/" + std::to_string(i), ranges[i], false);
        serve("/read/" + std::to_string(i), ranges[i], true);
    }
    ASSERT_TRUE(startServer());
    const std::string content = statictest::patternBytes(kFileSize);
    for (std::size_t i = 0; i < ranges.size(); ++i) {
        const auto sent = coretest::get(port(), "/send/" + std::to_string(i));
        const auto read = coretest::get(port(), "/read/" + std::to_string(i));
        SCOPED_TRACE(i);
        EXPECT_EQ(sent.status, read.status);
        EXPECT_EQ(headerOr(sent, "Content-Length"), headerOr(read, "Content-Length"));
        EXPECT_EQ(headerOr(sent, "Content-Range"), headerOr(read, "Content-Range"));
        EXPECT_EQ(headerOr(sent, "ETag"), headerOr(read, "ETag"));
        EXPECT_EQ(sent.body.size(), std::stoull(headerOr(sent, "Content-Length")));
        EXPECT_TRUE(sent.body == read.body);
        const std::uint64_t offset = ranges[i] == WebServerRange()              ? 0
                                     : ranges[i].location == kWebServerNotFound ? size - ranges[i].length
                                                                                : ranges[i].location;
        EXPECT_TRUE(sent.body == content.substr(offset, sent.body.size()));
    }
    EXPECT_EQ(sendReads.load(), 0) << "the sendfile path never reads pieces";
    EXPECT_GT(readPathReads.load(), 0);
}

TEST_F(SendFileServer, GzipTakesTheReadPath) {
    serve("/gzip", WebServerRange(), false, true);
    ASSERT_TRUE(startServer());
    const auto reply = coretest::get(port(), "/gzip", "Accept-Encoding: gzip\r\n");
    EXPECT_EQ(reply.status, 200);
    EXPECT_EQ(headerOr(reply, "Content-Encoding"), "gzip");
    std::string chunks;
    std::string inflated;
    ASSERT_TRUE(coretest::dechunk(reply.body, &chunks));
    ASSERT_TRUE(coretest::gunzip(chunks, &inflated));
    EXPECT_TRUE(inflated == statictest::patternBytes(kFileSize));
    EXPECT_GT(sendReads.load(), 0);
}

// While the answer waits for a client that does not read, the file shrinks or grows. The client
// then gets either the announced length of the original bytes, or fewer bytes and a closed
// connection: never a body of the announced length that is not the file's.
TEST_F(SendFileServer, AFileThatChangesDuringTheSendNeverTearsTheBody) {
    constexpr std::size_t kLarge = 48 * 1024 * 1024;
    const std::string original = statictest::patternBytes(kLarge);
    for (const bool shrink : {true, false}) {
        SCOPED_TRACE(shrink ? "shrinks" : "grows");
        const std::string path = folder / (shrink ? "shrinks.bin" : "grows.bin");
        ASSERT_TRUE(statictest::writeFile(path, original));
        const std::string route = shrink ? "/shrinks" : "/grows";
        addGet(route, [path](const std::shared_ptr<WebServerRequest>&) {
            return std::static_pointer_cast<WebServerResponse>(WebServerFileResponse::responseWithFile(path));
        });
    }
    ASSERT_TRUE(startServer());
    for (const bool shrink : {true, false}) {
        SCOPED_TRACE(shrink ? "shrinks" : "grows");
        const std::string path = folder / (shrink ? "shrinks.bin" : "grows.bin");
        coretest::RawClient client;
        ASSERT_TRUE(client.connect(AF_INET, port()));
        ASSERT_TRUE(client.send(std::string("GET ") + (shrink ? "/shrinks" : "/grows") +
                                " HTTP/1.1\r\nHost: localhost\r\n\r\n"));
        std::string raw = client.readUntil("\r\n\r\n");
        if (shrink) {
            ASSERT_EQ(::truncate(path.c_str(), 1024 * 1024), 0);
        } else {
            std::ofstream(path, std::ios::binary | std::ios::app) << std::string(1024 * 1024, 'x');
        }
        raw += client.readAll();
        const auto reply = coretest::parseReply(raw);
        ASSERT_EQ(reply.status, 200);
        EXPECT_EQ(headerOr(reply, "Content-Length"), std::to_string(kLarge));
        if (shrink) {
            // More than the socket buffers hold was still to send when the file lost its end: the
            // connection closes short of the announced length, so the client knows the body is
            // incomplete. (What the kernel still had in flight past the cut may not be the old
            // bytes: a file send does not copy them.)
            EXPECT_LT(reply.body.size(), kLarge) << "the connection closes before the announced length";
            const std::size_t kept = std::min<std::size_t>(reply.body.size(), 1024 * 1024);
            EXPECT_TRUE(reply.body.compare(0, kept, original, 0, kept) == 0);
        } else {
            EXPECT_EQ(reply.body.size(), kLarge) << "a file that grows still sends the announced length";
            EXPECT_TRUE(reply.body == original) << "and only the bytes it had";
        }
    }
}
