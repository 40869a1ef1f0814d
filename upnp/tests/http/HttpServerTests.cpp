#include "HttpTestSupport.h"
#include "UP_HttpRequestContext.h"
#include "UP_HttpRequestHandler.h"

#include <atomic>
#include <chrono>
#include <dirent.h>
#include <future>
#include <thread>
#include <vector>

using namespace http_test;

namespace {

const char* const kPage404 = "<html><head><title>404 Not Found</title></head><body><h1>Not Found</h1><p>The "
                             "requested URL was not found on this server.</p></html>";
const char* const kPage403 =
    "<html><head><title>403 Forbidden</title></head><body><h1>Forbidden</h1><p>Access to "
    "this URL is forbidden.</p></html>";
const char* const kPage500 =
    "<html><head><title>500 Internal Error</title></head><body><h1>Internal Error</h1><p>The server "
    "encountered "
    "an unexpected condition which prevented it from fulfilling the request.</p></html>";

class HttpServerTest : public ServerFixture {
protected:
    void SetUp() override { StartServer(); }
};

} // namespace

TEST_F(HttpServerTest, TwoRequestsOnOneConnection) {
    RawClient client(m_Port);
    ASSERT_TRUE(client.IsConnected());
    for (int i = 0; i < 2; ++i) {
        Answer answer = client.Exchange(Get("/echo"));
        EXPECT_EQ(answer.status, 200);
        EXPECT_EQ(answer.body, "GET 0 ");
        EXPECT_FALSE(answer.Has("connection"));
        EXPECT_EQ(answer.Get("server"), "UPnP/1.0 DLNADOC/1.50 Lanyard/1.0.0");
        EXPECT_TRUE(answer.Has("date"));
        EXPECT_FALSE(answer.Has("content-language"));
    }
    EXPECT_EQ(client.Exchange(Get("/echo", "Accept-Language: de\r\n")).Get("content-language"), "en");
}

// The server's side of a kept-alive connection still sends at once after an answer (a Flush may
// switch TCP_NODELAY on for a moment only): found in /proc/self/fd by its local port.
TEST_F(HttpServerTest, ConnectionKeepsNoDelayAfterAnAnswer) {
    RawClient client(m_Port);
    ASSERT_EQ(client.Exchange(Get("/echo")).status, 200);
    std::vector<int> no_delay;
    DIR* fds = ::opendir("/proc/self/fd");
    ASSERT_NE(fds, nullptr);
    while (dirent* entry = ::readdir(fds)) {
        const int fd = std::atoi(entry->d_name);
        sockaddr_in local{};
        sockaddr_in peer{};
        socklen_t length = sizeof local;
        socklen_t peer_length = sizeof peer;
        int on = 0;
        socklen_t on_length = sizeof on;
        if (::getsockname(fd, reinterpret_cast<sockaddr*>(&local), &length) == 0 &&
            local.sin_family == AF_INET && ntohs(local.sin_port) == m_Port &&
            ::getpeername(fd, reinterpret_cast<sockaddr*>(&peer), &peer_length) == 0 &&
            ::getsockopt(fd, IPPROTO_TCP, TCP_NODELAY, &on, &on_length) == 0) {
            no_delay.push_back(on);
        }
    }
    ::closedir(fds);
    EXPECT_EQ(no_delay, std::vector<int>{1});
}

TEST_F(HttpServerTest, Http10IsNeverKeptAlive) {
    for (const char* headers : {"", "Connection: keep-alive\r\n"}) {
        RawClient client(m_Port);
        Answer answer = client.Exchange(Get("/echo", headers, "GET", "HTTP/1.0"));
        EXPECT_EQ(answer.status, 200);
        EXPECT_EQ(answer.Get("connection"), "close");
        EXPECT_TRUE(client.IsClosedByPeer());
    }
    RawClient client(m_Port);
    EXPECT_EQ(client.Exchange(Get("/echo", "Connection: close\r\n")).Get("connection"), "close");
    EXPECT_TRUE(client.IsClosedByPeer());
}

