#pragma once

// Helpers of the web server core tests: a raw loopback HTTP client, reply parsing, gzip helpers,
// small request and response classes, and a fixture that runs a server on a loopback port.

#include "WebServer.h"

#include <gtest/gtest.h>
#include <sys/resource.h>
#include <sys/socket.h>

#include <atomic>
#include <cstdint>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

namespace coretest {

// Seconds every blocking socket call of a test may wait.
inline constexpr double kSocketTimeout = 10.0;

// True when a socket can be bound to ::1 here.
bool ipv6LoopbackAvailable();

// Runs what the main queue has ready, repeatedly, for about `seconds` (0: only what is ready now).
void runMainQueue(double seconds);

// A response as read from the wire.
struct HttpReply {
    std::string raw;
    bool headComplete = false;
    std::string statusLine;
    int status = 0;
    std::vector<std::pair<std::string, std::string>> headers; // in the order sent
    std::string body;                                         // as sent (chunk framing kept)

    const std::string* header(std::string_view name) const;
    std::vector<std::string> headerNames() const;
};
HttpReply parseReply(const std::string& raw);

// Checks the status and the message of an error page.
void expectError(const HttpReply& reply, int status, const std::string& message);

// Removes chunked framing; false when the framing is wrong.
bool dechunk(const std::string& body, std::string* out);

// A blocking client socket on the loopback interface, with time-outs on every call.
class RawClient {
public:
    RawClient() = default;
    ~RawClient();
    RawClient(const RawClient&) = delete;
    RawClient& operator=(const RawClient&) = delete;

    // AF_INET: 127.0.0.1, AF_INET6: ::1. An IPv4 `source` (another loopback address such as
    // 127.0.0.2) makes the client another peer.
    bool connect(int family, std::uint16_t port, bool noDelay = false, const char* source = nullptr);
    // Sends every byte (MSG_NOSIGNAL); false when the socket fails or times out.
    bool send(std::string_view bytes);
    void shutdownWrite();
    // Reads until the peer closes, an error or the time-out; returns what arrived.
    std::string readAll();
    // Reads until `marker` has arrived (or close, error, time-out); returns everything read.
    std::string readUntil(std::string_view marker);
    void close();
    int fd() const { return _fd; }

private:
    int _fd = -1;
};

// Connects, sends the request, reads the reply until the server closes.
HttpReply exchange(std::uint16_t port, std::string_view request, int family = AF_INET);
// A GET of `path` with the extra header lines (each ending in "\r\n").
HttpReply get(std::uint16_t port, std::string_view path, std::string_view extraHeaders = "",
              int family = AF_INET);

std::string gzipCompress(std::string_view bytes);
// Inflates a gzip member; false when it is invalid or incomplete.
bool gunzip(std::string_view bytes, std::string* out);

// Keeps the body it receives.
class CollectingRequest : public WebServerRequest {
public:
    using WebServerRequest::WebServerRequest;
    bool open(Error*) override {
        ++openCount;
        return true;
    }
    bool writeData(const Data& data, Error*) override {
        body.append(data.begin(), data.end());
        ++writeCount;
        return true;
    }
    bool close(Error*) override {
        ++closeCount;
        return true;
    }
    std::string body;
    int openCount = 0;
    int writeCount = 0;
    int closeCount = 0;
};

// A body held in memory, handed out in pieces of at most `slice` bytes.
class StringResponse : public WebServerResponse {
public:
    StringResponse(std::string body, std::string type = "text/plain", std::size_t slice = 64 * 1024,
                   bool knownLength = true);
    std::optional<Data> readData(Error* error) override;

private:
    std::string _body;
    std::size_t _slice;
    std::size_t _offset = 0;
};
std::shared_ptr<WebServerResponse> textResponse(std::string body);

// Answers every request with "METHOD PATH\n" and the body it received; counts its calls.
void addEchoHandler(WebServer& server, std::atomic<int>* calls);

// A server whose connection count can be read by tests.
class ObservableServer : public WebServer {
public:
    long long activeConnections() const;
    bool disconnectTimerPending() const { return _disconnectTimer.has_value(); }
    std::string className() const override { return "ObservableServer"; }
};

// A server on 127.0.0.1 and ::1 with a port chosen by the system; stopped, drained and waited for
// (every connection ended) after each test.
class ServerTest : public ::testing::Test {
protected:
    void TearDown() override;
    // Starts with "Port" 0, "BindToLocalhost" true and no coalescing delay, plus `options`.
    bool startServer(ServerOptions options = {});
    std::uint16_t port() const { return static_cast<std::uint16_t>(server->port()); }
    // A GET handler for `path` taking a plain request.
    void addGet(const std::string& path, WebServerProcessBlock process) {
        server->addHandlerForMethod("GET", path, WebServerRequestClass<WebServerRequest>(),
                                    std::move(process));
    }
    void addGet(const std::string& path, WebServerAsyncProcessBlock process) {
        server->addHandlerForMethod("GET", path, WebServerRequestClass<WebServerRequest>(),
                                    std::move(process));
    }
    // Waits until every connection of the server has ended.
    bool waitForIdle(double seconds = kSocketTimeout);

    std::shared_ptr<ObservableServer> server = std::make_shared<ObservableServer>();
    std::atomic<int> handlerCalls{0};
};

// The descriptors the process has open now.
int openDescriptorCount();

// Lowers the process's descriptor limit while it lives.
class DescriptorLimit {
public:
    explicit DescriptorLimit(rlim_t limit);
    ~DescriptorLimit();
    DescriptorLimit(const DescriptorLimit&) = delete;
    DescriptorLimit& operator=(const DescriptorLimit&) = delete;
    bool set() const { return _set; }

private:
    rlimit _saved{};
    bool _set = false;
};

// Names no item may take (and a path none may have), percent-escaped as a URL or a form carries
// them, and the refusal's message after its subject ("File name", "Item name"...), or whole.
struct UnstorableName {
    std::string escaped;
    std::string message;
    bool wholeMessage = false;
    // The message of the refusal on a route whose names are called `subject`.
    std::string refusal(const std::string& subject) const {
        return wholeMessage ? message : subject + " " + message;
    }
};
inline std::vector<UnstorableName> unstorableNames() {
    const std::string tooLong = std::string(252, 'n') + ".txt";
    return {
        {tooLong, "\"" + tooLong + "\" is too long"},
        {"a%0Ab.txt", "\"a%0Ab.txt\" holds a control character"},
        {"a%01b.txt", "\"a%01b.txt\" holds a control character"},
        {"a%00b.txt", "\"a%00b.txt\" holds a control character"},
        {"x%00y/b.txt", "Path \"/x%00y/b.txt\" holds a control character", true},
    };
}

} // namespace coretest
