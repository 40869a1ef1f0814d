// When the server cannot open what a request needs, for want of descriptors or memory (EMFILE,
// ENFILE, ENOMEM), the answer is 503 on every route of the file-sharing servers: never "does not
// exist" (404), nor another failure a client would take for the truth about the item.

#include "UploaderTestSupport.h"
#include "WebDAVTestSupport.h"

#include "foundation/SharedFolder.h"

#include <cerrno>
#include <string>
#include <vector>

using platform::SharedFolder;

namespace {

// Every opening through a shared folder fails with the error while the object lives.
class OpenFailure {
public:
    explicit OpenFailure(int errorNumber) { SharedFolder::setOpenFailure(errorNumber); }
    ~OpenFailure() { SharedFolder::setOpenFailure(0); }
    OpenFailure(const OpenFailure&) = delete;
    OpenFailure& operator=(const OpenFailure&) = delete;
};

// "METHOD /path" and header lines, each line ending in "\r\n", as a request with a Host header;
// the body (when given) with its Content-Length.
std::string requestText(const std::string& head, const std::string& host, const std::string& body = "") {
    const std::size_t lineEnd = head.find("\r\n");
    std::string text = head.substr(0, lineEnd) + " HTTP/1.1\r\n" + host;
    if (lineEnd != std::string::npos) {
        text += head.substr(lineEnd + 2);
    }
    if (!body.empty()) {
        text += "Content-Length: " + std::to_string(body.size()) + "\r\n";
    }
    return text + "\r\n" + body;
}

using DAVShortageTest = davtest::DAVServerTest;
using UploaderShortageTest = uploadertest::UploaderTest;

} // namespace

TEST_F(DAVShortageTest, EveryMethodAnswers503WhenTheServerCannotOpenWhatItNeeds) {
    write("a.txt", "text");
    makeFolder("d");
    const std::string destination = "Destination: " + url("/b.txt") + "\r\n";
    struct Row {
        std::string head;
        std::string body;
        int error;
    };
    for (const Row& row : std::vector<Row>{
             {"GET /a.txt", "", EMFILE},
             {"GET /a.txt", "", ENFILE},
             {"GET /a.txt", "", ENOMEM},
             {"GET /d", "", EMFILE},
             {"PROPFIND /d\r\nDepth: 1\r\n", "", EMFILE},
             {"PUT /new.txt", "new", EMFILE},
             {"PUT /a.txt", "new", EMFILE},
             {"DELETE /a.txt", "", EMFILE},
             {"MKCOL /e", "", EMFILE},
             {"COPY /a.txt\r\n" + destination, "", EMFILE},
             {"MOVE /a.txt\r\n" + destination, "", EMFILE},
         }) {
        SCOPED_TRACE(row.head + " " + std::to_string(row.error));
        coretest::HttpReply reply;
        {
            OpenFailure failure(row.error);
            reply = coretest::exchange(port(), requestText(row.head, hostHeader(), row.body));
        }
        EXPECT_EQ(reply.status, 503);
        EXPECT_EQ(snapshot(), "a.txt=text\nd/\n");
    }
}

TEST_F(UploaderShortageTest, EveryRouteAnswers503WhenTheServerCannotOpenWhatItNeeds) {
    ASSERT_TRUE(uploadertest::writeFile(share("a.txt"), "text"));
    const std::string form = "Content-Type: application/x-www-form-urlencoded\r\n";
    const std::string host = "Host: 127.0.0.1\r\n";
    for (const auto& [head, body] : std::vector<std::pair<std::string, std::string>>{
             {"GET /list?path=/", ""},
             {"GET /download?path=/a.txt", ""},
             {"GET /css/uploader.css", ""},
             {"POST /delete\r\n" + form, "path=/a.txt"},
             {"POST /create\r\n" + form, "path=/d"},
             {"POST /move\r\n" + form, "oldPath=/a.txt&newPath=/b.txt"},
         }) {
        SCOPED_TRACE(head);
        coretest::HttpReply reply;
        {
            OpenFailure failure(EMFILE);
            reply =
                coretest::exchange(static_cast<std::uint16_t>(server->port()), requestText(head, host, body));
        }
        EXPECT_EQ(reply.status, 503);
        EXPECT_EQ(uploadertest::namesIn(share()), std::vector<std::string>{"a.txt"});
    }
    {
        OpenFailure failure(EMFILE);
        EXPECT_EQ(uploadFile("/", "u.txt", "u").status, 503);
    }
    EXPECT_EQ(uploadertest::namesIn(share()), std::vector<std::string>{"a.txt"});
}
