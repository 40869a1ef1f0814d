// Behaviours of the server, the connection and the responses that the other suites leave out:
// connection subclasses, HEAD handling without mapping, absolute request targets, authentication
// of mapped HEAD requests, heads of body-less responses, attachment names and the log output.

#include "CoreTestSupport.h"
#include "StaticTestSupport.h"
#include "WebServerFileResponse.h"
#include "WebServerFunctions.h"
#include "foundation/Base64.h"

#include <fcntl.h>
#include <poll.h>
#include <termios.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <chrono>
#include <cstdio>
#include <cstdlib>

using coretest::exchange;
using coretest::get;
using coretest::HttpReply;

namespace {

class CoreConformance : public coretest::ServerTest {
protected:
    void addHandler(const std::string& method, const std::string& path, WebServerProcessBlock process) {
        server->addHandlerForMethod(method, path, WebServerRequestClass<WebServerRequest>(),
                                    std::move(process));
    }
};

std::shared_ptr<WebServerResponse> echoPathAndQuery(const std::shared_ptr<WebServerRequest>& request) {
    std::string text = request->method() + " " + request->path();
    for (const auto& [key, value] : request->query()) {
        text += " " + key + "=" + value;
    }
    return coretest::textResponse(text);
}

// Refuses every connection at open.
class RefusingConnection : public WebServerConnection {
public:
    using WebServerConnection::WebServerConnection;

protected:
    bool open() override { return false; }
};

// Turns "/old/..." into "/new/..." and refuses "/refused".
class RewritingConnection : public WebServerConnection {
public:
    using WebServerConnection::WebServerConnection;

protected:
    std::optional<Url> rewriteRequestURL(const Url& url, const std::string&,
                                         const HeaderDictionary&) override {
        if (url.path() == "/refused") {
            return std::nullopt;
        }
        if (url.path().rfind("/old/", 0) == 0) {
            return Url::parse("http://localhost/new/" + url.path().substr(5));
        }
        return url;
    }
};

// The Authorization value of a Digest answer to the server's challenge.
std::string digestAuthorization(const HttpReply& challenge, const std::string& method, const std::string& uri,
                                const std::string& realm, const std::string& user,
                                const std::string& password) {
    const std::string* header = challenge.header("WWW-Authenticate");
    const std::string nonce = header ? ExtractHeaderValueParameter(*header, "nonce").value_or("") : "";
    const std::string ha1 = MD5HexOfFormat("%@:%@:%@", {user, realm, password});
    const std::string ha2 = MD5HexOfFormat("%@:%@", {method, uri});
    const std::string response = MD5HexOfFormat("%@:%@:%@", {ha1, nonce, ha2});
    return StringWithFormat("Digest username=\"%@\", realm=\"%@\", nonce=\"%@\", uri=\"%@\", response=\"%@\"",
                            {user, realm, nonce, uri, response});
}

} // namespace

// ---- Connection hooks and the head ----

TEST_F(CoreConformance, ConnectionRefusedAtOpenEndsWithoutAnswer) {
    addHandler("GET", "/x", [this](const std::shared_ptr<WebServerRequest>&) {
        ++handlerCalls;
        return coretest::textResponse("x");
    });
    ASSERT_TRUE(
        startServer({{WebServerOption_ConnectionClass, WebServerConnectionClass<RefusingConnection>()}}));
    const HttpReply reply = get(port(), "/x");
    EXPECT_TRUE(reply.raw.empty()) << reply.raw;
    EXPECT_EQ(handlerCalls, 0);
    EXPECT_TRUE(waitForIdle()); // the refused connection was counted and ended
}

TEST_F(CoreConformance, RewrittenURLIsMatchedAndARefusedRewriteGives500) {
    server->addDefaultHandlerForMethod("GET", WebServerRequestClass<WebServerRequest>(), echoPathAndQuery);
    ASSERT_TRUE(
        startServer({{WebServerOption_ConnectionClass, WebServerConnectionClass<RewritingConnection>()}}));
    EXPECT_EQ(get(port(), "/old/a%20b").body, "GET /new/a b");
    const HttpReply refused = get(port(), "/refused");
    EXPECT_EQ(refused.status, 500);
    EXPECT_TRUE(refused.body.empty());
}

TEST_F(CoreConformance, AbsoluteRequestTargetGivesItsPathAndQuery) {
    server->addDefaultHandlerForMethod("GET", WebServerRequestClass<WebServerRequest>(), echoPathAndQuery);
    ASSERT_TRUE(startServer());
    const HttpReply reply =
        exchange(port(), "GET http://example.invalid/some%2Fpath?a=1+2&b=%41 HTTP/1.1\r\n\r\n");
    EXPECT_EQ(reply.status, 200);
    EXPECT_EQ(reply.body, "GET /some/path a=1 2 b=A");
}

