// Request and response bodies over real loopback sockets, hostile input, and handler faults.

#include "CoreTestSupport.h"

#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <thread>

using coretest::exchange;
using coretest::get;
using coretest::HttpReply;

namespace {

class CoreConnection : public coretest::ServerTest {
protected:
    void SetUp() override { coretest::addEchoHandler(*server, &handlerCalls); }

    // The server still answers an ordinary request.
    void expectStillServing() {
        HttpReply reply = get(port(), "/alive");
        EXPECT_EQ(reply.status, 200);
        EXPECT_EQ(reply.body, "GET /alive\n");
    }
};

std::string pattern(std::size_t size) {
    std::string text(size, '\0');
    for (std::size_t i = 0; i < size; ++i) {
        text[i] = static_cast<char>('A' + (i * 7 + i / 251) % 26);
    }
    return text;
}

// A request head; `headers` are header lines separated by CR LF, without the last line end.
std::string head(const std::string& requestLine, const std::string& headers) {
    return requestLine + " HTTP/1.1\r\nHost: localhost\r\n" + headers + "\r\n\r\n";
}

} // namespace

// ---- Request bodies ----

TEST_F(CoreConnection, FixedLengthChunkedAndGzipUploads) {
    ASSERT_TRUE(startServer());
    const std::string big = pattern(700 * 1024); // larger than one read
    const std::string text = pattern(400 * 1024);
    const std::string packed = coretest::gzipCompress(text);
    const std::pair<std::string, std::string> cases[] = {
        {head("POST /big", "Content-Length: " + std::to_string(big.size())) + big, "POST /big\n" + big},
        {head("PUT /c", "Transfer-Encoding: chunked") +
             "5;name=x\r\nhello\r\n1\r\n \r\nA\r\n0123456789\r\n0\r\nX-T: 1\r\n\r\n",
         "PUT /c\nhello 0123456789"},
        {head("POST /z", "Content-Encoding: gzip\r\nContent-Length: " + std::to_string(packed.size())) +
             packed,
         "POST /z\n" + text},
    };
    for (const auto& [request, echoed] : cases) {
        HttpReply reply = exchange(port(), request);
        EXPECT_EQ(reply.status, 200) << echoed.substr(0, 20);
        EXPECT_TRUE(reply.body == echoed) << echoed.substr(0, 20) << ": " << reply.body.size();
    }
}

TEST_F(CoreConnection, ChunkedUploadWhoseLastLineComesLater) {
    ASSERT_TRUE(startServer());
    coretest::RawClient client;
    ASSERT_TRUE(client.connect(AF_INET, port(), true));
    ASSERT_TRUE(client.send(head("PUT /c", "Transfer-Encoding: chunked") + "3\r\nabc\r\n0\r\n"));
    std::this_thread::sleep_for(std::chrono::milliseconds(150));
    EXPECT_EQ(handlerCalls, 0);
    ASSERT_TRUE(client.send("\r\n"));
    HttpReply reply = coretest::parseReply(client.readAll());
    EXPECT_EQ(reply.status, 200);
    EXPECT_EQ(reply.body, "PUT /c\nabc");
}

// A body of 1-byte chunks reaches the request in large pieces, not one write per chunk.
TEST_F(CoreConnection, TinyChunksAreWrittenInLargePieces) {
    std::atomic<int> writes{-1};
    server->addHandlerWithMatchBlock(
        [](const std::string& method, const Url& url, const HeaderDictionary& headers,
           const std::string& path, const QueryDictionary& query) {
            return WebServerRequest::create<coretest::CollectingRequest>(method, url, headers, path, query);
        },
        [&writes](const std::shared_ptr<WebServerRequest>& request) -> std::shared_ptr<WebServerResponse> {
            const auto& collecting = static_cast<const coretest::CollectingRequest&>(*request);
            writes = collecting.writeCount;
            return coretest::textResponse(std::to_string(collecting.body.size()));
        });
    ASSERT_TRUE(startServer());
    std::string chunks;
    for (int i = 0; i < 300000; ++i) {
        chunks += "1\r\nx\r\n";
    }
    HttpReply reply = exchange(port(), head("PUT /c", "Transfer-Encoding: chunked") + chunks + "0\r\n\r\n");
    EXPECT_EQ(reply.status, 200);
    EXPECT_EQ(reply.body, "300000");
    EXPECT_GE(writes, 1);
    EXPECT_LE(writes, 2); // 256 KiB pieces
}

