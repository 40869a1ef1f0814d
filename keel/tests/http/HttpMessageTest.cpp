// HTTP heads: request and status lines, header blocks and their bounds, emitting, entities.
#include "../streams/TestStreams.h"
#include "HttpTestStreams.h"
#include "KL_HttpEntity.h"
#include "KL_HttpRequest.h"
#include "KL_HttpResponse.h"
#include "KL_MemoryStream.h"
#include "KL_SocketAddress.h"

#include <gtest/gtest.h>

#include <memory>
#include <string>

using namespace http_test;

namespace {

KL_Result ParseRequest(const std::string& text, std::unique_ptr<KL_HttpRequest>& out,
                       const KL_SocketAddress* endpoint = nullptr, KL_Result end_result = KL_ERROR_EOS) {
    KL_InputStreamReference stream = Buffered(text, end_result);
    KL_HttpRequest* request = reinterpret_cast<KL_HttpRequest*>(1);
    const KL_Result result = KL_HttpRequest::Parse(AsBuffered(stream), endpoint, request);
    EXPECT_EQ(KL_FAILED(result), request == nullptr);
    out.reset(request);
    return result;
}

KL_Result ParseResponse(const std::string& text, std::unique_ptr<KL_HttpResponse>& out,
                        KL_Result end_result = KL_ERROR_EOS) {
    KL_InputStreamReference stream = Buffered(text, end_result);
    KL_HttpResponse* response = reinterpret_cast<KL_HttpResponse*>(1);
    const KL_Result result = KL_HttpResponse::Parse(AsBuffered(stream), response);
    EXPECT_EQ(KL_FAILED(result), response == nullptr);
    out.reset(response);
    return result;
}

std::string HeaderList(const KL_HttpHeaders& headers) {
    std::string list;
    for (const KL_HttpHeader* header : headers.GetHeaders()) {
        list += std::string(header->GetName().GetChars()) + "=" + header->GetValue().GetChars() + "|";
    }
    return list;
}

template <typename M> std::string Emitted(const M& message) {
    KL_MemoryStream stream;
    EXPECT_EQ(message.Emit(stream), KL_SUCCESS);
    return std::string(reinterpret_cast<const char*>(stream.GetData()), stream.GetDataSize());
}

const KL_SocketAddress kEndpoint(KL_IpAddress(192, 168, 1, 5), 5000);

struct RequestCase {
    const char* text;
    const KL_SocketAddress* endpoint;
    KL_Result result;
    const char* method;
    const char* url; // ToString(true) of the request's URL
    const char* protocol;
};

const RequestCase kRequestCases[] = {
    {"\r\n\r\nGET /a%20b?x=1 HTTP/1.1\r\nHost: example:8080\r\n\r\n", nullptr, KL_SUCCESS, "GET",
     "http://example:8080/a%20b?x=1", "HTTP/1.1"},
    {"GET /a%20b?x=1 HTTP/1.1\r\nHost: example:8080\r\n\r\n", &kEndpoint, KL_SUCCESS, "GET",
     "http://example:5000/a%20b?x=1", "HTTP/1.1"},
    {"GET / HTTP/1.0\r\n\r\n", nullptr, KL_SUCCESS, "GET", "http://localhost/", "HTTP/1.0"},
    {"GET /p#f HTTP/1.0\n\n", &kEndpoint, KL_SUCCESS, "GET", "http://192.168.1.5:5000/p#f", "HTTP/1.0"},
    {"GET http://h:81/p HTTP/1.1\r\nHost: other\r\n\r\n", &kEndpoint, KL_SUCCESS, "GET", "http://h:81/p",
     "HTTP/1.1"},
    {"GET HTTP://h/p HTTP/1.1\r\n\r\n", nullptr, KL_SUCCESS, "GET", "http://h/p", "HTTP/1.1"},
    {"M-SEARCH * HTTP/1.1\r\nHOST: 239.255.255.250:1900\r\n\r\n", nullptr, KL_SUCCESS, "M-SEARCH",
     "http://239.255.255.250:1900*", "HTTP/1.1"},
    {"GET / HTTP/1.1 extra words\r\n\r\n", nullptr, KL_SUCCESS, "GET", "http://localhost/",
     "HTTP/1.1 extra words"},
    {"GET / HTTP/1.1", nullptr, KL_SUCCESS, "GET", "http://localhost/", "HTTP/1.1"}, // a datagram's end
    {"GET /\r\n\r\n", nullptr, KL_ERROR_HTTP_INVALID_REQUEST_LINE, "", "", ""},
    {"GET\r\n\r\n", nullptr, KL_ERROR_HTTP_INVALID_REQUEST_LINE, "", "", ""},
    {"", nullptr, KL_ERROR_EOS, "", "", ""},
    {"\r\n\r\n", nullptr, KL_ERROR_EOS, "", "", ""},
};

TEST(HttpRequest, ParseTable) {
    for (const RequestCase& c : kRequestCases) {
        SCOPED_TRACE(c.text);
        std::unique_ptr<KL_HttpRequest> request;
        ASSERT_EQ(ParseRequest(c.text, request, c.endpoint), c.result);
        if (c.result == KL_SUCCESS) {
            EXPECT_STREQ(request->GetMethod().GetChars(), c.method);
            EXPECT_STREQ(request->GetUrl().ToString(true).GetChars(), c.url);
            EXPECT_STREQ(request->GetProtocol().GetChars(), c.protocol);
        }
    }
}

TEST(HttpHeaders, BlockTable) {
    const struct {
        const char* block;
        const char* headers;
    } cases[] = {
        {"X-A:   one\r\n  two\r\n\tthree\r\n\r\n", "X-A=one twothree|"},
        {"no colon\r\n: empty name\r\nName : v\r\n\r\n", "Name =v|"},
        {"A: 1\r\nB:\r\nA: 2 \r\n\r\n", "A=1|B=|A=2|"},
        {"  leading fold\r\nC: x\r\n", "C=x|"},
        {"D: a\rb\r\nE: 1\n\n", "D=ab|E=1|"},
        {"F: tail", "F=tail|"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.block);
        KL_InputStreamReference stream = Buffered(c.block);
        KL_HttpHeaders headers;
        ASSERT_EQ(headers.Parse(AsBuffered(stream)), KL_SUCCESS);
        EXPECT_EQ(HeaderList(headers), c.headers);
    }
}

TEST(HttpHeaders, Operations) {
    KL_HttpHeaders headers;
    headers.AddHeader("Connection", "keep-alive");
    headers.AddHeader("X-Twice", "1");
    headers.AddHeader("x-twice", "2");
    EXPECT_EQ(headers.SetHeader("CONNECTION", "close", false), KL_SUCCESS);
    EXPECT_STREQ(headers.GetHeaderValue("connection"), "keep-alive");
    headers.SetHeader("connection", "close");
    EXPECT_STREQ(headers.GetHeaderValue("Connection"), "close");
    EXPECT_EQ(headers.RemoveHeader("X-TWICE"), KL_SUCCESS);
    EXPECT_EQ(headers.GetHeader("x-twice"), nullptr);
    EXPECT_EQ(headers.RemoveHeader("X-Twice"), KL_ERROR_NO_SUCH_ITEM);
    EXPECT_EQ(headers.GetHeaderValue(nullptr), nullptr);
    EXPECT_EQ(HeaderList(headers), "Connection=close|");
}

// The block's bounds: 100 lines, 64 KiB, 8191 bytes a line; read failures are handed up.
TEST(HttpHeaders, BoundsAndReadFailures) {
    auto lines = [](int n, const std::string& line) {
        std::string block;
        for (int i = 0; i < n; ++i) {
            block += line + "\r\n";
        }
        return block;
    };
    const std::string long_value(8000, 'v');
    const struct {
        std::string block;
        KL_Result end_result;
        KL_Result result;
    } cases[] = {
        {lines(100, "X: 1") + "\r\n", KL_ERROR_EOS, KL_SUCCESS},
        {lines(101, "X: 1") + "\r\n", KL_ERROR_EOS, KL_ERROR_NOT_ENOUGH_SPACE},
        {lines(1, "X: 1") + lines(100, " fold"), KL_ERROR_EOS, KL_ERROR_NOT_ENOUGH_SPACE},
        {lines(8, "X: " + long_value) + "\r\n", KL_ERROR_EOS, KL_SUCCESS},
        {lines(9, "X: " + long_value) + "\r\n", KL_ERROR_EOS, KL_ERROR_NOT_ENOUGH_SPACE},
        {"X: " + std::string(8188, 'v') + "\r\n\r\n", KL_ERROR_EOS, KL_SUCCESS},
        {"X: " + std::string(8189, 'v') + "\r\n\r\n", KL_ERROR_EOS, KL_ERROR_NOT_ENOUGH_SPACE},
        {"X: 1\r\nY: 2", KL_ERROR_TIMEOUT, KL_ERROR_TIMEOUT},
        {"X: 1\r\n", KL_ERROR_CONNECTION_RESET, KL_ERROR_CONNECTION_RESET},
        {"X: 1\r\n", KL_ERROR_EOS, KL_SUCCESS},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.block.substr(0, 40));
        KL_InputStreamReference stream = Buffered(c.block, c.end_result);
        KL_HttpHeaders headers;
        EXPECT_EQ(headers.Parse(AsBuffered(stream)), c.result);
        std::unique_ptr<KL_HttpRequest> request;
        EXPECT_EQ(ParseRequest("GET / HTTP/1.1\r\n" + c.block, request, nullptr, c.end_result), c.result);
        std::unique_ptr<KL_HttpResponse> response;
        EXPECT_EQ(ParseResponse("HTTP/1.1 200 OK\r\n" + c.block, response, c.end_result), c.result);
    }
}

