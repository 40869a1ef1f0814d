// The server's request cycle through memory streams (handler choice, heads, error pages, bodies)
// and its loop on a real loopback socket.
#include "KL_HttpEntity.h"
#include "KL_HttpRequest.h"
#include "KL_HttpResponder.h"
#include "KL_HttpResponse.h"
#include "KL_HttpServer.h"
#include "KL_HttpStaticRequestHandler.h"
#include "KL_TcpClientSocket.h"
#include "ServerTestSupport.h"

#include <gtest/gtest.h>

#include <cstring>
#include <thread>
#include <vector>

using server_test::Exchange;
using server_test::Get;
using server_test::Serve;

namespace {

const char kNotFoundPage[] = "<html><head><title>404 Not Found</title></head><body><h1>Not Found</h1>"
                             "<p>The requested URL was not found on this server.</p></html>";
const char kForbiddenPage[] = "<html><head><title>403 Forbidden</title></head><body><h1>Forbidden</h1>"
                              "<p>Access to this URL is forbidden.</p></html>";
const char kInternalErrorPage[] =
    "<html><head><title>500 Internal Error</title></head><body><h1>Internal Error</h1><p>The server "
    "encountered an unexpected condition which prevented it from fulfilling the request.</p></html>";

// Answers with its name as body, or with a body stream and transfer coding of the test's choice;
// echoes the request body when asked.
class NamedHandler : public KL_HttpRequestHandler {
public:
    explicit NamedHandler(const char* name, KL_Result result = KL_SUCCESS) : m_Name(name), m_Result(result) {}
    KL_Result SetupResponse(KL_HttpRequest& request, const KL_HttpRequestContext&,
                            KL_HttpResponse& response) override {
        KL_HttpEntity* entity = response.GetEntity();
        if (m_Echo && request.GetEntity() != nullptr) {
            KL_DataBuffer body;
            EXPECT_EQ(request.GetEntity()->Load(body), KL_SUCCESS);
            (void)entity->SetInputStream(body.GetData(), body.GetDataSize());
        } else if (m_Body) {
            (void)entity->SetInputStream(m_Body, false);
        } else {
            (void)entity->SetInputStream(m_Name);
        }
        (void)entity->SetTransferEncoding(m_TransferEncoding);
        return m_Result;
    }
    const char* m_Name;
    KL_Result m_Result;
    bool m_Echo = false;
    KL_InputStreamReference m_Body;
    const char* m_TransferEncoding = "";
};

// Gives its text, then fails every read.
class BreakingInputStream : public KL_MemoryStream {
public:
    explicit BreakingInputStream(const char* text)
        : KL_MemoryStream(text, static_cast<KL_Size>(std::strlen(text))) {}
    KL_Result Read(void* buffer, KL_Size count, KL_Size* bytes_read) override {
        KL_Result result = KL_MemoryStream::Read(buffer, count, bytes_read);
        return result == KL_ERROR_EOS ? KL_ERROR_CONNECTION_RESET : result;
    }
    KL_Result GetSize(KL_LargeSize&) override { return KL_ERROR_NOT_SUPPORTED; }
};

std::vector<KL_HttpRequestHandler*> Items(const KL_List<KL_HttpRequestHandler*>& list) {
    std::vector<KL_HttpRequestHandler*> items;
    for (KL_HttpRequestHandler* handler : list) {
        items.push_back(handler);
    }
    return items;
}

} // namespace

TEST(HttpServerTest, ChoosesHandlersByDecodedPath) {
    KL_HttpServer server;
    NamedHandler prefix("a"), exact("ab"), exact2("ab2"), spaced("space");
    (void)server.AddRequestHandler(&prefix, "/a", true);
    (void)server.AddRequestHandler(&exact, "/a/b");
    (void)server.AddRequestHandler(&exact2, "/a/b");
    (void)server.AddRequestHandler(&spaced, "/a b");
    KL_HttpRequest ab("http://h/a/b?q=1", "GET");
    EXPECT_EQ(server.FindRequestHandler(ab), &prefix);
    EXPECT_EQ(Items(server.FindRequestHandlers(ab)),
              (std::vector<KL_HttpRequestHandler*>{&exact2, &exact, &prefix}));
    KL_HttpRequest space("http://h/a%20b", "GET");
    EXPECT_EQ(Items(server.FindRequestHandlers(space)),
              (std::vector<KL_HttpRequestHandler*>{&spaced, &prefix}));
    KL_HttpRequest other("http://h/b", "GET");
    EXPECT_EQ(server.FindRequestHandler(other), nullptr);
    EXPECT_TRUE(server.FindRequestHandlers(other).GetItemCount() == 0);

    const Exchange answer = Serve(server, Get("/a/b"));
    EXPECT_EQ(answer.m_StatusLine, "HTTP/1.0 200 OK");
    EXPECT_EQ(answer.m_Head, "Server: Keel/1.0.0\r\nConnection: close\r\nContent-Length: 1\r\n");
    EXPECT_EQ(answer.m_Body, "a");
    const Exchange missing = Serve(server, Get("/b"));
    EXPECT_EQ(missing.m_StatusLine, "HTTP/1.0 404 Not Found");
    EXPECT_EQ(missing.m_Body, kNotFoundPage);
}

