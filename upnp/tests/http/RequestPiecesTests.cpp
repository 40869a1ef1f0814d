// Requests that arrive in pieces: the connection task answers a request read one byte at a time
// exactly as the whole request, and one whose body is cut short is never answered.
#include "HttpTestSupport.h"
#include "ScriptedSocket.h"

#include <regex>
#include <vector>

using namespace http_test;
using upnp_test::ScriptedConnection;

namespace {

struct Row {
    const char* name;
    std::vector<std::string> requests; // sent back to back on one connection
};

const std::vector<Row>& Rows() {
    static const std::vector<Row> rows = {
        {"get", {Get("/echo")}},
        {"head", {Get("/echo", "", "HEAD")}},
        {"not found", {Get("/nothing-here")}},
        {"chunked answer", {Get("/chunked")}},
        {"body with length", {"POST /echo HTTP/1.1\r\nHost: 127.0.0.1\r\nContent-Length: 5\r\n\r\nhello"}},
        {"chunked body",
         {"POST /echo HTTP/1.1\r\nHost: 127.0.0.1\r\nTransfer-Encoding: chunked\r\n\r\n"
          "3\r\nabc\r\n4\r\ndefg\r\n0\r\n\r\n"}},
        {"expect continue",
         {"POST /echo HTTP/1.1\r\nHost: 127.0.0.1\r\nContent-Length: 3\r\nExpect: 100-continue\r\n\r\nabc"}},
        {"pipelined",
         {"POST /echo HTTP/1.1\r\nHost: 127.0.0.1\r\nContent-Length: 2\r\n\r\nxy", Get("/echo"),
          Get("/echo", "Connection: close\r\n")}},
    };
    return rows;
}

std::string Joined(const std::vector<std::string>& requests, size_t count) {
    std::string bytes;
    for (size_t i = 0; i < count; ++i) {
        bytes += requests[i];
    }
    return bytes;
}

// What the server writes for these bytes (read at most read_piece at a time), and how many
// answers it wrote successfully.
struct Served {
    std::string output;
    size_t answered = 0;
};
Served Serve(KL_HttpRequestHandler& handler, const std::string& bytes, size_t read_piece = SIZE_MAX) {
    auto state = std::make_shared<ScriptedConnection>();
    state->input = bytes;
    state->read_piece = read_piece;
    Served served;
    for (KL_Result result : upnp_test::Serve(handler, state)) {
        served.answered += KL_SUCCEEDED(result) ? 1 : 0;
    }
    served.output = state->output;
    return served;
}

} // namespace

TEST(RequestPieces, OneByteAtATimeIsAnsweredAsTheWholeRequest) {
    TestHandler handler;
    for (const Row& row : Rows()) {
        SCOPED_TRACE(row.name);
        const std::string bytes = Joined(row.requests, row.requests.size());
        const Served whole = Serve(handler, bytes);
        EXPECT_EQ(whole.answered, row.requests.size());
        EXPECT_EQ(Serve(handler, bytes, 1).output, whole.output);
    }
}

// A head that ends with the stream is taken for what it holds (a datagram may lack its empty
// line), so a cut inside a head may get one answer; a cut inside a body never does, and the
// answers to the requests before the cut come whole.
TEST(RequestPieces, ACutBodyIsNeverAnswered) {
    TestHandler handler;
    const std::regex interim("HTTP/1\\.1 100 Continue\r\n\r\n"); // sent before a body is read
    for (const Row& row : Rows()) {
        SCOPED_TRACE(row.name);
        const std::string bytes = Joined(row.requests, row.requests.size());
        size_t request = 0;
        size_t start = 0; // of the request the cut falls in
        std::string before;
        for (size_t cut = 0; cut < bytes.size(); ++cut) {
            if (cut == start + row.requests[request].size()) {
                start = cut;
                before = Serve(handler, Joined(row.requests, ++request)).output;
            }
            const std::string output =
                std::regex_replace(Serve(handler, bytes.substr(0, cut)).output, interim, "");
            ASSERT_EQ(output.substr(0, before.size()), before) << "cut at " << cut;
            const std::string rest = output.substr(before.size());
            const bool in_head = cut > start && cut - start < row.requests[request].find("\r\n\r\n") + 4;
            if (!in_head || rest.find("HTTP/1.1 ") != 0) {
                ASSERT_EQ(rest, "") << "cut at " << cut;
            }
            ASSERT_EQ(rest.find("HTTP/1.1 ", 1), std::string::npos) << "cut at " << cut;
        }
    }
}

// The same through a running server: each byte in a segment of its own over loopback.
class RequestPiecesOverLoopback : public ServerFixture {
protected:
    void SetUp() override { StartServer(); }
};

TEST_F(RequestPiecesOverLoopback, OneByteAtATimeIsAnsweredAsTheWholeRequest) {
    for (const Row& row : Rows()) {
        SCOPED_TRACE(row.name);
        const bool head = row.requests[0].rfind("HEAD", 0) == 0;
        RawClient whole(m_Port);
        RawClient pieces(m_Port);
        ASSERT_TRUE(whole.Send(Joined(row.requests, row.requests.size())));
        ASSERT_TRUE(pieces.SendByteByByte(Joined(row.requests, row.requests.size())));
        for (size_t i = 0; i < row.requests.size(); ++i) {
            Answer expected = whole.Read(head);
            Answer answer = pieces.Read(head);
            if (expected.status == 100) {
                expected = whole.Read();
                answer = pieces.Read();
            }
            EXPECT_NE(expected.status, 0);
            EXPECT_EQ(answer.status, expected.status);
            EXPECT_EQ(answer.body, expected.body);
            EXPECT_EQ(answer.Get("content-length"), expected.Get("content-length"));
        }
    }
}
