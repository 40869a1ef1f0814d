// Request bodies through a real server on the loopback interface.

#include "CoreTestSupport.h"
#include "RequestBodiesTestSupport.h"
#include "WebServerDataRequest.h"
#include "WebServerMultiPartFormRequest.h"

#include <gtest/gtest.h>

#include <thread>

using bodytest::MultipartBuilder;

namespace {

class RequestBodiesServer : public coretest::ServerTest {
protected:
    void SetUp() override {
        // Answers one line per part: "name=value" for text parts, "name:fileName:content" for files.
        server->addHandlerForMethod(
            "POST", "/upload", WebServerRequestClass<WebServerMultiPartFormRequest>(),
            [](const std::shared_ptr<WebServerRequest>& request) -> std::shared_ptr<WebServerResponse> {
                const auto& form = static_cast<const WebServerMultiPartFormRequest&>(*request);
                std::string summary;
                for (const auto& argument : form.arguments()) {
                    summary += argument->controlName() + "=" + argument->string().value_or("?") + "\n";
                }
                for (const auto& file : form.files()) {
                    summary += file->controlName() + ":" + file->fileName() + ":" +
                               bodytest::readFile(file->temporaryPath()).value_or("<missing>") + "\n";
                }
                return coretest::textResponse(summary);
            });
        server->addHandlerForMethod("POST", "/data", WebServerRequestClass<WebServerDataRequest>(),
                                    [](const std::shared_ptr<WebServerRequest>& request) {
                                        const auto& data = static_cast<const WebServerDataRequest&>(*request);
                                        return coretest::textResponse(data.text().value_or("?"));
                                    });
        ASSERT_TRUE(startServer());
    }

    // Sends the request from another thread while the reply is read, so that a server answering
    // before the body is complete is still heard.
    coretest::HttpReply post(const std::string& path, const std::string& type, const std::string& body) {
        coretest::RawClient client;
        if (!client.connect(AF_INET, port())) {
            ADD_FAILURE() << "cannot connect";
            return {};
        }
        const std::string request = "POST " + path + " HTTP/1.1\r\nHost: localhost\r\nContent-Type: " + type +
                                    "\r\nContent-Length: " + std::to_string(body.size()) + "\r\n\r\n" + body;
        std::thread sender([&client, &request] { client.send(request); });
        const std::string reply = client.readAll();
        sender.join();
        return coretest::parseReply(reply);
    }

    bodytest::ScopedTemporaryFolder temporary;
};

} // namespace

TEST_F(RequestBodiesServer, MultipartUploadReachesTheHandler) {
    const std::string content = bodytest::randomBytes(3 * 1024 * 1024 + 17, 11);
    const std::string body = MultipartBuilder("zz")
                                 .field("title", "T")
                                 .file("doc", "d.bin", "application/octet-stream", content)
                                 .finish();
    const auto reply = post("/upload", "multipart/form-data; boundary=zz", body);
    EXPECT_EQ(reply.status, 200) << reply.statusLine;
    EXPECT_TRUE(reply.body == "title=T\ndoc:d.bin:" + content + "\n");
    EXPECT_TRUE(waitForIdle());
    EXPECT_TRUE(temporary.entries().empty());
}

TEST_F(RequestBodiesServer, BadMultipartBodiesAnswer500) {
    const std::string zz = "multipart/form-data; boundary=zz";
    const std::pair<std::string, std::string> cases[] = {
        // The closing boundary missing: the "finishing" error.
        {zz, MultipartBuilder("zz").field("a", "1").file("f", "x", "text/plain", "abc").unfinished()},
        {"multipart/form-data", MultipartBuilder("zz").field("a", "1").finish()}, // no boundary
        {zz, MultipartBuilder("zz")
                 .field("a", std::string(WebServerMIMEStreamParser::kMaximumArgumentSize + 100, 'x'))
                 .finish()},
    };
    for (const auto& [type, body] : cases) {
        const auto reply = post("/upload", type, body);
        EXPECT_EQ(reply.status, 500) << reply.statusLine;
    }
    EXPECT_TRUE(waitForIdle());
    EXPECT_TRUE(temporary.entries().empty());
}

TEST_F(RequestBodiesServer, DataBodyDeclaredOverTheCapAnswers413) {
    coretest::RawClient client;
    ASSERT_TRUE(client.connect(AF_INET, port()));
    ASSERT_TRUE(
        client.send("POST /data HTTP/1.1\r\nHost: localhost\r\nContent-Type: text/plain\r\nContent-Length: " +
                    std::to_string(WebServerDataRequest::kMaximumBodySize + 1) + "\r\n\r\n"));
    const auto reply = coretest::parseReply(client.readAll());
    EXPECT_EQ(reply.status, 413) << reply.statusLine;
}

// Text parts are kept in memory: however many a body holds, and however it is encoded, together
// they stay within what one request may keep, and beyond it the answer is 413.
TEST_F(RequestBodiesServer, ManyTextPartsAnswer413OnceTheirTotalExceedsTheCap) {
    const std::string boundary = "b0undary";
    const std::string value(512 * 1024, 'x'); // under the cap of one part
    std::string body;
    for (int i = 0; i < 40; ++i) { // 20 MiB in all
        body += "--" + boundary + "\r\nContent-Disposition: form-data; name=\"f" + std::to_string(i) +
                "\"\r\n\r\n" + value + "\r\n";
    }
    body += "--" + boundary + "--\r\n";
    EXPECT_EQ(post("/upload", "multipart/form-data; boundary=" + boundary, body).status, 413);
    // Many empty parts are counted too.
    std::string empties;
    for (int i = 0; i < 20000; ++i) {
        empties += "--" + boundary + "\r\nContent-Disposition: form-data; name=\"e\"\r\n\r\n\r\n";
    }
    empties += "--" + boundary + "--\r\n";
    EXPECT_EQ(post("/upload", "multipart/form-data; boundary=" + boundary, empties).status, 413);
}

// A form holds at most so many files, nested ones counted too, so that what one request stages and
// its handler then places is bounded: one more (here in a nested part), and the answer is 413.
TEST_F(RequestBodiesServer, FilesBeyondWhatAFormMayHoldAnswer413) {
    const std::string boundary = "b0undary";
    std::string body;
    for (std::size_t i = 0; i < WebServerMIMEStreamParser::kMaximumFiles; ++i) {
        body += "--" + boundary +
                "\r\nContent-Disposition: form-data; name=\"f\"; filename=\"a.txt\"\r\n\r\n\r\n";
    }
    body += "--" + boundary +
            "\r\nContent-Disposition: form-data; name=\"files\"\r\nContent-Type: multipart/mixed; "
            "boundary=inner\r\n\r\n--inner\r\nContent-Disposition: file; filename=\"b.txt\"\r\n\r\n\r\n"
            "--inner--\r\n--" +
            boundary + "--\r\n";
    const auto reply = post("/upload", "multipart/form-data; boundary=" + boundary, body);
    EXPECT_EQ(reply.status, 413) << reply.statusLine;
}

TEST_F(RequestBodiesServer, DataBodyInLatin1) {
    const auto reply = post("/data", "text/plain; charset=iso-8859-1", "caf\xE9");
    EXPECT_EQ(reply.status, 200) << reply.statusLine;
    EXPECT_EQ(reply.body, "caf\xC3\xA9");
}
