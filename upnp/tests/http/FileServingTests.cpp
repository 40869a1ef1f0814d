#include "HttpTestSupport.h"
#include "UP_FileInputStream.h"

#include <chrono>
#include <fcntl.h>
#include <fstream>
#include <future>
#include <sys/stat.h>
#include <sys/time.h>
#include <thread>

using namespace http_test;

namespace {

constexpr time_t kModified = 1577934245; // Thu, 02 Jan 2020 03:04:05 GMT
const char* const kModifiedText = "Thu, 02 Jan 2020 03:04:05 GMT";
const char* const kFlags = "DLNA.ORG_FLAGS=01500000000000000000000000000000";

void WriteFile(const std::string& path, const std::string& content) {
    std::ofstream(path, std::ios::binary) << content;
    timeval times[2] = {{kModified, 0}, {kModified, 0}};
    ::utimes(path.c_str(), times);
}

std::string Digits(size_t count) {
    std::string text;
    for (size_t i = 0; i < count; ++i) {
        text += char('0' + i % 10);
    }
    return text;
}

class FileServingTest : public ServerFixture {
protected:
    void SetUp() override {
        char dir_template[] = "/tmp/upnp-files-XXXXXX";
        ASSERT_NE(::mkdtemp(dir_template), nullptr);
        m_Dir = dir_template;
        m_Root = m_Dir + "/root";
        ASSERT_EQ(::mkdir(m_Root.c_str(), 0755), 0);
        ASSERT_EQ(::mkdir((m_Root + "/dir").c_str(), 0755), 0);
        WriteFile(m_Root + "/a.txt", Digits(1000));
        WriteFile(m_Root + "/song.mp3", "ID3");
        WriteFile(m_Root + "/x..y.txt", "dots");
        WriteFile(m_Dir + "/outside.txt", "secret");
        ASSERT_EQ(::mkfifo((m_Root + "/pipe.txt").c_str(), 0644), 0);
        StartServer(m_Root);
    }
    void TearDown() override {
        ServerFixture::TearDown();
        int removed = std::system(("rm -rf " + m_Dir).c_str());
        (void)removed;
    }
    Answer Fetch(const std::string& path, const std::string& headers = std::string(),
                 const char* method = "GET") {
        RawClient client(m_Port);
        return client.Exchange(Get(path, headers, method), std::string(method) == "HEAD");
    }

    std::string m_Dir;
    std::string m_Root;
};

} // namespace

TEST_F(FileServingTest, WholeFile) {
    Answer answer = Fetch("/files/a.txt");
    EXPECT_EQ(answer.status, 200);
    EXPECT_EQ(answer.body, Digits(1000));
    EXPECT_EQ(answer.Get("content-length"), "1000");
    EXPECT_EQ(answer.Get("content-type"), "text/plain");
    EXPECT_EQ(answer.Get("accept-ranges"), "bytes");
    EXPECT_EQ(answer.Get("last-modified"), kModifiedText);
    EXPECT_EQ(answer.Get("cache-control"), "max-age=0,must-revalidate");
    EXPECT_EQ(answer.Get("transfermode.dlna.org"), "Streaming");
    EXPECT_FALSE(answer.Has("contentfeatures.dlna.org"));
    EXPECT_EQ(Fetch("/files/x..y.txt").body, "dots"); // ".." inside a name is no parent step
}

TEST_F(FileServingTest, Ranges) {
    struct Row {
        const char* range;
        int status;
        const char* content_range;
        std::string body;
    } rows[] = {
        {"bytes=0-99", 206, "bytes 0-99/1000", Digits(100)},
        {"bytes=-100", 206, "bytes 900-999/1000", Digits(1000).substr(900)},
        {"bytes=995-", 206, "bytes 995-999/1000", "56789"},
        // An end past the last byte ends at it; so does a suffix longer than the file.
        {"bytes=0-1000", 206, "bytes 0-999/1000", Digits(1000)},
        {"bytes=990-600000", 206, "bytes 990-999/1000", Digits(1000).substr(990)},
        {"bytes=-2000", 206, "bytes 0-999/1000", Digits(1000)},
        // Every 416 names the length.
        {"bytes=1000-", 416, "bytes */1000", ""},
        {"bytes=1000-2000", 416, "bytes */1000", ""},
        {"bytes=5-2", 416, "bytes */1000", ""},
        {"bytes=-0", 416, "bytes */1000", ""},
        {"bytes=0-1,5-6", 416, "bytes */1000", ""},
        {"items=0-1", 400, "", ""},
        // A byte range that cannot be read is ignored: the whole file.
        {"bytes=a-b", 200, "", Digits(1000)},
        {"bytes=--5", 200, "", Digits(1000)},
        {"bytes=+5-9", 200, "", Digits(1000)},
        {"bytes=5-+9", 200, "", Digits(1000)},
        {"bytes=18446744073709551616-", 200, "", Digits(1000)},
        {"bytes=0-99999999999999999999999", 200, "", Digits(1000)},
        {"bytes=5", 200, "", Digits(1000)},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(row.range);
        Answer answer = Fetch("/files/a.txt", std::string("Range: ") + row.range + "\r\n");
        EXPECT_EQ(answer.status, row.status);
        EXPECT_EQ(answer.Get("content-range"), row.content_range);
        if (row.status != 416 && row.status != 400) {
            EXPECT_EQ(answer.body, row.body);
        }
    }
}

