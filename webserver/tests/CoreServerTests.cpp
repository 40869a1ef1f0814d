// The server over real loopback sockets: handler matching, the status codes of the head and
// body steps, and the response head.

#include "CoreTestSupport.h"
#include "WebServerFunctions.h"

#include <gtest/gtest.h>
#include <unistd.h>

#include <cstdlib>

#include <chrono>
#include <thread>

using coretest::exchange;
using coretest::get;
using coretest::HttpReply;

namespace {

class CoreServer : public coretest::ServerTest {
protected:
    // A GET handler for `path` answering `text`.
    void addText(const std::string& path, const std::string& text) {
        addGet(path, [this, text](const std::shared_ptr<WebServerRequest>&) {
            ++handlerCalls;
            return coretest::textResponse(text);
        });
    }

    // GET and PUT /versioned: ETag "v1", Last-Modified 1994-11-06 08:49:37, max-age 60.
    void addVersioned() {
        auto process = [](const std::shared_ptr<WebServerRequest>&) -> std::shared_ptr<WebServerResponse> {
            auto response = coretest::textResponse("version one");
            response->setETag("\"v1\"");
            response->setLastModifiedDate(Date(std::chrono::seconds(784111777)));
            response->setCacheControlMaxAge(60);
            return response;
        };
        server->addHandlerForMethod("GET", "/versioned", WebServerRequestClass<WebServerRequest>(), process);
        server->addHandlerForMethod("PUT", "/versioned", WebServerRequestClass<WebServerRequest>(), process);
    }
};

void expectHeadOnly(const HttpReply& reply) {
    EXPECT_EQ(reply.header("Content-Length"), nullptr);
    EXPECT_EQ(reply.header("Content-Type"), nullptr);
    EXPECT_EQ(reply.header("Transfer-Encoding"), nullptr);
    EXPECT_TRUE(reply.body.empty());
}

} // namespace

// ---- Matching ----

TEST_F(CoreServer, LastAddedHandlerWinsAndPathsIgnoreCase) {
    server->addDefaultHandlerForMethod(
        "GET", WebServerRequestClass<WebServerRequest>(),
        [](const std::shared_ptr<WebServerRequest>&) { return coretest::textResponse("default"); });
    addText("/x", "first");
    addText("/x", "second");
    addText("/list", "listed");
    ASSERT_TRUE(startServer());
    EXPECT_EQ(get(port(), "/x").body, "second");
    EXPECT_EQ(get(port(), "/other").body, "default");
    EXPECT_EQ(get(port(), "/LIST").body, "listed");
    EXPECT_EQ(get(port(), "/List").body, "listed");
    EXPECT_EQ(get(port(), "/lists").body, "default"); // the whole path must match
    EXPECT_EQ(get(port(), "/list/").body, "default");
}

TEST_F(CoreServer, RegexHandlerStoresItsCaptures) {
    auto captures = [](const std::shared_ptr<WebServerRequest>& request) {
        const std::any* value = request->attributeForKey(WebServerRequestAttribute_RegexCaptures);
        std::string text = "none";
        if (value) {
            text.clear();
            for (const auto& capture : std::any_cast<std::vector<std::string>>(*value)) {
                text += "[" + capture + "]";
            }
        }
        return coretest::textResponse(text);
    };
    server->addHandlerForMethodPathRegex("GET", "^/api/([a-z]+)/(\\d+)$",
                                         WebServerRequestClass<WebServerRequest>(), captures);
    server->addHandlerForMethodPathRegex("GET", "/n(\\d)", WebServerRequestClass<WebServerRequest>(),
                                         captures);
    ASSERT_TRUE(startServer());
    EXPECT_EQ(get(port(), "/API/Items/42").body, "[Items][42]");
    EXPECT_EQ(get(port(), "/api/items/x").status, 405);
    // Every match of the path, in order; the pattern is not anchored unless it says so.
    EXPECT_EQ(get(port(), "/a/n1/n2/n3").body, "[1][2][3]");
}

TEST_F(CoreServer, AddersRefuseBadArguments) {
    server->addHandlerForMethod(
        "GET", "relative", WebServerRequestClass<WebServerRequest>(),
        [](const std::shared_ptr<WebServerRequest>&) { return WebServerResponse::response(); });
    server->addHandlerForMethodPathRegex(
        "GET", "([unclosed", WebServerRequestClass<WebServerRequest>(),
        [](const std::shared_ptr<WebServerRequest>&) { return WebServerResponse::response(); });
    EXPECT_TRUE(server->handlers().empty());
    addText("/ok", "ok");
    EXPECT_EQ(server->handlers().size(), 1u);
    server->removeAllHandlers();
    EXPECT_TRUE(server->handlers().empty());
}

