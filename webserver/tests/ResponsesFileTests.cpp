// File responses: ranges, attachments, validators and reading.

#include "CoreTestSupport.h"
#include "StaticTestSupport.h"
#include "WebServerFileResponse.h"

#include <fcntl.h>
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

using statictest::ScratchFolder;

namespace {

constexpr std::uint64_t kAll = kWebServerNotFound;

class FileResponse : public ::testing::Test {
protected:
    void SetUp() override {
        ASSERT_TRUE(folder.valid());
        ASSERT_TRUE(statictest::writeFile(folder / "f.bin", statictest::patternBytes(1000)));
    }
    std::string header(const WebServerResponse& response, const std::string& name) {
        auto it = response.additionalHeaders().find(name);
        return it == response.additionalHeaders().end() ? "<none>" : it->second;
    }
    std::string read(WebServerResponse& response) {
        Error error;
        EXPECT_TRUE(response.open(&error)) << error.description;
        std::string body;
        for (int i = 0; i < 10000; ++i) {
            auto piece = response.readData(&error);
            EXPECT_TRUE(piece) << error.description;
            if (!piece || piece->empty()) {
                break;
            }
            EXPECT_LE(piece->size(), 32768u);
            body.append(piece->begin(), piece->end());
        }
        response.close();
        return body;
    }
    ScratchFolder folder;
};

} // namespace

TEST_F(FileResponse, WholeFilesWithTheTypeOfTheirExtension) {
    ASSERT_TRUE(statictest::writeFile(folder / "empty.txt", ""));
    ASSERT_TRUE(statictest::writeFile(folder / "song.MP3", "x"));
    ASSERT_TRUE(statictest::writeFile(folder / "style.css", "x"));
    const struct {
        std::string name, type, body;
    } cases[] = {
        {"f.bin", "application/octet-stream", statictest::patternBytes(1000)},
        {"empty.txt", "text/plain", ""},
        {"song.MP3", "audio/mpeg", "x"},
        {"style.css", "text/css", "x"},
    };
    for (const auto& c : cases) {
        auto response = WebServerFileResponse::responseWithFile(folder / c.name);
        ASSERT_TRUE(response) << c.name;
        EXPECT_EQ(response->statusCode(), 200);
        EXPECT_EQ(response->contentLength(), c.body.size());
        EXPECT_EQ(response->contentType(), c.type);
        EXPECT_EQ(header(*response, "Content-Range"), "<none>");
        EXPECT_EQ(read(*response), c.body) << c.name;
    }
}

TEST_F(FileResponse, ByteRanges) {
    const struct {
        WebServerRange range;
        const char* contentRange;
        std::uint64_t offset, length;
    } cases[] = {
        {{0, 500}, "bytes 0-499/1000", 0, 500},        {{500, kAll}, "bytes 500-999/1000", 500, 500},
        {{kAll, 500}, "bytes 500-999/1000", 500, 500}, {{kAll, 1500}, "bytes 0-999/1000", 0, 1000},
        {{999, 10}, "bytes 999-999/1000", 999, 1},     {{0, 1}, "bytes 0-0/1000", 0, 1},
    };
    for (const auto& c : cases) {
        auto response = WebServerFileResponse::responseWithFile(folder / "f.bin", c.range);
        ASSERT_TRUE(response) << c.contentRange;
        EXPECT_EQ(response->statusCode(), 206);
        EXPECT_EQ(header(*response, "Content-Range"), c.contentRange);
        EXPECT_EQ(response->contentLength(), c.length);
        EXPECT_EQ(read(*response), statictest::patternBytes(1000).substr(c.offset, c.length))
            << c.contentRange;
    }
    // Unsatisfiable ranges give none.
    EXPECT_FALSE(WebServerFileResponse::responseWithFile(folder / "f.bin", WebServerRange{2000, 10}));
    EXPECT_FALSE(WebServerFileResponse::responseWithFile(folder / "f.bin", WebServerRange{1000, kAll}));
    ASSERT_TRUE(statictest::writeFile(folder / "empty.txt", ""));
    EXPECT_FALSE(WebServerFileResponse::responseWithFile(folder / "empty.txt", WebServerRange{kAll, 5}));
}

TEST_F(FileResponse, OnlyRegularFiles) {
    ASSERT_EQ(::mkfifo((folder / "fifo").c_str(), 0600), 0);
    ASSERT_EQ(::symlink((folder / "f.bin").c_str(), (folder / "link").c_str()), 0);
    EXPECT_FALSE(WebServerFileResponse::responseWithFile(folder / "fifo"));
    EXPECT_FALSE(WebServerFileResponse::responseWithFile(folder / "link"));
    EXPECT_FALSE(WebServerFileResponse::responseWithFile(folder.path()));
    EXPECT_FALSE(WebServerFileResponse::responseWithFile(folder / "missing"));
}

TEST_F(FileResponse, ValidatorsFollowTheFile) {
    const struct timespec times[2] = {{1, 0}, {1400000000, 250000000}};
    ASSERT_EQ(::utimensat(AT_FDCWD, (folder / "f.bin").c_str(), times, 0), 0);
    struct stat info = {};
    ASSERT_EQ(::stat((folder / "f.bin").c_str(), &info), 0);
    auto response = WebServerFileResponse::responseWithFile(folder / "f.bin");
    ASSERT_TRUE(response);
    EXPECT_EQ(response->eTag(), std::to_string(info.st_ino) + "/1400000000/250000000");
    ASSERT_TRUE(response->lastModifiedDate());
    EXPECT_EQ(
        std::chrono::duration_cast<std::chrono::nanoseconds>(response->lastModifiedDate()->time_since_epoch())
            .count(),
        1400000000250000000LL);
    EXPECT_NE(response->description().find("{" + folder / "f.bin" + "}"), std::string::npos);
}