TEST_F(HttpServerTest, HeadGetsTheHeadersOfGetWithoutBody) {
    RawClient client(m_Port);
    Answer get = client.Exchange(Get("/nothing-here"));
    Answer head = client.Exchange(Get("/nothing-here", "", "HEAD"), true);
    EXPECT_EQ(head.status, 404);
    EXPECT_EQ(head.Get("content-length"), get.Get("content-length"));
    EXPECT_EQ(head.Get("content-type"), "text/html");
    // Nothing of a body came: the next answer on the connection starts right away.
    EXPECT_EQ(client.Exchange(Get("/echo")).body, "GET 0 ");
}

TEST_F(HttpServerTest, RequestBodies) {
    RawClient client(m_Port);
    // Head and body in one write (the body was read ahead with the head), then a chunked one.
    EXPECT_EQ(client.Exchange("POST /echo HTTP/1.1\r\nContent-Length: 5\r\n\r\nhello").body, "POST 5 hello");
    EXPECT_EQ(client
                  .Exchange("POST /echo HTTP/1.1\r\nTransfer-Encoding: chunked\r\n\r\n"
                            "3\r\nabc\r\n4\r\ndefg\r\n0\r\n\r\n")
                  .body,
              "POST 7 abcdefg");
    // Two requests in one write: both answered in order.
    ASSERT_TRUE(client.Send("POST /echo HTTP/1.1\r\nContent-Length: 2\r\n\r\nxyGET /echo HTTP/1.1\r\n\r\n"));
    EXPECT_EQ(client.Read().body, "POST 2 xy");
    EXPECT_EQ(client.Read().body, "GET 0 ");
    // A client waiting for "100 Continue" gets it before it sends its body.
    ASSERT_TRUE(client.Send("POST /echo HTTP/1.1\r\nContent-Length: 3\r\nExpect: 100-continue\r\n\r\n"));
    EXPECT_EQ(client.Read().status, 100);
    EXPECT_EQ(client.Exchange("abc").body, "POST 3 abc");
}

// A body that a GET or HEAD declares is read and dropped: it never passes for the next request.
TEST_F(HttpServerTest, BodiesOfGetAndHeadAreReadAndDropped) {
    struct Row {
        const char* request;
        bool head_only;
        const char* length; // of "METHOD 0 ": the handler saw no body
    } rows[] = {
        {"GET /echo HTTP/1.1\r\nContent-Length: 5\r\n\r\nhello", false, "6"},
        {"HEAD /echo HTTP/1.1\r\nContent-Length: 5\r\n\r\nhello", true, "7"},
        {"GET /echo HTTP/1.1\r\nTransfer-Encoding: chunked\r\n\r\n3\r\nabc\r\n0\r\n\r\n", false, "6"},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(row.request);
        RawClient client(m_Port);
        ASSERT_TRUE(client.Send(std::string(row.request) + Get("/echo")));
        Answer first = client.Read(row.head_only);
        EXPECT_EQ(first.status, 200);
        EXPECT_EQ(first.Get("content-length"), row.length);
        EXPECT_EQ(client.Read().body, "GET 0 ");
    }
}

// A body whose framing cannot be read safely is refused and the connection closed: the rest of
// it never passes for a next request.
TEST_F(HttpServerTest, BadlyFramedBodiesAreRefused) {
    struct Row {
        const char* headers;
        int status;
    } rows[] = {
        {"Content-Length: 3\r\nContent-Length: 5\r\n", 400},
        {"Content-Length: 3, 5\r\n", 400},
        {"Content-Length: 3junk\r\n", 400},
        {"Content-Length: +3\r\n", 400},
        {"Content-Length: -1\r\n", 400},
        {"Content-Length: \r\n", 400},
        {"Content-Length: 3\r\nTransfer-Encoding: chunked\r\n", 400},
        {"Transfer-Encoding: gzip\r\n", 501},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(row.headers);
        RawClient client(m_Port, 5);
        const std::string smuggled = "GET /status/20001 HTTP/1.1\r\n\r\n";
        ASSERT_TRUE(client.Send(std::string("POST /echo HTTP/1.1\r\n") + row.headers + "\r\nabc" + smuggled));
        Answer answer = client.Read();
        EXPECT_EQ(answer.status, row.status);
        EXPECT_EQ(answer.Get("connection"), "close");
        EXPECT_TRUE(client.IsClosedByPeer());
    }
}