TEST_F(CoreServer, NoMatchingHandlerGives405) {
    addText("/x", "x");
    ASSERT_TRUE(startServer());
    HttpReply reply = exchange(port(), "DELETE /x HTTP/1.1\r\nHost: localhost\r\n\r\n");
    EXPECT_EQ(reply.statusLine, "HTTP/1.1 405 Method Not Allowed");
    EXPECT_EQ(reply.headerNames(), (std::vector<std::string>{"Connection", "Server", "Date"}));
    expectHeadOnly(reply);
    EXPECT_EQ(handlerCalls, 0);
}

// A body framed in a way the server does not implement, or ambiguously, reaches no handler.
TEST_F(CoreServer, BodyFramingIsCheckedBeforeAnyHandler) {
    coretest::addEchoHandler(*server, &handlerCalls);
    ASSERT_TRUE(startServer());
    const struct {
        const char* headers;
        int status;
    } rows[] = {
        {"Content-Length: 5\r\nTransfer-Encoding: chunked\r\n", 400},
        {"Content-Length: -1\r\n", 400},
        {"Content-Length: 5\r\nContent-Length: 5\r\n", 400},
        {"Content-Length: 5x\r\n", 400},
        {"Content-Length: 99999999999999999999999\r\n", 400},
        {"Transfer-Encoding: gzip, chunked\r\n", 501},
        {"Transfer-Encoding: gzip\r\n", 501},
    };
    for (const auto& row : rows) {
        const std::string request =
            std::string("POST /u HTTP/1.1\r\nHost: x\r\n") + row.headers + "\r\nhello";
        EXPECT_EQ(exchange(port(), request).status, row.status) << row.headers;
    }
    EXPECT_EQ(handlerCalls, 0);
    // A head that ends in bare line feeds is answered like any other.
    EXPECT_EQ(exchange(port(), "GET /u HTTP/1.1\nHost: x\n\n").status, 200);
}

TEST_F(CoreServer, QueryAndEscapedPathReachTheHandler) {
    server->addDefaultHandlerForMethod("GET", WebServerRequestClass<WebServerRequest>(),
                                       [](const std::shared_ptr<WebServerRequest>& request) {
                                           std::string text = request->path();
                                           for (const auto& [key, value] : request->query()) {
                                               text += "|" + key + "=" + value;
                                           }
                                           return coretest::textResponse(text);
                                       });
    ASSERT_TRUE(startServer());
    EXPECT_EQ(get(port(), "/a%20b/caf%C3%A9?x=1+2&y=%41").body, "/a b/café|x=1 2|y=A");
    // A path that does not unescape is refused before matching.
    EXPECT_EQ(get(port(), "/bad%ZZ").status, 500);
    EXPECT_EQ(get(port(), "/bad%FF").status, 500);
}

// ---- Head and body steps ----

TEST_F(CoreServer, BytesBeyondTheLengthGive400AndUnknownExpectationsGive417) {
    coretest::addEchoHandler(*server, &handlerCalls);
    ASSERT_TRUE(startServer());
    HttpReply reply = exchange(port(), "POST /u HTTP/1.1\r\nContent-Length: 3\r\n\r\nabcdefghij");
    EXPECT_EQ(reply.status, 400);
    expectHeadOnly(reply);
    reply = exchange(port(), "POST /u HTTP/1.1\r\nContent-Length: 5\r\nExpect: something-else\r\n\r\n");
    EXPECT_EQ(reply.statusLine, "HTTP/1.1 417 Expectation Failed");
    EXPECT_EQ(handlerCalls, 0);
    // Bytes after a head without a body are ignored.
    reply = exchange(port(), "GET /g HTTP/1.1\r\nContent-Type: text/plain\r\n\r\nstray bytes");
    EXPECT_EQ(reply.status, 200);
    EXPECT_EQ(reply.body, "GET /g\n");
}