TEST(HttpServerTest, TurnsHandlerFailuresIntoErrorPagesAlsoForHead) {
    struct Case {
        KL_Result m_Failure;
        const char* m_StatusLine;
        const char* m_Page;
    };
    const Case cases[] = {
        {KL_ERROR_NO_SUCH_ITEM, "HTTP/1.0 404 Not Found", kNotFoundPage},
        {KL_ERROR_PERMISSION_DENIED, "HTTP/1.0 403 Forbidden", kForbiddenPage},
        {KL_ERROR_INTERNAL, "HTTP/1.0 500 Internal Error", kInternalErrorPage},
        {KL_FAILURE, "HTTP/1.0 500 Internal Error", kInternalErrorPage},
    };
    for (const Case& c : cases) {
        for (const char* method : {"GET", "HEAD"}) {
            SCOPED_TRACE(std::string(c.m_StatusLine) + " " + method);
            KL_HttpServer server;
            NamedHandler failing("partial body", c.m_Failure);
            failing.m_TransferEncoding = "chunked";
            (void)server.AddRequestHandler(&failing, "/", true);
            const Exchange answer = Serve(server, Get("/x", "", method));
            EXPECT_EQ(answer.m_Result, KL_SUCCESS);
            EXPECT_EQ(answer.m_StatusLine, c.m_StatusLine);
            EXPECT_EQ(answer.Header("Content-Type"), "text/html");
            EXPECT_EQ(answer.Header("Content-Length"), std::to_string(std::strlen(c.m_Page)));
            EXPECT_EQ(answer.m_Body, std::strcmp(method, "HEAD") == 0 ? "" : c.m_Page);
        }
    }
}

TEST(HttpServerTest, SendsTheAnswerThenPassesTerminationOn) {
    KL_HttpServer server;
    NamedHandler stopping("bye", KL_ERROR_TERMINATED);
    (void)server.AddRequestHandler(&stopping, "/stop");
    const Exchange answer = Serve(server, Get("/stop"));
    EXPECT_EQ(answer.m_Result, KL_ERROR_TERMINATED);
    EXPECT_EQ(answer.m_StatusLine, "HTTP/1.0 200 OK");
    EXPECT_EQ(answer.m_Body, "bye");
}

TEST(HttpServerTest, WritesNothingForARequestThatDoesNotParse) {
    KL_HttpServer server;
    const Exchange garbage = Serve(server, "garbage\r\n\r\n");
    EXPECT_EQ(garbage.m_Result, KL_ERROR_HTTP_INVALID_REQUEST_LINE);
    EXPECT_EQ(garbage.m_Body, "");
    EXPECT_EQ(Serve(server, "").m_Result, KL_ERROR_EOS);
}

TEST(HttpServerTest, HandsRequestBodiesToTheHandler) {
    KL_HttpServer server;
    NamedHandler echo("echo");
    echo.m_Echo = true;
    (void)server.AddRequestHandler(&echo, "/", true);
    EXPECT_EQ(Serve(server, Get("/", "Content-Length: 5\r\n", "POST") + "hello").m_Body, "hello");
    EXPECT_EQ(
        Serve(server, Get("/", "Transfer-Encoding: Chunked\r\n", "PUT") + "3\r\nhel\r\n2\r\nlo\r\n0\r\n\r\n")
            .m_Body,
        "hello");
}

TEST(HttpServerTest, ChunksBodiesWhateverTheCaseOfTheCoding) {
    KL_HttpServer server;
    NamedHandler chunked("chunked");
    chunked.m_Body = KL_InputStreamReference(new KL_MemoryStream("hello", 5));
    chunked.m_TransferEncoding = "Chunked";
    (void)server.AddRequestHandler(&chunked, "/");
    const Exchange answer = Serve(server, Get("/"));
    EXPECT_EQ(answer.Header("Transfer-Encoding"), "Chunked");
    EXPECT_EQ(answer.Header("Content-Length"), "(none)");
    EXPECT_EQ(answer.m_Body, "5\r\nhello\r\n0\r\n\r\n");
}

TEST(HttpServerTest, EndsNoFailedChunkedBodyWithTheLastChunk) {
    KL_HttpServer server;
    NamedHandler breaking("breaking");
    breaking.m_Body = KL_InputStreamReference(new BreakingInputStream("abc"));
    breaking.m_TransferEncoding = "chunked";
    (void)server.AddRequestHandler(&breaking, "/");
    const Exchange answer = Serve(server, Get("/"));
    EXPECT_EQ(answer.m_Result, KL_ERROR_CONNECTION_RESET);
    EXPECT_EQ(answer.m_Body, "3\r\nabc\r\n");
}