// Endless input stops at the bounds, having read no more than a block's worth.
TEST(HttpHeaders, EndlessInputIsCut) {
    const struct {
        const char* prefix;
        const char* pattern;
    } cases[] = {
        {"GET / HTTP/1.1\r\n", "X-A: 1\r\n"},
        {"GET / HTTP/1.1\r\nX: ", "v"},
        {"GET / HTTP/1.1\r\nX: 1\r\n", " fold\r\n"},
        {"", "\r\n"},
        {"", "G"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.pattern);
        auto* endless = new EndlessInputStream(c.prefix, c.pattern);
        KL_InputStreamReference raw(endless, true);
        KL_BufferedInputStream buffered(raw);
        KL_HttpRequest* request = nullptr;
        EXPECT_EQ(KL_HttpRequest::Parse(buffered, nullptr, request), KL_ERROR_NOT_ENOUGH_SPACE);
        EXPECT_EQ(request, nullptr);
        EXPECT_LT(endless->Delivered(), 2u * KL_HTTP_PROTOCOL_MAX_HEADER_BYTES);
    }
}

TEST(HttpResponse, StatusLineTable) {
    const struct {
        const char* line;
        KL_Result result;
        int code;
        const char* reason;
    } cases[] = {
        {"HTTP/1.1 200 OK", KL_SUCCESS, 200, "OK"},
        {"HTTP/1.1 200", KL_SUCCESS, 200, ""},
        {"HTTP/1.0 404 Not Found here", KL_SUCCESS, 404, "Not Found here"},
        {"HTTP/1.1 abc Bad", KL_SUCCESS, 0, "Bad"},
        {"HTTP/1.1 200 ", KL_SUCCESS, 200, ""},
        {"HTTP/1.1 2000 OK", KL_ERROR_HTTP_INVALID_RESPONSE_LINE, 0, ""},
        {" HTTP/1.1 200 OK", KL_ERROR_HTTP_INVALID_RESPONSE_LINE, 0, ""},
        {"HTTP/1.1 20", KL_ERROR_HTTP_INVALID_RESPONSE_LINE, 0, ""},
        {"HTTP/1.1", KL_ERROR_HTTP_INVALID_RESPONSE_LINE, 0, ""},
        {"", KL_ERROR_HTTP_INVALID_RESPONSE_LINE, 0, ""},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.line);
        std::unique_ptr<KL_HttpResponse> response;
        ASSERT_EQ(ParseResponse(std::string(c.line) + "\r\nServer: x\r\n\r\n", response), c.result);
        if (c.result == KL_SUCCESS) {
            EXPECT_EQ(response->GetStatusCode(), c.code);
            EXPECT_STREQ(response->GetReasonPhrase().GetChars(), c.reason);
            EXPECT_STREQ(response->GetHeaders().GetHeaderValue("server"), "x");
        }
    }
    std::unique_ptr<KL_HttpResponse> response;
    EXPECT_EQ(ParseResponse("", response), KL_ERROR_EOS);
    EXPECT_EQ(ParseResponse("HTTP/1.1 200 OK", response, KL_ERROR_TIMEOUT), KL_ERROR_TIMEOUT);
}