TEST_F(CoreServer, ContinueIsSentBeforeTheBodyIsRead) {
    coretest::addEchoHandler(*server, &handlerCalls);
    ASSERT_TRUE(startServer());
    coretest::RawClient client;
    ASSERT_TRUE(client.connect(AF_INET, port()));
    ASSERT_TRUE(client.send("PUT /up HTTP/1.1\r\nContent-Length: 5\r\nExpect: 100-Continue\r\n\r\n"));
    EXPECT_EQ(client.readUntil("\r\n\r\n"), "HTTP/1.1 100 Continue\r\n\r\n");
    EXPECT_EQ(handlerCalls, 0);
    ASSERT_TRUE(client.send("hello"));
    HttpReply reply = coretest::parseReply(client.readAll());
    EXPECT_EQ(reply.status, 200);
    EXPECT_EQ(reply.body, "PUT /up\nhello");
    // A body sent with the head at once still gets the interim answer first.
    const std::string raw =
        exchange(port(), "PUT /eager HTTP/1.1\r\nExpect: 100-continue\r\nContent-Length: 5\r\n\r\nhello").raw;
    const std::string interim = "HTTP/1.1 100 Continue\r\n\r\n";
    ASSERT_EQ(raw.compare(0, interim.size(), interim), 0) << raw;
    reply = coretest::parseReply(raw.substr(interim.size()));
    EXPECT_EQ(reply.status, 200);
    EXPECT_EQ(reply.body, "PUT /eager\nhello");
}

// ---- Response head ----

TEST_F(CoreServer, HeadStartsWithConnectionServerDateAndHeadRequestsGetIt) {
    addText("/t", "hello world");
    ASSERT_TRUE(startServer({{WebServerOption_ServerName, std::string("Tester/1.0")}}));
    HttpReply reply = get(port(), "/t");
    EXPECT_EQ(reply.statusLine, "HTTP/1.1 200 OK");
    ASSERT_GE(reply.headers.size(), 3u);
    EXPECT_EQ(reply.headers[0], (std::pair<std::string, std::string>{"Connection", "Close"}));
    EXPECT_EQ(reply.headers[1], (std::pair<std::string, std::string>{"Server", "Tester/1.0"}));
    EXPECT_EQ(reply.headers[2].first, "Date");
    auto date = ParseRFC822Date(reply.headers[2].second);
    ASSERT_TRUE(date) << reply.headers[2].second;
    EXPECT_LT(std::chrono::abs(*date - std::chrono::system_clock::now()), std::chrono::seconds(60));
    EXPECT_EQ(*reply.header("Cache-Control"), "no-cache");
    EXPECT_EQ(*reply.header("Content-Type"), "text/plain");
    EXPECT_EQ(*reply.header("Content-Length"), "11");
    EXPECT_EQ(reply.body, "hello world");
    // HEAD gets the same head without the body.
    reply = exchange(port(), "HEAD /t HTTP/1.1\r\nHost: localhost\r\n\r\n");
    EXPECT_EQ(reply.status, 200);
    EXPECT_EQ(*reply.header("Content-Length"), "11");
    EXPECT_EQ(*reply.header("Content-Type"), "text/plain");
    EXPECT_TRUE(reply.body.empty());
}

TEST_F(CoreServer, ResponseWithoutTypeHasNoLengthNorCoding) {
    addGet("/missing", [](const std::shared_ptr<WebServerRequest>&) {
        return WebServerResponse::responseWithStatusCode(404);
    });
    ASSERT_TRUE(startServer());
    HttpReply reply = get(port(), "/missing");
    EXPECT_EQ(reply.statusLine, "HTTP/1.1 404 Not Found");
    EXPECT_EQ(reply.headerNames(), (std::vector<std::string>{"Connection", "Server", "Date"}));
    expectHeadOnly(reply);
}

// ---- Conditional requests ----

TEST_F(CoreServer, ConditionalGetGives304) {
    addVersioned();
    ASSERT_TRUE(startServer());
    HttpReply fresh = get(port(), "/versioned");
    EXPECT_EQ(fresh.status, 200);
    EXPECT_EQ(*fresh.header("Cache-Control"), "max-age=60, public");
    EXPECT_EQ(*fresh.header("ETag"), "\"v1\"");
    EXPECT_EQ(*fresh.header("Last-Modified"), "Sun, 06 Nov 1994 08:49:37 GMT");
    for (const std::string condition : {"\"v1\"", "*"}) {
        HttpReply reply = get(port(), "/versioned", "If-None-Match: " + condition + "\r\n");
        EXPECT_EQ(reply.statusLine, "HTTP/1.1 304 Not Modified") << condition;
        EXPECT_EQ(*reply.header("ETag"), "\"v1\"");
        EXPECT_EQ(*reply.header("Last-Modified"), "Sun, 06 Nov 1994 08:49:37 GMT");
        EXPECT_EQ(reply.header("Cache-Control"), nullptr);
        expectHeadOnly(reply);
    }
    const std::pair<const char*, int> cases[] = {
        {"If-None-Match: \"v2\"\r\n", 200},
        {"If-Modified-Since: Sun, 06 Nov 1994 08:49:37 GMT\r\n", 304},
        {"If-Modified-Since: Mon, 07 Nov 1994 00:00:00 GMT\r\n", 304},
        {"If-Modified-Since: Sun, 06 Nov 1994 08:49:36 GMT\r\n", 200},
        {"If-Modified-Since: garbage\r\n", 200},
        // The date says "modified", the entity tag says "unchanged": the tag is still honoured.
        {"If-Modified-Since: Mon, 01 Jan 1990 00:00:00 GMT\r\nIf-None-Match: \"v1\"\r\n", 304},
        {"If-Modified-Since: Mon, 01 Jan 1990 00:00:00 GMT\r\nIf-None-Match: \"v2\"\r\n", 200},
    };
    for (const auto& [conditions, status] : cases) {
        EXPECT_EQ(get(port(), "/versioned", conditions).status, status) << conditions;
    }
}