TEST_F(FileServingTest, ConditionalRequests) {
    struct Row {
        std::string headers;
        int status;
    } rows[] = {
        {std::string("If-Modified-Since: ") + kModifiedText + "\r\n", 304},
        {"If-Modified-Since: Thursday, 02-Jan-2020 03:04:05 GMT\r\n", 304},
        {"If-Modified-Since: Thu Jan  2 03:04:05 2020\r\n", 304},
        {"If-Modified-Since: Fri, 03 Jan 2020 00:00:00 GMT\r\n", 304},
        {"If-Modified-Since: Wed, 01 Jan 2020 00:00:00 GMT\r\n", 200},
        {std::string("If-Modified-Since: ") + kModifiedText + "\r\nRange: bytes=0-9\r\n", 206},
        {"If-Modified-Since: not a date\r\n", 200},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(row.headers);
        Answer answer = Fetch("/files/a.txt", row.headers);
        EXPECT_EQ(answer.status, row.status);
        if (row.status == 304) {
            EXPECT_EQ(answer.reason, "Not Modified");
            EXPECT_EQ(answer.Get("content-length"), "0");
        }
    }
}

TEST_F(FileServingTest, DlnaHeaders) {
    Answer mp3 =
        Fetch("/files/song.mp3", "getcontentFeatures.dlna.org: 1\r\ntransferMode.dlna.org: Interactive\r\n");
    EXPECT_EQ(mp3.status, 200);
    EXPECT_EQ(mp3.Get("content-type"), "audio/mpeg");
    EXPECT_EQ(mp3.Get("contentfeatures.dlna.org"),
              std::string("DLNA.ORG_PN=MP3;DLNA.ORG_OP=01;DLNA.ORG_CI=0;") + kFlags);
    EXPECT_EQ(mp3.Get("transfermode.dlna.org"), "Interactive");
    // A type the tables do not know: "*", as its protocolInfo says.
    EXPECT_EQ(Fetch("/files/a.txt", "getcontentFeatures.dlna.org: 1\r\n").Get("contentfeatures.dlna.org"),
              "*");

    Answer seek =
        Fetch("/files/song.mp3", "TimeSeekRange.dlna.org: npt=10-\r\ngetcontentFeatures.dlna.org: 1\r\n");
    EXPECT_EQ(seek.status, 406);
    EXPECT_EQ(seek.reason, "Not Acceptable");
    EXPECT_TRUE(seek.Has("contentfeatures.dlna.org"));
    EXPECT_EQ(seek.Get("transfermode.dlna.org"), "Streaming");

    Answer head = Fetch("/files/song.mp3", "", "HEAD");
    EXPECT_EQ(head.Get("content-length"), "3");
}

TEST_F(FileServingTest, RefusedPaths) {
    for (const char* path :
         {"/files/%2E%2E/outside.txt", "/files/%5C..%5Coutside.txt", "/files/dir/%5C../../outside.txt",
          "/files/dir", "/files/missing.txt", "/files/pipe.txt"}) {
        SCOPED_TRACE(path);
        Answer answer = Fetch(path); // a FIFO is answered at once, not waited on
        EXPECT_EQ(answer.status, 404);
        EXPECT_EQ(answer.reason, "Not Found");
    }
}

TEST(ServeStreamTest, MissingPieces) {
    KL_HttpRequest request("/x", "GET", KL_HTTP_PROTOCOL_1_1);
    KL_HttpRequestContext context;
    KL_HttpResponse no_entity(200, "OK");
    KL_InputStreamReference stream(new KL_MemoryStream("abc", 3));
    EXPECT_EQ(
        UP_HttpServer::ServeStream(request, context, no_entity, KL_InputStreamReference(), "text/plain"),
        KL_FAILURE);
    EXPECT_EQ(UP_HttpServer::ServeStream(request, context, no_entity, stream, "text/plain"),
              KL_ERROR_INVALID_PARAMETERS);
    KL_DateTime date;
    EXPECT_EQ(UP_HttpServer::GetIfModifiedSince(request, date), KL_FAILURE);
}