TEST_F(HttpServerTest, OversizedBodiesAreRefusedWith413) {
    {
        RawClient client(m_Port);
        ASSERT_TRUE(client.Send("POST /echo HTTP/1.1\r\nContent-Length: 2097152\r\n\r\n"));
        ASSERT_TRUE(client.Send(std::string(256 * 1024, 'x')));
        Answer answer = client.Read();
        EXPECT_EQ(answer.status, 413);
        EXPECT_EQ(answer.Get("connection"), "close");
    }
    {
        RawClient client(m_Port);
        ASSERT_TRUE(client.Send("POST /echo HTTP/1.1\r\nTransfer-Encoding: chunked\r\n\r\n"));
        std::string chunk = "10000\r\n" + std::string(0x10000, 'y') + "\r\n";
        for (int i = 0; i < 17; ++i) { // 17 x 64 KiB: above the limit, and no last chunk
            ASSERT_TRUE(client.Send(chunk));
        }
        EXPECT_EQ(client.Read().status, 413);
    }
    // The server goes on serving.
    RawClient client(m_Port);
    EXPECT_EQ(client.Exchange(Get("/echo")).status, 200);
}

TEST_F(HttpServerTest, ChunkedAndUnknownLengthAnswers) {
    RawClient client(m_Port);
    Answer chunked = client.Exchange(Get("/chunked"));
    EXPECT_EQ(chunked.Get("transfer-encoding"), "chunked");
    EXPECT_FALSE(chunked.Has("content-length"));
    EXPECT_FALSE(chunked.Has("connection")); // kept alive without a Connection header
    EXPECT_EQ(chunked.body, "0123456789");
    Answer unknown = client.Exchange(Get("/nolength"));
    EXPECT_EQ(unknown.Get("connection"), "close");
    EXPECT_EQ(unknown.body, "0123456789");
}

TEST_F(HttpServerTest, HandlerResultsBecomePages) {
    struct Row {
        std::string path;
        int status;
        const char* reason;
        const char* page;
    } rows[] = {
        {"/nothing-here", 404, "Not Found", kPage404},      {"/status/20005", 404, "Not Found", kPage404},
        {"/status/20001", 403, "Forbidden", kPage403},      {"/status/1", 500, "Internal Error", kPage500},
        {"/status/20008", 500, "Internal Error", kPage500},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(row.path);
        RawClient client(m_Port);
        Answer answer = client.Exchange(Get(row.path));
        EXPECT_EQ(answer.status, row.status);
        EXPECT_EQ(answer.reason, row.reason);
        EXPECT_EQ(answer.Get("content-type"), "text/html");
        EXPECT_EQ(answer.body, row.page);
    }
    // KL_ERROR_TERMINATED: nothing at all is written.
    RawClient client(m_Port);
    ASSERT_TRUE(client.Send(Get("/status/20016")));
    EXPECT_TRUE(client.IsClosedByPeer());
}

// Answered each, some of them after a 503 while every slot was taken.
TEST_F(HttpServerTest, ManyConcurrentClientsAreAllAnswered) {
    UP_HttpServerLimits limits;
    limits.m_MaxConnectionsPerPeer = 0; // all of them come from 127.0.0.1
    StartServer(std::string(), &limits);
    constexpr int kClients = 150;
    std::atomic<int> answered{0};
    std::vector<std::thread> threads;
    for (int i = 0; i < kClients; ++i) {
        threads.emplace_back([&] {
            // While every slot is taken by this one peer, its next connection is refused at once
            // (503, or a reset when its request came before the close).
            for (int attempt = 0; attempt < 100; ++attempt) {
                RawClient client(m_Port, 60);
                if (client.Exchange(Get("/echo", "Connection: close\r\n")).status == 200) {
                    ++answered;
                    return;
                }
                std::this_thread::sleep_for(std::chrono::milliseconds(20));
            }
        });
    }
    for (std::thread& thread : threads) {
        thread.join();
    }
    EXPECT_EQ(answered.load(), kClients);
}