TEST_F(CoreServer, MatchingETagGives412ForPut) {
    addVersioned();
    ASSERT_TRUE(startServer());
    HttpReply reply =
        exchange(port(), "PUT /versioned HTTP/1.1\r\nIf-None-Match: \"v1\"\r\nContent-Length: 2\r\n\r\nhi");
    EXPECT_EQ(reply.statusLine, "HTTP/1.1 412 Precondition Failed");
    expectHeadOnly(reply);
}

// Connections that send nothing, half a head or half a body are closed after the idle time-out,
// so they cannot hold descriptors for ever.
TEST_F(CoreServer, IdleConnectionsAreClosed) {
    coretest::addEchoHandler(*server, &handlerCalls);
    ASSERT_TRUE(startServer({{WebServerOption_ConnectionIdleTimeout, 1.0}}));
    const std::string partial[] = {"", "GET / HTTP/1.1\r\nHo",
                                   "POST /u HTTP/1.1\r\nHost: x\r\nContent-Length: 100\r\n\r\nonly some"};
    std::vector<std::unique_ptr<coretest::RawClient>> clients;
    for (const std::string& bytes : partial) {
        clients.push_back(std::make_unique<coretest::RawClient>());
        ASSERT_TRUE(clients.back()->connect(AF_INET, port()));
        ASSERT_TRUE(clients.back()->send(bytes));
    }
    for (int i = 0; i < 500 && server->activeConnections() < 3; ++i) {
        std::this_thread::sleep_for(std::chrono::milliseconds(10));
    }
    ASSERT_EQ(server->activeConnections(), 3);
    EXPECT_TRUE(waitForIdle(8.0)) << "idle connections were kept open";
    EXPECT_EQ(handlerCalls, 0);
}

// A client that reads nothing of a large answer is dropped after the idle time-out as well.
TEST_F(CoreServer, ClientsThatReadNothingAreClosed) {
    char pattern[] = "/tmp/lanyard-idle-XXXXXX";
    const int fd = ::mkstemp(pattern);
    ASSERT_NE(fd, -1);
    ASSERT_EQ(::ftruncate(fd, 256 * 1024 * 1024), 0); // sparse: more than the socket buffers hold
    ::close(fd);
    server->addGETHandlerForPathWithFile("/big", pattern, false, 0, false);
    ASSERT_TRUE(startServer({{WebServerOption_ConnectionIdleTimeout, 1.0}}));
    coretest::RawClient client;
    ASSERT_TRUE(client.connect(AF_INET, port()));
    ASSERT_TRUE(client.send("GET /big HTTP/1.1\r\nHost: x\r\n\r\n"));
    for (int i = 0; i < 500 && server->activeConnections() < 1; ++i) {
        std::this_thread::sleep_for(std::chrono::milliseconds(10));
    }
    EXPECT_TRUE(waitForIdle(8.0)) << "a client that reads nothing kept its connection";
    ::unlink(pattern);
}