TEST(HttpServerTest, CompletesResponseHeads) {
    struct Case {
        const char* m_Name;
        const char* m_Protocol;
        bool m_Entity;
        int64_t m_Length; // -1: unknown
        const char* m_TransferEncoding;
        const char* m_Expected;
    };
    const Case cases[] = {
        {"1.0 known", "HTTP/1.0", true, 5, "", "Connection: close\r\nContent-Length: 5\r\n"},
        {"1.1 known", "HTTP/1.1", true, 5, "", "Content-Length: 5\r\n"},
        {"1.1 unknown", "HTTP/1.1", true, -1, "", "Connection: close\r\n"},
        {"1.1 Chunked", "HTTP/1.1", true, -1, "Chunked", "Transfer-Encoding: Chunked\r\n"},
        {"1.1 gzip", "HTTP/1.1", true, -1, "gzip", "Transfer-Encoding: gzip\r\nConnection: close\r\n"},
        {"no entity", "HTTP/1.1", false, 0, "", "Content-Length: 0\r\n"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.m_Name);
        KL_Reference<KL_MemoryStream> written(new KL_MemoryStream());
        KL_HttpResponder responder(KL_InputStreamReference(new KL_MemoryStream()),
                                   KL_OutputStreamReference(written));
        KL_HttpResponse response(200, "OK", c.m_Protocol);
        if (c.m_Entity) {
            KL_HttpEntity* entity = new KL_HttpEntity();
            if (c.m_Length >= 0) {
                (void)entity->SetContentLength(static_cast<uint64_t>(c.m_Length));
            }
            (void)entity->SetTransferEncoding(c.m_TransferEncoding);
            (void)response.SetEntity(entity);
        }
        ASSERT_EQ(responder.SendResponseHeaders(response), KL_SUCCESS);
        const std::string head(reinterpret_cast<const char*>(written->GetData()), written->GetDataSize());
        EXPECT_EQ(head, std::string(c.m_Protocol) + " 200 OK\r\n" + c.m_Expected + "\r\n");
    }
}

// The loop on 127.0.0.1, port 0: requests answered one per connection; 20 starts and stops.
TEST(HttpServerTest, LoopServesConnectionsUntilTerminated) {
    for (int round = 0; round < 20; ++round) {
        KL_HttpServer server(KL_IpAddress(127, 0, 0, 1), 0);
        ASSERT_EQ(server.Listen(), KL_SUCCESS);
        ASSERT_NE(server.GetPort(), 0);
        (void)server.SetTimeouts(KL_TIMEOUT_INFINITE, 5000);
        (void)server.AddRequestHandler(new KL_HttpStaticRequestHandler("pong", "text/plain"), "/ping", false,
                                       true);
        std::thread loop([&server] { (void)server.Loop(true); });
        for (int client = 0; client < (round == 0 ? 3 : 1); ++client) {
            KL_TcpClientSocket socket(KL_SOCKET_FLAG_CANCELLABLE);
            ASSERT_EQ(socket.Connect(KL_SocketAddress(KL_IpAddress(127, 0, 0, 1), server.GetPort()), 5000),
                      KL_SUCCESS);
            (void)socket.SetReadTimeout(5000);
            KL_OutputStreamReference output;
            KL_InputStreamReference input;
            ASSERT_EQ(socket.GetOutputStream(output), KL_SUCCESS);
            ASSERT_EQ(socket.GetInputStream(input), KL_SUCCESS);
            ASSERT_EQ(output->WriteString("GET /ping HTTP/1.0\r\n\r\n"), KL_SUCCESS);
            KL_DataBuffer answer;
            ASSERT_EQ(input->ReadAll(answer), KL_SUCCESS);
            const std::string text(reinterpret_cast<const char*>(answer.GetData()), answer.GetDataSize());
            EXPECT_EQ(text, "HTTP/1.0 200 OK\r\nServer: Keel/1.0.0\r\nConnection: close\r\nContent-Type: "
                            "text/plain\r\nContent-Length: 4\r\n\r\npong");
        }
        server.Terminate();
        (void)server.Abort();
        loop.join();
    }
}

TEST(HttpServerTest, BindFailsOnATakenPortAndStaysUnbound) {
    KL_HttpServer first(KL_IpAddress(127, 0, 0, 1), 0);
    ASSERT_EQ(first.Listen(), KL_SUCCESS);
    KL_HttpServer second(KL_IpAddress(127, 0, 0, 1), 0);
    EXPECT_EQ(second.SetListenPort(first.GetPort(), false), KL_ERROR_ADDRESS_IN_USE);
    EXPECT_EQ(second.GetPort(), 0);
}
