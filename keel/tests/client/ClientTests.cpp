// The HTTP client against scripted servers on loopback: redirects, informational answers,
// keep-alive and the pool, retries, chunked answers and Abort.
#include "ClientTestSupport.h"
#include "KL_HttpTlsConnector.h"
#include "ScriptServer.h"

#include <cstring>
#include <gtest/gtest.h>
#include <thread>

using namespace client_test;

namespace {

struct RedirectCase {
    int status;
    const char* method;
    bool followed;
};

TEST(HttpClient, FollowsOnlyTheRedirectsOfGetAndHead) {
    const RedirectCase cases[] = {
        {301, "GET", true},   {302, "GET", true},  {303, "GET", true},  {307, "GET", true},
        {302, "HEAD", true},  {300, "GET", false}, {304, "GET", false}, {308, "GET", false},
        {302, "POST", false}, {307, "PUT", false},
    };
    for (const RedirectCase& c : cases) {
        ScriptServer server([&](const std::string& request, int) {
            if (RequestLine(request).find(" /next ") != std::string::npos) {
                return Ok("done");
            }
            return Reply{"HTTP/1.1 " + std::to_string(c.status) +
                         " X\r\nLocation: /next\r\nContent-Length: 0\r\n\r\n"};
        });
        KL_HttpClient client;
        KL_HttpRequest request(server.Url("/first").c_str(), c.method, KL_HTTP_PROTOCOL_1_1);
        if (std::string(c.method) == "POST" || std::string(c.method) == "PUT") {
            KL_HttpEntity* entity = new KL_HttpEntity();
            (void)entity->SetInputStream("data");
            (void)request.SetEntity(entity);
        }
        const Outcome outcome = Send(client, request);
        SCOPED_TRACE(std::to_string(c.status) + " " + c.method);
        ASSERT_EQ(outcome.result, KL_SUCCESS);
        EXPECT_EQ(outcome.status, c.followed ? 200 : c.status);
        EXPECT_EQ(server.Requests().size(), c.followed ? 2u : 1u);
    }
}

TEST(HttpClient, ResolvesLocations) {
    struct Case {
        const char* from;
        std::string location;
        std::string expected_line;
    };
    ScriptServer target([](const std::string&, int) { return Ok("there"); });
    const std::string absolute = target.Url("/z?q=1", "localhost");
    const Case cases[] = {
        {"/a/b", "/x", "GET /x HTTP/1.1"},
        {"/a/b", "y", "GET /a/y HTTP/1.1"},
        {"/a/b", "y?k=v", "GET /a/y?k=v HTTP/1.1"},
        {"/a/b", absolute, "GET /z?q=1 HTTP/1.1"},
    };
    for (const Case& c : cases) {
        ScriptServer server([&](const std::string&, int index) {
            if (index == 0) {
                return Reply{"HTTP/1.1 302 Found\r\nLocation: " + c.location +
                             "\r\nContent-Length: 0\r\n\r\n"};
            }
            return Ok("here");
        });
        KL_HttpClient client;
        KL_HttpRequest request(server.Url(c.from).c_str(), "GET", KL_HTTP_PROTOCOL_1_1);
        ASSERT_EQ(Send(client, request).status, 200) << c.location;
        const bool elsewhere = c.location == absolute;
        const std::vector<std::string> requests = elsewhere ? target.Requests() : server.Requests();
        ASSERT_FALSE(requests.empty());
        EXPECT_EQ(RequestLine(requests.back()), c.expected_line);
        if (elsewhere) {
            // The old Host header went away with the old server.
            EXPECT_EQ(HeaderOf(requests.back(), "Host"), "localhost:" + std::to_string(target.Port()));
        }
    }
}

TEST(HttpClient, StopsAfterTheMaximumOfRedirects) {
    ScriptServer server([](const std::string&, int) {
        return Reply{"HTTP/1.1 302 Found\r\nLocation: /again\r\nContent-Length: 0\r\n\r\n"};
    });
    KL_HttpClient client;
    EXPECT_EQ(Fetch(client, server.Url("/")).result, KL_ERROR_HTTP_TOO_MANY_REDIRECTS);
    EXPECT_EQ(server.Requests().size(), 21u);
}

TEST(HttpClient, RefusesGetWithABody) {
    KL_HttpClient client;
    KL_HttpRequest request("http://127.0.0.1:9/", "GET");
    KL_HttpEntity* entity = new KL_HttpEntity();
    (void)entity->SetInputStream("x");
    (void)request.SetEntity(entity);
    KL_HttpResponse* response = nullptr;
    EXPECT_EQ(client.SendRequest(request, response), KL_ERROR_HTTP_INVALID_REQUEST);
    EXPECT_EQ(response, nullptr);
}

TEST(HttpClient, SkipsInformationalAnswersUpToTen) {
    for (int count : {1, 9, 10}) {
        std::string bytes;
        for (int i = 0; i < count; ++i) {
            bytes += "HTTP/1.1 100 Continue\r\n\r\n";
        }
        bytes += "HTTP/1.1 200 OK\r\nContent-Length: 2\r\n\r\nok";
        ScriptServer server([&](const std::string&, int) { return Reply{bytes}; });
        KL_HttpClient client;
        const Outcome outcome = Fetch(client, server.Url("/"));
        if (count < 10) {
            EXPECT_EQ(outcome.status, 200);
            EXPECT_EQ(outcome.body, "ok");
        } else {
            EXPECT_EQ(outcome.result, KL_ERROR_HTTP_TOO_MANY_RECONNECTS);
        }
    }
}

TEST(HttpClient, KeepsConnectionsAliveAsTheAnswerSays) {
    struct Case {
        const char* request_protocol;
        const char* response_protocol;
        const char* connection; // header of the answer, or null
        int accepts;            // for two requests
    };
    const Case cases[] = {
        {"HTTP/1.1", "HTTP/1.1", nullptr, 1}, {"HTTP/1.1", "HTTP/1.1", "close", 2},
        {"HTTP/1.1", "HTTP/1.1", "Close", 1}, {"HTTP/1.1", "HTTP/1.0", "keep-alive", 1},
        {"HTTP/1.1", "HTTP/1.0", nullptr, 2}, {"HTTP/1.1", "HTTP/1.0", "Keep-Alive", 2},
        {"HTTP/1.0", "HTTP/1.1", nullptr, 2},
    };
    for (const Case& c : cases) {
        const std::string extra =
            c.connection != nullptr ? std::string("Connection: ") + c.connection + "\r\n" : "";
        const bool closes = c.accepts == 2;
        ScriptServer server([&](const std::string&, int) {
            Reply reply = Ok("body", extra, c.response_protocol);
            reply.close = closes;
            return reply;
        });
        KL_HttpClient client;
        for (int i = 0; i < 2; ++i) {
            const Outcome outcome = Fetch(client, server.Url("/"), "GET", c.request_protocol);
            ASSERT_EQ(outcome.body, "body");
        }
        EXPECT_EQ(server.Accepts(), c.accepts)
            << c.request_protocol << " " << c.response_protocol << " " << (c.connection ? c.connection : "-");
    }
}

TEST(HttpClient, HeadAnswersGoBackToThePoolAtOnce) {
    ScriptServer server([](const std::string& request, int) {
        if (request.rfind("HEAD", 0) == 0) {
            return Reply{"HTTP/1.1 200 OK\r\nContent-Length: 100\r\n\r\n"};
        }
        return Ok("full");
    });
    KL_HttpClient client;
    EXPECT_EQ(Fetch(client, server.Url("/"), "HEAD").status, 200);
    EXPECT_EQ(Fetch(client, server.Url("/")).body, "full");
    EXPECT_EQ(server.Accepts(), 1);
}

TEST(HttpClient, NotModifiedAndNoContentCarryNoBody) {
    for (const char* status : {"204 No Content", "304 Not Modified"}) {
        ScriptServer server([&](const std::string&, int) {
            return Reply{std::string("HTTP/1.1 ") + status + "\r\nTransfer-Encoding: chunked\r\n\r\n"};
        });
        KL_HttpClient client;
        for (int i = 0; i < 2; ++i) {
            const Outcome outcome = Fetch(client, server.Url("/"));
            EXPECT_EQ(outcome.body_result, KL_SUCCESS);
            EXPECT_EQ(outcome.body, "");
        }
        EXPECT_EQ(server.Accepts(), 1) << status;
    }
}

TEST(HttpClient, DecodesChunkedAnswers) {
    ScriptServer server([](const std::string&, int) {
        return Reply{
            "HTTP/1.1 200 OK\r\nTransfer-Encoding: chunked\r\n\r\n4\r\nWiki\r\n5\r\npedia\r\n0\r\n\r\n"};
    });
    KL_HttpClient client;
    const Outcome first = Fetch(client, server.Url("/"));
    EXPECT_EQ(first.body, "Wikipedia");
    EXPECT_EQ(first.transfer_encoding, "");
    EXPECT_EQ(Fetch(client, server.Url("/")).body, "Wikipedia");
    EXPECT_EQ(server.Accepts(), 1);
}

TEST(HttpClient, RetriesOnlyFailuresOfPooledConnections) {
    // The server drops every connection after its first answer, although it promised more.
    ScriptServer server([](const std::string&, int) {
        Reply reply = Ok("fresh");
        reply.close = true;
        return reply;
    });
    KL_HttpClient client;
    EXPECT_EQ(Fetch(client, server.Url("/")).body, "fresh");
    usleep(100000); // the close reaches the pooled socket
    EXPECT_EQ(Fetch(client, server.Url("/")).body, "fresh");
    EXPECT_EQ(server.Accepts(), 2);
    // A POST is sent again too, its body rewound.
    usleep(100000);
    KL_HttpRequest post(server.Url("/").c_str(), "POST", KL_HTTP_PROTOCOL_1_1);
    KL_HttpEntity* entity = new KL_HttpEntity();
    (void)entity->SetInputStream("data");
    (void)post.SetEntity(entity);
    EXPECT_EQ(Send(client, post).body, "fresh");
    EXPECT_EQ(server.Accepts(), 3);
    const std::string last = server.Requests().back();
    EXPECT_EQ(last.substr(last.size() - 8), "\r\n\r\ndata");

    // A fresh connection that fails is not retried.
    ScriptServer silent([](const std::string&, int) { return Reply{"", true}; });
    EXPECT_EQ(Fetch(client, silent.Url("/")).result, KL_ERROR_EOS);
    EXPECT_EQ(silent.Accepts(), 1);
}

// A body that can be rewound only while nothing of it was read.
class OnceStream : public KL_InputStream {
public:
    KL_Result Read(void* buffer, KL_Size size, KL_Size* bytes_read) override {
        const KL_Size count = m_Position == 0 && size >= 4 ? 4 : 0;
        std::memcpy(buffer, "data", count);
        m_Position += count;
        if (bytes_read != nullptr) {
            *bytes_read = count;
        }
        return count == 0 ? KL_ERROR_EOS : KL_SUCCESS;
    }
    KL_Result Seek(KL_Position offset) override {
        return (offset == 0 && m_Position == 0) ? KL_SUCCESS : KL_ERROR_NOT_SUPPORTED;
    }
    KL_Result Tell(KL_Position& offset) override {
        offset = m_Position;
        return KL_SUCCESS;
    }
    KL_Result GetSize(KL_LargeSize& size) override {
        size = 4;
        return KL_SUCCESS;
    }
    KL_Result GetAvailable(KL_LargeSize& available) override {
        available = 4 - m_Position;
        return KL_SUCCESS;
    }

private:
    KL_Position m_Position = 0;
};

TEST(HttpClient, GivesUpWhenABodyCannotBeSentAgain) {
    ScriptServer server([](const std::string&, int) {
        Reply reply = Ok("stored");
        reply.close = true;
        return reply;
    });
    KL_HttpClient client;
    EXPECT_EQ(Fetch(client, server.Url("/")).body, "stored");
    usleep(100000);
    KL_HttpRequest post(server.Url("/").c_str(), "POST", KL_HTTP_PROTOCOL_1_1);
    KL_HttpEntity* entity = new KL_HttpEntity();
    (void)entity->SetInputStream(KL_InputStreamReference(new OnceStream()));
    (void)post.SetEntity(entity);
    EXPECT_EQ(Send(client, post).result, KL_ERROR_HTTP_CANNOT_RESEND_BODY);
}

TEST(HttpClient, AbortFromAnotherThreadEndsTheRequest) {
    ScriptServer server([](const std::string&, int) { return Reply{"", false, true}; });
    KL_HttpClient client;
    std::thread aborter([&] {
        ASSERT_TRUE(server.WaitForRequests(1));
        (void)client.Abort();
    });
    const Outcome outcome = Fetch(client, server.Url("/"));
    aborter.join();
    EXPECT_TRUE(KL_FAILED(outcome.result));
    EXPECT_EQ(server.Accepts(), 1);
}

TEST(HttpClient, PoolsPerHostNameNotPerAddress) {
    ScriptServer server([](const std::string&, int) { return Ok("x"); });
    KL_HttpClient client;
    EXPECT_EQ(Fetch(client, server.Url("/", "localhost")).body, "x");
    EXPECT_EQ(Fetch(client, server.Url("/", "127.0.0.1")).body, "x");
    EXPECT_EQ(server.Accepts(), 2);
    EXPECT_EQ(Fetch(client, server.Url("/", "localhost")).body, "x");
    EXPECT_EQ(server.Accepts(), 2);
}

} // namespace