TEST_F(FileResponse, AttachmentNames) {
    const struct {
        std::string name;
        std::string disposition;
    } cases[] = {
        {"plain.txt", "attachment; filename=\"plain.txt\"; filename*=UTF-8''plain.txt"},
        {"say \"hi\".txt", "attachment; filename=\"say hi.txt\"; filename*=UTF-8''say%20%22hi%22.txt"},
        {"caf\xC3\xA9.txt", "attachment; filename=\"caf\xE9.txt\"; filename*=UTF-8''caf%C3%A9.txt"},
        {"\xE6\x97\xA5\xE6\x9C\xAC.txt",
         "attachment; filename=\"??.txt\"; filename*=UTF-8''%E6%97%A5%E6%9C%AC.txt"},
        {"50%#.txt", "attachment; filename=\"50%#.txt\"; filename*=UTF-8''50%25%23.txt"},
        // Control characters never reach the header.
        {"evil\r\nSet-Cookie: a=b\x7F.txt", "attachment; filename=\"evilSet-Cookie: a=b.txt\"; "
                                            "filename*=UTF-8''evil%0D%0ASet-Cookie%3A%20a%3Db%7F.txt"},
    };
    for (const auto& c : cases) {
        ASSERT_TRUE(statictest::writeFile(folder / c.name, "x"));
        auto response = WebServerFileResponse::responseWithFile(folder / c.name, true);
        ASSERT_TRUE(response) << c.name;
        EXPECT_EQ(header(*response, "Content-Disposition"), c.disposition);
    }
    EXPECT_EQ(header(*WebServerFileResponse::responseWithFile(folder / "plain.txt"), "Content-Disposition"),
              "<none>");
    EXPECT_EQ(
        header(*WebServerFileResponse::responseWithFile(folder / "plain.txt", WebServerRange{0, 1}, true),
               "Content-Disposition"),
        cases[0].disposition);
}

TEST_F(FileResponse, DescriptorZeroIsAValidFile) {
    auto response = WebServerFileResponse::responseWithFile(folder / "f.bin", WebServerRange{10, 5});
    ASSERT_TRUE(response);
    const int savedInput = ::dup(0);
    ASSERT_NE(savedInput, -1);
    ::close(0); // the next descriptor the process opens is 0
    Error error;
    const bool opened = response->open(&error);
    auto piece = opened ? response->readData(&error) : std::nullopt;
    response->close();
    ::dup2(savedInput, 0);
    ::close(savedInput);
    ASSERT_TRUE(opened) << error.description;
    ASSERT_TRUE(piece);
    EXPECT_EQ(platform::stringFromData(*piece), statictest::patternBytes(1000).substr(10, 5));
}

// The file is opened when the response is made: length, ETag and bytes are all that file's, even
// when another file (or a FIFO) takes its name before the body is sent.
TEST_F(FileResponse, BytesComeFromTheFileWhoseStatusWasAnnounced) {
    auto response = WebServerFileResponse::responseWithFile(folder / "f.bin");
    ASSERT_TRUE(response);
    const std::uint64_t announced = response->contentLength();
    ASSERT_EQ(::unlink((folder / "f.bin").c_str()), 0);
    ASSERT_EQ(::mkfifo((folder / "f.bin").c_str(), 0600), 0); // replaced by a FIFO
    Error error;
    ASSERT_TRUE(response->open(&error)) << error.description;
    std::string body;
    while (auto piece = response->readData(&error)) {
        if (piece->empty()) {
            break;
        }
        body += platform::stringFromData(*piece);
    }
    response->close();
    EXPECT_EQ(body.size(), announced);
    EXPECT_EQ(body, statictest::patternBytes(1000));
}

// ---- Through the server ----

class FileResponseServer : public coretest::ServerTest {
protected:
    void SetUp() override {
        ASSERT_TRUE(folder.valid());
        ASSERT_TRUE(statictest::writeFile(folder / "f.bin", statictest::patternBytes(1000)));
        ASSERT_TRUE(statictest::writeFile(folder / "empty.txt", ""));
    }
    ScratchFolder folder;
};

TEST_F(FileResponseServer, HeadAndEmptyFileSendNoBody) {
    server->addGETHandlerForPathWithFile("/f.bin", folder / "f.bin", false, 0, true);
    server->addGETHandlerForPathWithFile("/empty.txt", folder / "empty.txt", false, 0, true);
    ASSERT_TRUE(startServer());
    const auto head = coretest::exchange(port(), "HEAD /f.bin HTTP/1.1\r\nHost: localhost\r\n\r\n");
    const auto empty = coretest::get(port(), "/empty.txt");
    for (const auto& [reply, length] : {std::pair{head, "1000"}, std::pair{empty, "0"}}) {
        EXPECT_EQ(reply.status, 200);
        ASSERT_TRUE(reply.header("Content-Length"));
        EXPECT_EQ(*reply.header("Content-Length"), length);
        EXPECT_EQ(reply.body, "");
    }
}
