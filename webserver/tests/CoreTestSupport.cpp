#include "CoreTestSupport.h"

#include "WebServerHTMLFunctions.h"

#include "dispatch/DispatchQueue.h"
#include "dispatch/MainQueue.h"

#include <arpa/inet.h>
#include <dirent.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <unistd.h>
#include <zlib.h>

#include <chrono>
#include <cstring>
#include <thread>

namespace coretest {

namespace {

void setTimeouts(int fd) {
    timeval timeout{};
    timeout.tv_sec = static_cast<time_t>(kSocketTimeout);
    ::setsockopt(fd, SOL_SOCKET, SO_RCVTIMEO, &timeout, sizeof timeout);
    ::setsockopt(fd, SOL_SOCKET, SO_SNDTIMEO, &timeout, sizeof timeout);
}

bool isDigits(std::string_view text) {
    return !text.empty() && text.find_first_not_of("0123456789") == std::string_view::npos;
}

} // namespace

int openDescriptorCount() {
    int count = 0;
    if (DIR* folder = ::opendir("/proc/self/fd")) {
        while (const dirent* entry = ::readdir(folder)) {
            count += entry->d_name[0] != '.';
        }
        ::closedir(folder);
    }
    return count - 1; // the folder's own
}

DescriptorLimit::DescriptorLimit(rlim_t limit) {
    ::getrlimit(RLIMIT_NOFILE, &_saved);
    rlimit lowered = _saved;
    lowered.rlim_cur = limit;
    _set = ::setrlimit(RLIMIT_NOFILE, &lowered) == 0;
}

DescriptorLimit::~DescriptorLimit() {
    ::setrlimit(RLIMIT_NOFILE, &_saved);
}

bool ipv6LoopbackAvailable() {
    const int fd = ::socket(AF_INET6, SOCK_STREAM, 0);
    if (fd < 0) {
        return false;
    }
    sockaddr_in6 address{};
    address.sin6_family = AF_INET6;
    address.sin6_addr = in6addr_loopback;
    const bool bound = ::bind(fd, reinterpret_cast<sockaddr*>(&address), sizeof address) == 0;
    ::close(fd);
    return bound;
}

void runMainQueue(double seconds) {
    auto loop = platform::dispatch::RunLoop::shared();
    const auto end = std::chrono::steady_clock::now() + std::chrono::duration<double>(seconds);
    do {
        while (loop->runOnce(0)) {
        }
        if (seconds > 0) {
            loop->runOnce(0.02);
        }
    } while (std::chrono::steady_clock::now() < end);
}

// ---- Replies ----

const std::string* HttpReply::header(std::string_view name) const {
    for (const auto& [key, value] : headers) {
        if (platform::equalsIgnoringCase(key, name)) {
            return &value;
        }
    }
    return nullptr;
}

std::vector<std::string> HttpReply::headerNames() const {
    std::vector<std::string> names;
    for (const auto& entry : headers) {
        names.push_back(entry.first);
    }
    return names;
}

HttpReply parseReply(const std::string& raw) {
    HttpReply reply;
    reply.raw = raw;
    const std::size_t end = raw.find("\r\n\r\n");
    if (end == std::string::npos) {
        return reply;
    }
    reply.headComplete = true;
    reply.body = raw.substr(end + 4);
    std::size_t lineStart = 0;
    while (lineStart < end) {
        std::size_t lineEnd = raw.find("\r\n", lineStart);
        const std::string line = raw.substr(lineStart, lineEnd - lineStart);
        lineStart = lineEnd + 2;
        if (reply.statusLine.empty()) {
            reply.statusLine = line;
            const std::string code = line.size() >= 12 ? line.substr(9, 3) : "";
            reply.status = isDigits(code) ? std::stoi(code) : 0;
            continue;
        }
        const std::size_t colon = line.find(':');
        std::string value = colon == std::string::npos ? "" : line.substr(colon + 1);
        value.erase(0, value.find_first_not_of(' '));
        reply.headers.emplace_back(line.substr(0, colon), value);
    }
    return reply;
}

void expectError(const HttpReply& reply, int status, const std::string& message) {
    EXPECT_EQ(reply.status, status) << reply.raw;
    const std::string heading =
        "<h1>HTTP Error " + std::to_string(status) + ": " + EscapeHTMLString(message) + "</h1>";
    EXPECT_NE(reply.body.find(heading), std::string::npos) << "expected " << heading << "\nin " << reply.body;
}

bool dechunk(const std::string& body, std::string* out) {
    out->clear();
    std::size_t pos = 0;
    while (true) {
        const std::size_t lineEnd = body.find("\r\n", pos);
        if (lineEnd == std::string::npos) {
            return false;
        }
        const std::string sizeText = body.substr(pos, lineEnd - pos);
        if (sizeText.empty() || sizeText.find_first_not_of("0123456789abcdef") != std::string::npos) {
            return false; // the server writes lower-case hex sizes without extensions
        }
        const std::size_t size = std::stoul(sizeText, nullptr, 16);
        pos = lineEnd + 2;
        if (size == 0) {
            return body.compare(pos, std::string::npos, "\r\n") == 0;
        }
        if (body.size() < pos + size + 2 || body.compare(pos + size, 2, "\r\n") != 0) {
            return false;
        }
        out->append(body, pos, size);
        pos += size + 2;
    }
}

// ---- Raw client ----

RawClient::~RawClient() {
    close();
}

void RawClient::close() {
    if (_fd >= 0) {
        ::close(_fd);
        _fd = -1;
    }
}

bool RawClient::connect(int family, std::uint16_t port, bool noDelay, const char* source) {
    close();
    _fd = ::socket(family, SOCK_STREAM | SOCK_CLOEXEC, 0);
    if (_fd < 0) {
        return false;
    }
    setTimeouts(_fd); // SO_SNDTIMEO also bounds connect
    if (noDelay) {
        int yes = 1;
        ::setsockopt(_fd, IPPROTO_TCP, TCP_NODELAY, &yes, sizeof yes);
    }
    int result;
    if (family == AF_INET6) {
        sockaddr_in6 address{};
        address.sin6_family = AF_INET6;
        address.sin6_addr = in6addr_loopback;
        address.sin6_port = htons(port);
        result = ::connect(_fd, reinterpret_cast<sockaddr*>(&address), sizeof address);
    } else {
        sockaddr_in address{};
        address.sin_family = AF_INET;
        if (source) {
            if (::inet_pton(AF_INET, source, &address.sin_addr) != 1 ||
                ::bind(_fd, reinterpret_cast<sockaddr*>(&address), sizeof address) != 0) {
                close();
                return false;
            }
        }
        address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
        address.sin_port = htons(port);
        result = ::connect(_fd, reinterpret_cast<sockaddr*>(&address), sizeof address);
    }
    if (result != 0) {
        close();
        return false;
    }
    return true;
}

bool RawClient::send(std::string_view bytes) {
    while (!bytes.empty()) {
        const ssize_t sent = ::send(_fd, bytes.data(), bytes.size(), MSG_NOSIGNAL);
        if (sent < 0 && errno == EINTR) {
            continue;
        }
        if (sent <= 0) {
            return false;
        }
        bytes.remove_prefix(static_cast<std::size_t>(sent));
    }
    return true;
}

void RawClient::shutdownWrite() {
    ::shutdown(_fd, SHUT_WR);
}

std::string RawClient::readUntil(std::string_view marker) {
    std::string received;
    char buffer[64 * 1024];
    while (marker.empty() || received.find(marker) == std::string::npos) {
        const ssize_t count = ::recv(_fd, buffer, sizeof buffer, 0);
        if (count < 0 && errno == EINTR) {
            continue;
        }
        if (count <= 0) {
            break; // closed, reset or timed out
        }
        received.append(buffer, static_cast<std::size_t>(count));
    }
    return received;
}

std::string RawClient::readAll() {
    return readUntil("");
}

HttpReply exchange(std::uint16_t port, std::string_view request, int family) {
    RawClient client;
    if (!client.connect(family, port)) {
        ADD_FAILURE() << "cannot connect to port " << port;
        return {};
    }
    EXPECT_TRUE(client.send(request));
    return parseReply(client.readAll());
}

HttpReply get(std::uint16_t port, std::string_view path, std::string_view extraHeaders, int family) {
    std::string request = "GET " + std::string(path) + " HTTP/1.1\r\nHost: localhost\r\n";
    request += extraHeaders;
    request += "\r\n";
    return exchange(port, request, family);
}

// ---- gzip ----

std::string gzipCompress(std::string_view bytes) {
    z_stream stream{};
    if (deflateInit2(&stream, Z_DEFAULT_COMPRESSION, Z_DEFLATED, 15 + 16, 8, Z_DEFAULT_STRATEGY) != Z_OK) {
        return {};
    }
    std::string out(deflateBound(&stream, static_cast<uLong>(bytes.size())), '\0');
    stream.next_in = reinterpret_cast<Bytef*>(const_cast<char*>(bytes.data()));
    stream.avail_in = static_cast<uInt>(bytes.size());
    stream.next_out = reinterpret_cast<Bytef*>(out.data());
    stream.avail_out = static_cast<uInt>(out.size());
    const int result = deflate(&stream, Z_FINISH);
    out.resize(stream.total_out);
    deflateEnd(&stream);
    return result == Z_STREAM_END ? out : std::string();
}

bool gunzip(std::string_view bytes, std::string* out) {
    z_stream stream{};
    if (inflateInit2(&stream, 15 + 16) != Z_OK) {
        return false;
    }
    out->clear();
    std::vector<unsigned char> buffer(64 * 1024);
    stream.next_in = reinterpret_cast<Bytef*>(const_cast<char*>(bytes.data()));
    stream.avail_in = static_cast<uInt>(bytes.size());
    int result = Z_OK;
    while (result == Z_OK) {
        stream.next_out = buffer.data();
        stream.avail_out = static_cast<uInt>(buffer.size());
        result = inflate(&stream, Z_NO_FLUSH);
        out->append(reinterpret_cast<char*>(buffer.data()), buffer.size() - stream.avail_out);
        if (result == Z_BUF_ERROR && stream.avail_in == 0) {
            break;
        }
    }
    inflateEnd(&stream);
    return result == Z_STREAM_END;
}

// ---- Requests, responses, server ----

StringResponse::StringResponse(std::string body, std::string type, std::size_t slice, bool knownLength)
    : _body(std::move(body)), _slice(slice) {
    setContentType(std::move(type));
    if (knownLength) {
        setContentLength(_body.size());
    }
}

std::optional<Data> StringResponse::readData(Error*) {
    const std::size_t take = std::min(_slice, _body.size() - _offset);
    Data piece(_body.begin() + static_cast<std::ptrdiff_t>(_offset),
               _body.begin() + static_cast<std::ptrdiff_t>(_offset + take));
    _offset += take;
    return piece;
}

std::shared_ptr<WebServerResponse> textResponse(std::string body) {
    return std::make_shared<StringResponse>(std::move(body));
}

void addEchoHandler(WebServer& server, std::atomic<int>* calls) {
    server.addHandlerWithMatchBlock(
        [](const std::string& method, const Url& url, const HeaderDictionary& headers,
           const std::string& path, const QueryDictionary& query) -> std::shared_ptr<WebServerRequest> {
            return WebServerRequest::create<CollectingRequest>(method, url, headers, path, query);
        },
        [calls](const std::shared_ptr<WebServerRequest>& request) -> std::shared_ptr<WebServerResponse> {
            ++*calls;
            auto collecting = std::static_pointer_cast<CollectingRequest>(request);
            return textResponse(request->method() + " " + request->path() + "\n" + collecting->body);
        });
}

long long ObservableServer::activeConnections() const {
    long long count = 0;
    _syncQueue->sync([this, &count] { count = _activeConnections; });
    return count;
}

bool ServerTest::startServer(ServerOptions options) {
    options.try_emplace(WebServerOption_Port, 0LL);
    options.try_emplace(WebServerOption_BindToLocalhost, true);
    options.try_emplace(WebServerOption_ConnectedStateCoalescingInterval, 0.0);
    Error error;
    const bool started = server->startWithOptions(options, &error);
    EXPECT_TRUE(started) << error.description;
    return started;
}

bool ServerTest::waitForIdle(double seconds) {
    const auto end = std::chrono::steady_clock::now() + std::chrono::duration<double>(seconds);
    while (server->activeConnections() != 0) {
        if (std::chrono::steady_clock::now() > end) {
            return false;
        }
        std::this_thread::sleep_for(std::chrono::milliseconds(5));
    }
    return true;
}

void ServerTest::TearDown() {
    server->stop();
    server->setDelegate(nullptr);
    EXPECT_TRUE(waitForIdle()) << "connections still open after the test";
    runMainQueue(0);
}

} // namespace coretest