// One address holds at most its share of the server, an upload counting twice (its socket and
// its file): beyond it, its newest connection is refused at once, while another address is served.
TEST_F(CoreServer, PeerBeyondItsShareIsRefusedWhileAnotherIsServed) {
    coretest::addEchoHandler(*server, &handlerCalls);
    ASSERT_TRUE(startServer({{WebServerOption_MaxConnectionsPerPeer, 4LL}}));
    const struct {
        int count;
        std::string bytes;
    } holds[] = {{4, "GET /held HTTP/1.1\r\nHo"},
                 {2, "PUT /up HTTP/1.1\r\nHost: x\r\nContent-Length: 100\r\n\r\nonly some"}};
    for (const auto& hold : holds) {
        std::vector<std::unique_ptr<coretest::RawClient>> held;
        for (int i = 0; i < hold.count; ++i) {
            held.push_back(std::make_unique<coretest::RawClient>());
            ASSERT_TRUE(held.back()->connect(AF_INET, port()));
            ASSERT_TRUE(held.back()->send(hold.bytes));
        }
        // Once the held connections are counted, the same address is turned away.
        bool refused = false;
        for (int i = 0; i < 50 && !refused; ++i) {
            refused = get(port(), "/more").status != 200;
            std::this_thread::sleep_for(std::chrono::milliseconds(20));
        }
        EXPECT_TRUE(refused) << hold.bytes;
        coretest::RawClient other;
        ASSERT_TRUE(other.connect(AF_INET, port(), false, "127.0.0.2"));
        ASSERT_TRUE(other.send("GET /other HTTP/1.1\r\nHost: x\r\n\r\n"));
        EXPECT_EQ(coretest::parseReply(other.readAll()).status, 200) << hold.bytes;
        held.clear();
        ASSERT_TRUE(waitForIdle());
    }
    EXPECT_EQ(get(port(), "/again").status, 200);
}

// Short of descriptors, with ten addresses holding an idle connection each, a PUT from another
// address is answered: stored (200) or refused before it is stored (503), never cut off once its
// handler has run.
TEST_F(CoreServer, ARequestBegunIsAnsweredWhenDescriptorsRunLow) {
    std::atomic<int> stored{0};
    server->addHandlerForMethod("PUT", "/up", WebServerRequestClass<coretest::CollectingRequest>(),
                                [&stored](const std::shared_ptr<WebServerRequest>&) {
                                    ++stored;
                                    // Long enough for a connection shed meanwhile to lose its answer.
                                    std::this_thread::sleep_for(std::chrono::milliseconds(200));
                                    return coretest::textResponse("stored");
                                });
    ASSERT_TRUE(startServer());
    std::vector<std::unique_ptr<coretest::RawClient>> idle;
    for (int i = 0; i < 10; ++i) {
        const std::string source = "127.0.0." + std::to_string(10 + i);
        idle.push_back(std::make_unique<coretest::RawClient>());
        ASSERT_TRUE(idle.back()->connect(AF_INET, port(), false, source.c_str()));
        ASSERT_TRUE(idle.back()->send("GET /held HTTP/1.1\r\nHo"));
    }
    for (int i = 0; i < 500 && server->activeConnections() < 10; ++i) {
        std::this_thread::sleep_for(std::chrono::milliseconds(10));
    }
    ASSERT_EQ(server->activeConnections(), 10);
    // Connections are shed from 16 descriptors below the limit less its reserve of 32: a few are
    // lacking from now on, while plenty are left for what the requests open.
    const coretest::DescriptorLimit limit(static_cast<rlim_t>(coretest::openDescriptorCount() + 44));
    ASSERT_TRUE(limit.set());
    for (int i = 0; i < 3; ++i) {
        SCOPED_TRACE(i);
        const int before = stored;
        coretest::RawClient client;
        const std::string source = "127.0.0." + std::to_string(30 + i);
        ASSERT_TRUE(client.connect(AF_INET, port(), false, source.c_str()));
        ASSERT_TRUE(client.send("PUT /up HTTP/1.1\r\nHost: x\r\nContent-Length: 4\r\n\r\ndata"));
        const HttpReply reply = coretest::parseReply(client.readAll());
        if (reply.status == 503) {
            EXPECT_EQ(stored, before);
        } else {
            EXPECT_EQ(reply.status, 200);
            EXPECT_EQ(stored, before + 1);
        }
    }
}

// A connection the server cannot take is told so (503, the client may try again) before it is
// closed.
TEST_F(CoreServer, ARefusedConnectionIsAnswered503) {
    coretest::addEchoHandler(*server, &handlerCalls);
    ASSERT_TRUE(startServer({{WebServerOption_MaxConnectionsPerPeer, 1LL}}));
    coretest::RawClient held;
    ASSERT_TRUE(held.connect(AF_INET, port()));
    ASSERT_TRUE(held.send("GET /held HTTP/1.1\r\nHo"));
    for (int i = 0; i < 500 && server->activeConnections() < 1; ++i) {
        std::this_thread::sleep_for(std::chrono::milliseconds(10));
    }
    coretest::RawClient refused; // sends nothing, so that nothing unread resets the answer
    ASSERT_TRUE(refused.connect(AF_INET, port()));
    EXPECT_EQ(coretest::parseReply(refused.readAll()).status, 503);
    EXPECT_EQ(handlerCalls, 0);
}