TEST_F(CoreConformance, HeadIsItsOwnMethodWhenNotMappedToGet) {
    addHandler("GET", "/x",
               [](const std::shared_ptr<WebServerRequest>&) { return coretest::textResponse("x"); });
    addHandler("HEAD", "/h", [](const std::shared_ptr<WebServerRequest>& request) {
        return coretest::textResponse(request->method());
    });
    ASSERT_TRUE(startServer({{WebServerOption_AutomaticallyMapHEADToGET, false}}));
    EXPECT_EQ(exchange(port(), "HEAD /x HTTP/1.1\r\n\r\n").status, 405);
    // Not mapped, a HEAD handler's body is sent.
    EXPECT_EQ(exchange(port(), "HEAD /h HTTP/1.1\r\n\r\n").body, "HEAD");
}

TEST_F(CoreConformance, AdditionalHeadersReplaceTheStandardOnesInPlace) {
    addHandler("GET", "/x", [](const std::shared_ptr<WebServerRequest>&) {
        auto response = coretest::textResponse("x");
        response->setCacheControlMaxAge(60);
        response->setValueForAdditionalHeader("Lanyard/1", "server");
        response->setValueForAdditionalHeader("private", "Cache-Control");
        response->setValueForAdditionalHeader("yes", "X-Extra");
        return response;
    });
    ASSERT_TRUE(startServer());
    const HttpReply reply = get(port(), "/x");
    ASSERT_EQ(reply.status, 200);
    const std::vector<std::string> names = reply.headerNames();
    ASSERT_GE(names.size(), 3u);
    EXPECT_EQ(names[0], "Connection");
    EXPECT_EQ(names[1], "Server");
    EXPECT_EQ(names[2], "Date");
    EXPECT_EQ(*reply.header("Server"), "Lanyard/1");
    EXPECT_EQ(*reply.header("Cache-Control"), "private");
    EXPECT_EQ(*reply.header("X-Extra"), "yes");
    EXPECT_EQ(names.back(), "X-Extra");
}

// ---- Authentication ----

TEST_F(CoreConformance, DigestOfAMappedHeadIsComputedWithGet) {
    addHandler("GET", "/secret",
               [](const std::shared_ptr<WebServerRequest>&) { return coretest::textResponse("hidden"); });
    ASSERT_TRUE(startServer({{WebServerOption_AuthenticationMethod, std::string("DigestAccess")},
                             {WebServerOption_AuthenticationRealm, std::string("Lanyard")},
                             {WebServerOption_AuthenticationAccounts, ServerAccounts{{"ann", "pw"}}}}));
    const HttpReply challenge = exchange(port(), "HEAD /secret HTTP/1.1\r\n\r\n");
    ASSERT_EQ(challenge.status, 401);
    const std::string asGet = digestAuthorization(challenge, "GET", "/secret", "Lanyard", "ann", "pw");
    const HttpReply passed =
        exchange(port(), "HEAD /secret HTTP/1.1\r\nAuthorization: " + asGet + "\r\n\r\n");
    EXPECT_EQ(passed.status, 200);
    EXPECT_EQ(*passed.header("Content-Length"), "6");
    EXPECT_TRUE(passed.body.empty());
    const std::string asHead = digestAuthorization(challenge, "HEAD", "/secret", "Lanyard", "ann", "pw");
    EXPECT_EQ(exchange(port(), "HEAD /secret HTTP/1.1\r\nAuthorization: " + asHead + "\r\n\r\n").status, 401);
}

TEST_F(CoreConformance, BasicRealmDefaultsToTheServerName) {
    addHandler("GET", "/secret",
               [](const std::shared_ptr<WebServerRequest>&) { return coretest::textResponse("hidden"); });
    ASSERT_TRUE(startServer({{WebServerOption_AuthenticationMethod, std::string("Basic")},
                             {WebServerOption_AuthenticationAccounts, ServerAccounts{{"ann", "p:w"}}}}));
    const HttpReply refused =
        get(port(), "/secret", "Authorization: basic " + platform::base64Encode("ann:p:w") + "\r\n");
    EXPECT_EQ(refused.status, 401); // the scheme is compared exactly
    EXPECT_EQ(*refused.header("WWW-Authenticate"), "Basic realm=\"ObservableServer\"");
    EXPECT_EQ(
        get(port(), "/secret", "Authorization: Basic " + platform::base64Encode("ann:p:w") + "\r\n").body,
        "hidden");
}

// ---- Heads of responses without a body ----