TEST(HttpServerLifecycleTest, StartStopCycles) {
    for (int i = 0; i < 20; ++i) {
        UP_HttpServer server(KL_IpAddress::Any, 0, true, 100, false);
        ASSERT_EQ(server.Start(), KL_SUCCESS);
        EXPECT_GE(server.GetPort(), 1024);
        EXPECT_LE(server.GetPort(), 2047);
        EXPECT_EQ(server.Start(), KL_ERROR_INVALID_STATE);
        EXPECT_EQ(server.Stop(), KL_SUCCESS);
        EXPECT_EQ(server.Stop(), KL_ERROR_INVALID_STATE);
        EXPECT_EQ(server.Start(), KL_ERROR_INVALID_STATE);
    }
    UP_HttpServer never_started;
    EXPECT_EQ(never_started.Stop(), KL_ERROR_INVALID_STATE);
}

TEST(HttpServerLifecycleTest, TakenPort) {
    UP_HttpServer first(KL_IpAddress::Any, 0, true, 100, false);
    ASSERT_EQ(first.Start(), KL_SUCCESS);
    UP_HttpServer strict(KL_IpAddress::Any, first.GetPort(), false, 100, false);
    EXPECT_NE(strict.Start(), KL_SUCCESS);
    UP_HttpServer relaxed(KL_IpAddress::Any, first.GetPort(), true, 100, false);
    ASSERT_EQ(relaxed.Start(), KL_SUCCESS);
    EXPECT_NE(relaxed.GetPort(), first.GetPort());
}

TEST_F(HttpServerTest, HandlerRegisteredWhileRunningAndForwarding) {
    class TeapotHandler : public KL_HttpRequestHandler {
    public:
        [[nodiscard]] KL_Result SetupResponse(KL_HttpRequest&, const KL_HttpRequestContext&,
                                              KL_HttpResponse& response) override {
            return response.SetStatus(418, "I'm a teapot");
        }
    } teapot;
    ASSERT_EQ(m_Server->AddRequestHandler(new UP_HttpRequestHandler(&teapot), "/late", false, true),
              KL_SUCCESS);
    RawClient client(m_Port);
    // "/late" is an exact match, found before the "/" prefix handler (which would answer 404).
    EXPECT_EQ(client.Exchange(Get("/late")).status, 418);
    UP_HttpRequestHandler orphan(nullptr);
    KL_HttpRequest request("/x", "GET");
    KL_HttpResponse response(200, "OK");
    EXPECT_EQ(orphan.SetupResponse(request, KL_HttpRequestContext(), response), KL_ERROR_INVALID_STATE);
}

// The hook a handler sets on its context runs once the answer was written.
TEST_F(HttpServerTest, ResponseWrittenHookRuns) {
    class HookHandler : public KL_HttpRequestHandler {
    public:
        std::promise<KL_Result> written;
        [[nodiscard]] KL_Result SetupResponse(KL_HttpRequest&, const KL_HttpRequestContext& context,
                                              KL_HttpResponse&) override {
            const UP_HttpRequestContext* up_context = UP_HttpRequestContext::From(&context);
            if (up_context == nullptr || up_context->GetRequest() == nullptr) {
                return KL_FAILURE;
            }
            up_context->SetResponseWrittenCallback([this](KL_Result result) { written.set_value(result); });
            return KL_SUCCESS;
        }
    } hook;
    ASSERT_EQ(m_Server->AddRequestHandler(&hook, "/hook", false, false), KL_SUCCESS);
    std::future<KL_Result> written = hook.written.get_future();
    RawClient client(m_Port);
    EXPECT_EQ(client.Exchange(Get("/hook")).status, 200);
    ASSERT_EQ(written.wait_for(std::chrono::seconds(20)), std::future_status::ready);
    EXPECT_EQ(written.get(), KL_SUCCESS);
}
