// WriteRequest and ReadResponse on their own: the exact bytes written, and every failure of the
// streams (at each call in turn) handed up with nothing leaked.
#include "../http/HttpTestStreams.h"
#include "../streams/TestStreams.h"
#include "ClientTestSupport.h"

#include <gtest/gtest.h>

namespace {

struct WriteCase {
    const char* url;
    const char* method;
    const char* body; // null: none
    const char* transfer_encoding;
    bool should_persist;
    bool use_proxy;
    const char* expected;
};

TEST(HttpClientWriteRequest, WritesTheExactBytes) {
    const WriteCase cases[] = {
        {"http://h/p?q", "GET", nullptr, "", false, false,
         "GET /p?q HTTP/1.1\r\nConnection: close\r\nHost: h\r\n\r\n"},
        {"http://h:81/", "GET", nullptr, "", true, false, "GET / HTTP/1.1\r\nHost: h:81\r\n\r\n"},
        {"https://h:443/", "GET", nullptr, "", true, true, "GET / HTTP/1.1\r\nHost: h\r\n\r\n"},
        {"https://h:80/", "GET", nullptr, "", true, false, "GET / HTTP/1.1\r\nHost: h:80\r\n\r\n"},
        {"http://h/x", "GET", nullptr, "", true, true, "GET http://h/x HTTP/1.1\r\nHost: h\r\n\r\n"},
        {"http://h/", "POST", "abc", "", true, false,
         "POST / HTTP/1.1\r\nHost: h\r\nContent-Length: 3\r\n\r\nabc"},
        {"http://h/", "PUT", "abcdef", "chunked", true, false,
         "PUT / HTTP/1.1\r\nHost: h\r\nTransfer-Encoding: chunked\r\n\r\n6\r\nabcdef\r\n0\r\n\r\n"},
    };
    for (const WriteCase& c : cases) {
        KL_HttpRequest request(c.url, c.method, KL_HTTP_PROTOCOL_1_1);
        if (c.body != nullptr) {
            KL_HttpEntity* entity = new KL_HttpEntity();
            (void)entity->SetInputStream(c.body);
            (void)entity->SetTransferEncoding(c.transfer_encoding);
            (void)request.SetEntity(entity);
        }
        ScriptedOutputStream output(5);
        EXPECT_EQ(KL_HttpClient::WriteRequest(output, request, c.should_persist, c.use_proxy), KL_SUCCESS);
        EXPECT_EQ(output.data, c.expected) << c.url << " " << c.method;
    }
}

TEST(HttpClientWriteRequest, HandsUpEveryWriteFailure) {
    for (int call = 1;; ++call) {
        KL_HttpRequest request("http://h/", "POST", KL_HTTP_PROTOCOL_1_1);
        KL_HttpEntity* entity = new KL_HttpEntity();
        (void)entity->SetInputStream("some body text");
        (void)request.SetEntity(entity);
        ScriptedOutputStream output(4);
        output.fail_on_call = call;
        const KL_Result result = KL_HttpClient::WriteRequest(output, request, true, false);
        if (KL_SUCCEEDED(result)) {
            EXPECT_GT(call, 10);
            break;
        }
        EXPECT_EQ(result, KL_ERROR_WRITE_FAILED) << call;
        ASSERT_LT(call, 1000);
    }
}

TEST(HttpClientReadResponse, HandsUpEveryReadFailure) {
    const std::string answer =
        "HTTP/1.1 100 Continue\r\n\r\nHTTP/1.1 200 OK\r\nContent-Length: 4\r\nA: b\r\n\r\nbody";
    for (int call = 1;; ++call) {
        auto* raw = new http_test::ScriptedInputStream(answer, KL_ERROR_EOS, 7);
        raw->FailAtCall(call, KL_ERROR_CONNECTION_RESET);
        const KL_InputStreamReference input(raw);
        http_test::ConnectionLog log;
        KL_HttpClient::Connection* connection = new http_test::FakeConnection(log);
        KL_HttpResponse* response = nullptr;
        const KL_Result result = KL_HttpClient::ReadResponse(input, true, true, response, &connection);
        std::string body;
        KL_Result body_result = KL_FAILURE;
        if (KL_SUCCEEDED(result)) {
            EXPECT_EQ(connection, nullptr); // the body holds it now
            body_result = client_test::ReadBody(*response, body);
        } else {
            EXPECT_EQ(result, KL_ERROR_CONNECTION_RESET) << call;
            EXPECT_EQ(response, nullptr);
        }
        delete response;
        delete connection;
        EXPECT_EQ(log.deleted, 1);
        if (KL_SUCCEEDED(result) && KL_SUCCEEDED(body_result) && !raw->Failed()) {
            EXPECT_EQ(body, "body");
            EXPECT_EQ(log.recycled, 1);
            break;
        }
        ASSERT_LT(call, 1000);
    }
}

} // namespace