TEST_F(CoreConformance, KnownLengthIsWrittenEvenWithoutContentType) {
    addHandler("GET", "/empty", [](const std::shared_ptr<WebServerRequest>&) {
        auto response = WebServerResponse::responseWithStatusCode(200);
        response->setContentLength(0);
        return response;
    });
    ASSERT_TRUE(startServer());
    const HttpReply reply = get(port(), "/empty");
    EXPECT_EQ(reply.status, 200);
    ASSERT_NE(reply.header("Content-Length"), nullptr);
    EXPECT_EQ(*reply.header("Content-Length"), "0");
    EXPECT_EQ(reply.header("Content-Type"), nullptr);
    EXPECT_EQ(reply.header("Transfer-Encoding"), nullptr);
    EXPECT_TRUE(reply.body.empty());
}

TEST_F(CoreConformance, ConditionalPutGives412ByDateToo) {
    addHandler("PUT", "/doc", [](const std::shared_ptr<WebServerRequest>&) {
        auto response = coretest::textResponse("stored");
        response->setLastModifiedDate(Date(std::chrono::seconds(784111777)));
        return response;
    });
    ASSERT_TRUE(startServer());
    const HttpReply reply = exchange(port(), "PUT /doc HTTP/1.1\r\n"
                                             "If-Modified-Since: Sun, 06 Nov 1994 08:49:37 GMT\r\n\r\n");
    EXPECT_EQ(reply.status, 412);
    EXPECT_EQ(*reply.header("Last-Modified"), "Sun, 06 Nov 1994 08:49:37 GMT");
    EXPECT_EQ(reply.header("Cache-Control"), nullptr);
    EXPECT_TRUE(reply.body.empty());
}

// ---- Attachments ----

TEST(CoreConformanceFiles, AttachmentNameTravelsWholeInFilenameStar) {
    statictest::ScratchFolder folder;
    ASSERT_TRUE(folder.valid());
    const std::string names[] = {"say \"hi\".txt", "evil\r\nSet-Cookie: a=b.txt", "tab\there \xC3\xA9.txt"};
    for (const std::string& name : names) {
        ASSERT_TRUE(statictest::writeFile(folder / name, "x"));
        auto response = WebServerFileResponse::responseWithFile(folder / name, true);
        ASSERT_TRUE(response) << name;
        const auto& headers = response->additionalHeaders();
        const auto it = headers.find("Content-Disposition");
        ASSERT_NE(it, headers.end()) << name;
        const std::string& disposition = it->second;
        EXPECT_EQ(disposition.find_first_of("\r\n\t\""
                                            "\x7F",
                                            disposition.find("filename*=")),
                  std::string::npos)
            << disposition;
        const std::string prefix = "filename*=UTF-8''";
        const std::size_t at = disposition.find(prefix);
        ASSERT_NE(at, std::string::npos) << disposition;
        // The escaped name gives back the file's own name, every character included.
        EXPECT_EQ(UnescapeURLString(disposition.substr(at + prefix.size())), name) << disposition;
    }
    auto quoted = WebServerFileResponse::responseWithFile(folder / names[0], true);
    EXPECT_EQ(quoted->additionalHeaders().at("Content-Disposition"),
              "attachment; filename=\"say hi.txt\"; filename*=UTF-8''say%20%22hi%22.txt");
}

// ---- Log output ----

TEST(CoreConformanceLogging, LinesGoToStandardErrorWhenItIsATerminal) {
    const int master = ::posix_openpt(O_RDWR | O_NOCTTY);
    if (master == -1) {
        GTEST_SKIP() << "no pseudo-terminal available here";
    }
    ASSERT_EQ(::grantpt(master), 0);
    ASSERT_EQ(::unlockpt(master), 0);
    const char* slaveName = ::ptsname(master);
    ASSERT_NE(slaveName, nullptr);
    const int slave = ::open(slaveName, O_RDWR | O_NOCTTY);
    ASSERT_NE(slave, -1);
    termios raw{};
    ASSERT_EQ(::tcgetattr(slave, &raw), 0);
    ::cfmakeraw(&raw);
    ASSERT_EQ(::tcsetattr(slave, TCSANOW, &raw), 0);

    std::fflush(stderr);
    const int savedError = ::dup(STDERR_FILENO);
    ASSERT_NE(savedError, -1);
    ::dup2(slave, STDERR_FILENO);
    WebServer::logMessage(2, "hello");
    WebServer::logMessage(9, "nothing for an unknown level");
    WebServer::logMessage(5, "boom");
    std::fflush(stderr);
    ::dup2(savedError, STDERR_FILENO);
    ::close(savedError);

    std::string written;
    pollfd readable{master, POLLIN, 0};
    while (written.size() < 30 && ::poll(&readable, 1, 2000) == 1) {
        char buffer[256];
        const ssize_t count = ::read(master, buffer, sizeof buffer);
        if (count <= 0) {
            break;
        }
        written.append(buffer, static_cast<std::size_t>(count));
    }
    ::close(slave);
    ::close(master);
    EXPECT_EQ(written, "[INFO] hello\n[EXCEPTION] boom\n");
}