// A head must be complete within the head time-out of its first byte, and a body must keep the
// minimum rate, whatever the idle time-out.
TEST_F(CoreConnection, SlowHeadsAndBodiesAreClosed) {
    ASSERT_TRUE(startServer({{WebServerOption_ConnectionIdleTimeout, 60.0},
                             {WebServerOption_HeadTimeout, 0.5},
                             {WebServerOption_MinimumBodyRate, 1000.0},
                             {WebServerOption_BodyRateInterval, 0.5}}));
    const std::string partial[] = {"GET / HTTP/1.1\r\nHo",
                                   head("POST /u", "Content-Length: 100000") + "only some"};
    std::vector<std::unique_ptr<coretest::RawClient>> clients;
    for (const std::string& bytes : partial) {
        clients.push_back(std::make_unique<coretest::RawClient>());
        ASSERT_TRUE(clients.back()->connect(AF_INET, port()));
        ASSERT_TRUE(clients.back()->send(bytes));
    }
    for (int i = 0; i < 500 && server->activeConnections() < 2; ++i) {
        std::this_thread::sleep_for(std::chrono::milliseconds(10));
    }
    EXPECT_TRUE(waitForIdle(8.0)) << "slow connections were kept open";
    EXPECT_EQ(handlerCalls, 0);
    expectStillServing();
}

TEST_F(CoreConnection, MalformedBodiesGive500AndServerKeepsServing) {
    ASSERT_TRUE(startServer());
    const std::string truncated = coretest::gzipCompress(pattern(10000)).substr(0, 40);
    const std::string chunked = head("PUT /c", "Transfer-Encoding: chunked");
    for (const std::string& request :
         {chunked + "3\r\nabcXY0\r\n\r\n", chunked + "ffffffffffffffff\r\nabc",
          head("POST /z", "Content-Encoding: gzip\r\nContent-Length: " + std::to_string(truncated.size())) +
              truncated}) {
        EXPECT_EQ(exchange(port(), request).status, 500) << request.substr(0, 60);
    }
    EXPECT_EQ(handlerCalls, 0);
    expectStillServing();
}

TEST_F(CoreConnection, ClientClosingMidBodyCallsNoHandler) {
    ASSERT_TRUE(startServer());
    coretest::RawClient client;
    ASSERT_TRUE(client.connect(AF_INET, port()));
    ASSERT_TRUE(client.send(head("POST /cut", "Content-Length: 1000") + "only ten b"));
    client.shutdownWrite();
    HttpReply reply = coretest::parseReply(client.readAll());
    EXPECT_EQ(reply.status, 500);
    EXPECT_TRUE(waitForIdle());
    EXPECT_EQ(handlerCalls, 0);
    expectStillServing();
}

// ---- Heads ----

TEST_F(CoreConnection, HeadArrivingOneByteAtATime) {
    ASSERT_TRUE(startServer());
    coretest::RawClient client;
    ASSERT_TRUE(client.connect(AF_INET, port(), true));
    const std::string wire = head("POST /slowly", "Content-Length: 4") + "body";
    for (char c : wire) {
        ASSERT_TRUE(client.send(std::string(1, c)));
        std::this_thread::sleep_for(std::chrono::microseconds(500));
    }
    HttpReply reply = coretest::parseReply(client.readAll());
    EXPECT_EQ(reply.status, 200);
    EXPECT_EQ(reply.body, "POST /slowly\nbody");
}

TEST_F(CoreConnection, OneMebibyteHeadGives500AndServerKeepsServing) {
    ASSERT_TRUE(startServer());
    std::string wire = "GET /huge HTTP/1.1\r\nHost: localhost\r\n";
    const std::string line = "X-Filler: " + std::string(90, 'f') + "\r\n";
    while (wire.size() < (1u << 20)) {
        wire += line;
    }
    wire += "\r\n";
    coretest::RawClient client;
    ASSERT_TRUE(client.connect(AF_INET, port()));
    client.send(wire); // may fail once the server has given up and closed
    HttpReply reply = coretest::parseReply(client.readAll());
    EXPECT_EQ(reply.status, 500);
    EXPECT_EQ(handlerCalls, 0);
    expectStillServing();
}

// ---- Response bodies ----

TEST_F(CoreConnection, UnknownLengthResponseIsChunked) {
    addGet("/chunked", [](const std::shared_ptr<WebServerRequest>&) {
        return std::make_shared<coretest::StringResponse>("first;second;third", "text/plain", 6, false);
    });
    ASSERT_TRUE(startServer());
    HttpReply reply = get(port(), "/chunked");
    EXPECT_EQ(*reply.header("Transfer-Encoding"), "chunked");
    EXPECT_EQ(reply.header("Content-Length"), nullptr);
    EXPECT_EQ(reply.body, "6\r\nfirst;\r\n6\r\nsecond\r\n6\r\n;third\r\n0\r\n\r\n");
}