TEST(HttpMessage, Emit) {
    KL_HttpRequest request("https://h:8443/a%20b?q=1#frag", "GET", "HTTP/1.1");
    request.GetHeaders().AddHeader("Host", "h:8443");
    EXPECT_EQ(Emitted(request), "GET /a%20b?q=1 HTTP/1.1\r\nHost: h:8443\r\n\r\n");
    KL_MemoryStream proxied;
    EXPECT_EQ(request.Emit(proxied, true), KL_SUCCESS);
    EXPECT_EQ(std::string(reinterpret_cast<const char*>(proxied.GetData()), proxied.GetDataSize()),
              "GET https://h:8443/a%20b?q=1 HTTP/1.1\r\nHost: h:8443\r\n\r\n");
    request.SetUrl("http://h:80/p?x");
    KL_MemoryStream proxied_default;
    EXPECT_EQ(request.Emit(proxied_default, true), KL_SUCCESS);
    EXPECT_EQ(
        std::string(reinterpret_cast<const char*>(proxied_default.GetData()), proxied_default.GetDataSize()),
        "GET http://h/p?x HTTP/1.1\r\nHost: h:8443\r\n\r\n");

    KL_HttpResponse response(204, "", "HTTP/1.1");
    EXPECT_EQ(Emitted(response), "HTTP/1.1 204 \r\n\r\n");
    response.SetStatus(404, "Not Found");
    response.GetHeaders().AddHeader("Content-Length", "0");
    EXPECT_EQ(Emitted(response), "HTTP/1.1 404 Not Found\r\nContent-Length: 0\r\n\r\n");
}