// Stop ends the listen task, an idle keep-alive connection and a connection streaming a large
// file whose client stopped reading.
TEST_F(FileServingTest, StopReturnsWhileClientsIdleAndStream) {
    int fd = ::open((m_Root + "/big.bin").c_str(), O_CREAT | O_WRONLY, 0644);
    ASSERT_GE(fd, 0);
    ASSERT_EQ(::ftruncate(fd, off_t(1) << 30), 0); // 1 GiB, sparse
    ::close(fd);
    RawClient idle(m_Port);
    EXPECT_EQ(idle.Exchange(Get("/echo")).status, 200);
    RawClient streaming(m_Port);
    ASSERT_TRUE(streaming.Send(Get("/files/big.bin")));
    EXPECT_GT(streaming.Drain(1 << 20), 0u);

    std::future<KL_Result> stopped = std::async(std::launch::async, [this] { return m_Server->Stop(); });
    ASSERT_EQ(stopped.wait_for(std::chrono::seconds(5)), std::future_status::ready);
    EXPECT_EQ(stopped.get(), KL_SUCCESS);
    EXPECT_TRUE(idle.IsClosedByPeer());
}

// A client that pipelines its next request behind one whose answer ends the connection, then
// reads slowly through a small window, gets that whole answer and the end of the stream, never a
// reset (ECONNRESET) that would drop what the server had not sent yet.
TEST_F(FileServingTest, ClosingAnswerIsWholeBehindPipelinedRequest) {
    constexpr size_t kSize = 2 << 20;
    int file = ::open((m_Root + "/big.bin").c_str(), O_CREAT | O_WRONLY, 0644);
    ASSERT_GE(file, 0);
    ASSERT_EQ(::ftruncate(file, off_t(kSize)), 0);
    ::close(file);
    for (const std::string& first :
         {Get("/files/big.bin", "Connection: close\r\n"), Get("/files/big.bin", "", "GET", "HTTP/1.0")}) {
        SCOPED_TRACE(first.substr(first.find("HTTP/")));
        const int fd = ConnectFrom("127.0.0.1", m_Port, true);
        ASSERT_GE(fd, 0);
        timeval tv{10, 0};
        ::setsockopt(fd, SOL_SOCKET, SO_RCVTIMEO, &tv, sizeof tv);
        ASSERT_EQ(::send(fd, first.data(), first.size(), MSG_NOSIGNAL), ssize_t(first.size()));
        char buffer[4096];
        ssize_t n = ::recv(fd, buffer, sizeof buffer, 0); // the answer has begun
        ASSERT_GT(n, 0);
        std::string received(buffer, size_t(n));
        const std::string next = Get("/files/a.txt");
        ASSERT_EQ(::send(fd, next.data(), next.size(), MSG_NOSIGNAL), ssize_t(next.size()));
        std::this_thread::sleep_for(std::chrono::milliseconds(300)); // the answer fills the window
        while ((n = ::recv(fd, buffer, sizeof buffer, 0)) > 0) {
            received.append(buffer, size_t(n));
        }
        const int error = n < 0 ? errno : 0;
        ::close(fd);
        EXPECT_EQ(n, 0) << std::strerror(error);
        EXPECT_EQ(received.rfind("HTTP/1.1 200", 0), 0u);
        const size_t head = received.find("\r\n\r\n");
        ASSERT_NE(head, std::string::npos);
        EXPECT_EQ(received.size() - head - 4, kSize);
    }
}

// The file stream opens nothing but regular files, and never waits on a FIFO without a writer.
TEST_F(FileServingTest, FileStreamOpensRegularFilesOnly) {
    KL_InputStreamReference stream;
    EXPECT_EQ(UP_FileInputStream::Open((m_Root + "/pipe.txt").c_str(), stream), KL_ERROR_NO_SUCH_ITEM);
    EXPECT_EQ(UP_FileInputStream::Open((m_Root + "/dir").c_str(), stream), KL_ERROR_NO_SUCH_ITEM);
    EXPECT_TRUE(KL_FAILED(UP_FileInputStream::Open((m_Root + "/missing").c_str(), stream)));
    ASSERT_EQ(UP_FileInputStream::Open((m_Root + "/a.txt").c_str(), stream), KL_SUCCESS);
    KL_LargeSize size = 0;
    EXPECT_EQ(stream->GetSize(size), KL_SUCCESS);
    EXPECT_EQ(size, 1000u);
    EXPECT_EQ(stream->Seek(995), KL_SUCCESS);
    char buffer[16] = {};
    KL_Size count = 0;
    EXPECT_EQ(stream->Read(buffer, sizeof(buffer), &count), KL_SUCCESS);
    EXPECT_EQ(std::string(buffer, count), "56789");
    EXPECT_EQ(stream->Read(buffer, sizeof(buffer), &count), KL_ERROR_EOS);
}