TEST_F(CoreConnection, GzipResponseForClientsThatAcceptIt) {
    const std::string text = pattern(300 * 1024);
    addGet("/gz", [text](const std::shared_ptr<WebServerRequest>& request) {
        auto response = std::make_shared<coretest::StringResponse>(text);
        response->setGzipContentEncodingEnabled(request->acceptsGzipContentEncoding());
        return response;
    });
    ASSERT_TRUE(startServer());
    HttpReply packed = get(port(), "/gz", "Accept-Encoding: gzip\r\n");
    EXPECT_EQ(*packed.header("Content-Encoding"), "gzip");
    EXPECT_EQ(*packed.header("Transfer-Encoding"), "chunked");
    EXPECT_EQ(packed.header("Content-Length"), nullptr);
    std::string unchunked;
    std::string inflated;
    ASSERT_TRUE(coretest::dechunk(packed.body, &unchunked));
    ASSERT_TRUE(coretest::gunzip(unchunked, &inflated));
    EXPECT_TRUE(inflated == text);
    HttpReply plain = get(port(), "/gz");
    EXPECT_EQ(plain.header("Content-Encoding"), nullptr);
    EXPECT_EQ(*plain.header("Content-Length"), std::to_string(text.size()));
    EXPECT_TRUE(plain.body == text);
}

// ---- Handler faults ----

TEST_F(CoreConnection, HandlerFaults) {
    addGet("/none", [](const std::shared_ptr<WebServerRequest>&) -> std::shared_ptr<WebServerResponse> {
        return nullptr;
    });
    addGet("/throw", [](const std::shared_ptr<WebServerRequest>&) -> std::shared_ptr<WebServerResponse> {
        throw std::runtime_error("handler failure");
    });
    // Its request stays whole while it runs, though the first completion has answered already.
    addGet("/twice",
           [](const std::shared_ptr<WebServerRequest>& request, WebServerCompletionBlock completion) {
               completion(coretest::textResponse("one"));
               completion(coretest::textResponse("two " + request->path()));
           });
    ASSERT_TRUE(startServer());
    EXPECT_EQ(get(port(), "/none").status, 500); // no response
    // A handler that throws ends the connection without a response.
    HttpReply reply = get(port(), "/throw");
    EXPECT_TRUE(reply.raw.empty()) << reply.raw;
    EXPECT_TRUE(waitForIdle());
    // A completion called twice answers once.
    reply = get(port(), "/twice");
    EXPECT_EQ(reply.status, 200);
    EXPECT_EQ(reply.body, "one");
    EXPECT_EQ(reply.raw.find("HTTP/1.1", 1), std::string::npos);
    expectStillServing();
}

TEST_F(CoreConnection, AsynchronousAnswerFromAnotherThread) {
    std::vector<std::thread> workers;
    std::mutex workersLock;
    addGet("/slow", [&workers, &workersLock](const std::shared_ptr<WebServerRequest>&,
                                             WebServerCompletionBlock completion) {
        std::lock_guard<std::mutex> guard(workersLock);
        workers.emplace_back([completion] {
            std::this_thread::sleep_for(std::chrono::milliseconds(100));
            completion(coretest::textResponse("later"));
        });
    });
    ASSERT_TRUE(startServer());
    const auto started = std::chrono::steady_clock::now();
    HttpReply reply = get(port(), "/slow");
    EXPECT_GE(std::chrono::steady_clock::now() - started, std::chrono::milliseconds(100));
    EXPECT_EQ(reply.body, "later");
    std::lock_guard<std::mutex> guard(workersLock);
    for (auto& worker : workers) {
        worker.join();
    }
}

namespace {

std::atomic<int> failingOpenError{0};

class FailingOpenRequest : public WebServerRequest {
public:
    using WebServerRequest::WebServerRequest;
    bool open(Error* error) override {
        platform::setError(error, Error::posix(failingOpenError));
        return false;
    }
};

class FailingOpenResponse : public WebServerResponse {
public:
    FailingOpenResponse() { setContentType("text/plain"); }
    bool open(Error* error) override {
        platform::setError(error, Error::posix(failingOpenError));
        return false;
    }
};

} // namespace

// A request body or a response body that cannot be opened for want of descriptors or memory
// answers 503 (the client may try again), a full disk 507, any other failure 500.
TEST_F(CoreConnection, BodiesThatCannotBeOpenedAnswerByTheirCause) {
    server->addHandlerForMethod(
        "PUT", "/in", WebServerRequestClass<FailingOpenRequest>(),
        [](const std::shared_ptr<WebServerRequest>&) { return coretest::textResponse("x"); });
    addGet("/out", [](const std::shared_ptr<WebServerRequest>&) -> std::shared_ptr<WebServerResponse> {
        return std::make_shared<FailingOpenResponse>();
    });
    ASSERT_TRUE(startServer());
    const struct {
        int error;
        int put;
        int get;
    } rows[] = {
        {EMFILE, 503, 503}, {ENFILE, 503, 503}, {ENOMEM, 503, 503}, {ENOSPC, 507, 500}, {EIO, 500, 500}};
    for (const auto& row : rows) {
        SCOPED_TRACE(row.error);
        failingOpenError = row.error;
        EXPECT_EQ(exchange(port(), "PUT /in HTTP/1.1\r\nHost: x\r\nContent-Length: 4\r\n\r\ndata").status,
                  row.put);
        EXPECT_EQ(get(port(), "/out").status, row.get);
    }
}