// Each write of a head failing in turn: the failure comes back and nothing follows it.
TEST(HttpMessage, EmitHandsUpTheFirstFailedWrite) {
    KL_HttpRequest request("http://h/p", "GET", "HTTP/1.1");
    request.GetHeaders().AddHeader("Host", "h");
    request.GetHeaders().AddHeader("Accept", "*/*");
    KL_HttpResponse response(200, "OK", "HTTP/1.1");
    response.GetHeaders().AddHeader("Content-Length", "0");
    const KL_HttpMessage* messages[] = {&request, &response};
    for (const KL_HttpMessage* message : messages) {
        const std::string whole = Emitted(*message);
        for (int call = 1;; ++call) {
            SCOPED_TRACE(whole + " failing at write " + std::to_string(call));
            ScriptedOutputStream output;
            output.fail_on_call = call;
            const KL_Result result = message->Emit(output);
            if (output.data == whole) {
                EXPECT_EQ(result, KL_SUCCESS);
                break;
            }
            ASSERT_EQ(result, KL_ERROR_WRITE_FAILED);
            ASSERT_EQ(whole.compare(0, output.data.size(), output.data), 0) << output.data;
        }
    }
}

TEST(HttpEntity, FromHeadersAndBody) {
    KL_HttpHeaders headers;
    headers.AddHeader("content-length", "abc");
    headers.AddHeader("Transfer-Encoding", "Chunked");
    KL_HttpEntity entity(headers);
    EXPECT_TRUE(entity.ContentLengthIsKnown());
    EXPECT_EQ(entity.GetContentLength(), 0u);
    EXPECT_TRUE(entity.IsChunked());
    EXPECT_FALSE(KL_HttpEntity::IsChunked("gzip"));

    KL_DataBuffer buffer;
    EXPECT_EQ(entity.Load(buffer), KL_ERROR_INVALID_STATE);
    KL_InputStreamReference none;
    EXPECT_EQ(entity.GetInputStream(none), KL_FAILURE);
    EXPECT_EQ(entity.SetInputStream(static_cast<const char*>(nullptr)), KL_ERROR_INVALID_PARAMETERS);
    entity.SetInputStream("hello");
    EXPECT_EQ(entity.GetContentLength(), 5u);
    ASSERT_EQ(entity.Load(buffer), KL_SUCCESS);
    EXPECT_EQ(std::string(reinterpret_cast<const char*>(buffer.GetData()), buffer.GetDataSize()), "hello");
    entity.SetContentLength(0x100000000ull);
    EXPECT_EQ(entity.Load(buffer), KL_ERROR_OUT_OF_RANGE);

    KL_HttpResponse response(200, "OK");
    auto* held = new KL_HttpEntity();
    response.SetEntity(held);
    response.SetEntity(held); // the same entity again is kept, not deleted
    EXPECT_EQ(response.GetEntity(), held);
}

} // namespace
