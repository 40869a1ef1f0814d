// A file body goes out with sendfile; any other stream through the copy loop. Both must send the
// same bytes for the whole file and for ranges at its start, middle and end.
#include "HttpTestSupport.h"

#include "UP_FileInputStream.h"

#include <cstdlib>
#include <fstream>
#include <memory>
#include <random>

namespace http_test {
namespace {

// Forwards to a file stream while hiding it, so the body takes the copy loop.
class ForwardingStream : public KL_InputStream {
public:
    explicit ForwardingStream(const KL_InputStreamReference& inner) : m_Inner(inner) {}
    [[nodiscard]] KL_Result Read(void* buffer, KL_Size count, KL_Size* read) override {
        return m_Inner->Read(buffer, count, read);
    }
    [[nodiscard]] KL_Result Seek(KL_Position offset) override { return m_Inner->Seek(offset); }
    [[nodiscard]] KL_Result Tell(KL_Position& offset) override { return m_Inner->Tell(offset); }
    [[nodiscard]] KL_Result GetSize(KL_LargeSize& size) override { return m_Inner->GetSize(size); }
    [[nodiscard]] KL_Result GetAvailable(KL_LargeSize& available) override {
        return m_Inner->GetAvailable(available);
    }

private:
    KL_InputStreamReference m_Inner;
};

// "/file": ServeFile (sendfile); "/copy": the same file through ServeStream and the copy loop.
class FileHandler : public KL_HttpRequestHandler {
public:
    explicit FileHandler(std::string path) : m_Path(std::move(path)) {}
    [[nodiscard]] KL_Result SetupResponse(KL_HttpRequest& request, const KL_HttpRequestContext& context,
                                          KL_HttpResponse& response) override {
        if (request.GetUrl().GetPath() == "/file") {
            return UP_HttpServer::ServeFile(request, context, response, m_Path.c_str());
        }
        KL_InputStreamReference file;
        const KL_Result opened = UP_FileInputStream::Open(m_Path.c_str(), file);
        if (KL_FAILED(opened)) {
            return opened;
        }
        KL_InputStreamReference hidden(new ForwardingStream(file));
        return UP_HttpServer::ServeStream(request, context, response, hidden, "application/octet-stream");
    }

private:
    std::string m_Path;
};

TEST(SendFile, SameBytesAsTheCopyLoop) {
    char folder[] = "/tmp/lanyard-sendfile-XXXXXX";
    ASSERT_NE(::mkdtemp(folder), nullptr);
    const std::string path = std::string(folder) + "/data.bin";
    std::string content(3 * 1024 * 1024 + 12345, '\0');
    std::mt19937 random(7);
    for (char& c : content) {
        c = static_cast<char>(random());
    }
    std::ofstream(path, std::ios::binary) << content;

    FileHandler handler(path);
    UP_HttpServer server(KL_IpAddress::Any, 0, true, 10, false);
    ASSERT_EQ(server.AddRequestHandler(&handler, "/", true, false), KL_SUCCESS);
    ASSERT_EQ(server.Start(), KL_SUCCESS);
    const size_t size = content.size();
    struct Case {
        std::string range; // empty: the whole file
        size_t start;
        size_t length;
    };
    const Case cases[] = {
        {"", 0, size},
        {"bytes=0-99", 0, 100},
        {"bytes=1500000-2700000", 1500000, 1200001},
        {"bytes=-100", size - 100, 100},
        {"bytes=" + std::to_string(size - 1) + "-", size - 1, 1},
    };
    RawClient client(server.GetPort());
    for (const Case& c : cases) {
        for (const char* route : {"/file", "/copy"}) {
            std::string request = std::string("GET ") + route + " HTTP/1.1\r\nHost: 127.0.0.1\r\n";
            if (!c.range.empty()) {
                request += "Range: " + c.range + "\r\n";
            }
            const Answer answer = client.Exchange(request + "\r\n");
            EXPECT_EQ(answer.status, c.range.empty() ? 200 : 206) << route << " " << c.range;
            EXPECT_TRUE(answer.body == content.substr(c.start, c.length))
                << route << " " << c.range << ": " << answer.body.size() << " bytes";
        }
    }
    EXPECT_EQ(server.Stop(), KL_SUCCESS);
    std::remove(path.c_str());
    ::rmdir(folder);
}

} // namespace
} // namespace http_test
