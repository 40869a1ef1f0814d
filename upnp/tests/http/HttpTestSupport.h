// Test support for the UPnP HTTP server: a raw loopback client with time-outs, a request handler
// with a few fixed routes, and a running server fixture.
#pragma once

#include "KL_HttpEntity.h"
#include "KL_HttpRequest.h"
#include "KL_HttpRequestHandler.h"
#include "KL_HttpResponse.h"
#include "KL_MemoryStream.h"
#include "KL_Uri.h"
#include "UP_HttpMessageHelper.h"
#include "UP_HttpServer.h"

#include <gtest/gtest.h>

#include <arpa/inet.h>
#include <cerrno>
#include <cstring>
#include <fcntl.h>
#include <map>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <string>
#include <sys/socket.h>
#include <sys/time.h>
#include <unistd.h>

namespace http_test {

// One parsed answer; status 0 when none could be read.
struct Answer {
    int status = 0;
    std::string reason;
    std::map<std::string, std::string> headers; // names in lower case
    std::string body;
    bool Has(const std::string& name) const { return headers.count(name) != 0; }
    std::string Get(const std::string& name) const {
        auto it = headers.find(name);
        return it == headers.end() ? std::string() : it->second;
    }
};

// A blocking loopback connection; every read and write gives up after the time-out.
class RawClient {
public:
    explicit RawClient(uint16_t port, int timeout_seconds = 20) {
        m_Fd = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
        timeval tv{timeout_seconds, 0};
        ::setsockopt(m_Fd, SOL_SOCKET, SO_RCVTIMEO, &tv, sizeof(tv));
        ::setsockopt(m_Fd, SOL_SOCKET, SO_SNDTIMEO, &tv, sizeof(tv));
        sockaddr_in address{};
        address.sin_family = AF_INET;
        address.sin_port = htons(port);
        address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
        m_Connected = ::connect(m_Fd, reinterpret_cast<sockaddr*>(&address), sizeof(address)) == 0;
    }
    ~RawClient() { ::close(m_Fd); }
    RawClient(const RawClient&) = delete;
    RawClient& operator=(const RawClient&) = delete;

    bool IsConnected() const { return m_Connected; }
    bool Send(const std::string& bytes) {
        size_t done = 0;
        while (done < bytes.size()) {
            ssize_t n = ::send(m_Fd, bytes.data() + done, bytes.size() - done, MSG_NOSIGNAL);
            if (n <= 0) {
                return false;
            }
            done += size_t(n);
        }
        return true;
    }
    // Each byte in a segment of its own (Nagle off) after a short pause, so that the server,
    // waiting for more, reads it alone.
    bool SendByteByByte(const std::string& bytes) {
        const int on = 1;
        ::setsockopt(m_Fd, IPPROTO_TCP, TCP_NODELAY, &on, sizeof(on));
        for (char c : bytes) {
            ::usleep(200);
            if (!Send(std::string(1, c))) {
                return false;
            }
        }
        return true;
    }
    // Reads one answer; head_only for the answer to HEAD (or any answer without a body).
    Answer Read(bool head_only = false) {
        Answer answer;
        std::string head;
        while (head.find("\r\n\r\n") == std::string::npos) {
            char c;
            if (!ReadByte(c)) {
                return answer;
            }
            head += c;
        }
        ParseHead(head, answer);
        if (head_only || answer.status == 304 || answer.status == 100) {
            return answer;
        }
        if (answer.Has("content-length")) {
            ReadBytes(std::stoull(answer.Get("content-length")), answer.body);
        } else if (answer.Get("transfer-encoding") == "chunked") {
            ReadChunked(answer.body);
        } else {
            char c;
            while (ReadByte(c)) {
                answer.body += c;
            }
        }
        return answer;
    }
    // Reads and drops up to `limit` body bytes as they come.
    size_t Drain(size_t limit) {
        char buffer[65536];
        size_t total = 0;
        while (total < limit) {
            ssize_t n = ::recv(m_Fd, buffer, sizeof(buffer), 0);
            if (n <= 0) {
                break;
            }
            total += size_t(n);
        }
        return total;
    }
    // True when the server closed the connection (nothing more arrives).
    bool IsClosedByPeer() {
        char c;
        return !ReadByte(c);
    }
    // A request and its answer in one go.
    Answer Exchange(const std::string& request, bool head_only = false) {
        if (!Send(request)) {
            return Answer();
        }
        return Read(head_only);
    }

private:
    bool ReadByte(char& c) {
        if (m_Offset == m_Filled) {
            ssize_t n = ::recv(m_Fd, m_Buffer, sizeof(m_Buffer), 0);
            if (n <= 0) {
                return false;
            }
            m_Filled = size_t(n);
            m_Offset = 0;
        }
        c = m_Buffer[m_Offset++];
        return true;
    }
    void ReadBytes(size_t count, std::string& out) {
        char c;
        while (count-- > 0 && ReadByte(c)) {
            out += c;
        }
    }
    std::string ReadLine() {
        std::string line;
        char c;
        while (ReadByte(c) && c != '\n') {
            if (c != '\r') {
                line += c;
            }
        }
        return line;
    }
    void ReadChunked(std::string& out) {
        for (;;) {
            std::string size_line = ReadLine();
            if (size_line.empty()) {
                return;
            }
            size_t size = std::stoul(size_line, nullptr, 16);
            if (size == 0) {
                ReadLine();
                return;
            }
            ReadBytes(size, out);
            ReadLine();
        }
    }
    static void ParseHead(const std::string& head, Answer& answer) {
        size_t line_end = head.find("\r\n");
        std::string status_line = head.substr(0, line_end);
        size_t first = status_line.find(' ');
        size_t second = status_line.find(' ', first + 1);
        if (first == std::string::npos) {
            return;
        }
        answer.status = std::atoi(status_line.substr(first + 1, second - first - 1).c_str());
        answer.reason = second == std::string::npos ? "" : status_line.substr(second + 1);
        for (size_t start = line_end + 2; start < head.size();) {
            size_t end = head.find("\r\n", start);
            std::string line = head.substr(start, end - start);
            start = end + 2;
            size_t colon = line.find(':');
            if (colon == std::string::npos) {
                continue;
            }
            std::string name = line.substr(0, colon);
            for (char& ch : name) {
                ch = char(std::tolower(static_cast<unsigned char>(ch)));
            }
            size_t value_start = line.find_first_not_of(' ', colon + 1);
            answer.headers[name] = value_start == std::string::npos ? "" : line.substr(value_start);
        }
    }

    int m_Fd = -1;
    bool m_Connected = false;
    char m_Buffer[16384];
    size_t m_Offset = 0;
    size_t m_Filled = 0;
};

// Routes: /echo (the method, the body and its length), /chunked (a chunked answer), /nolength
// (a body of unknown length), /status/N (the handler returns result -N), /files/<path> (the file
// under the folder through ServeFile). Anything else: KL_ERROR_NO_SUCH_ITEM.
class TestHandler : public KL_HttpRequestHandler {
public:
    explicit TestHandler(std::string root = std::string()) : m_Root(std::move(root)) {}

    [[nodiscard]] KL_Result SetupResponse(KL_HttpRequest& request, const KL_HttpRequestContext& context,
                                          KL_HttpResponse& response) override {
        std::string path = KL_Uri::PercentDecode(request.GetUrl().GetPath().GetChars()).GetChars();
        KL_HttpEntity* entity = response.GetEntity();
        if (path == "/echo") {
            KL_String body;
            if (request.GetEntity() != nullptr) {
                KL_Result result = UP_HttpMessageHelper::GetBody(request, body);
                if (KL_FAILED(result)) {
                    return result;
                }
            }
            std::string text = std::string(request.GetMethod().GetChars()) + " " +
                               std::to_string(body.GetLength()) + " " + body.GetChars();
            entity->SetContentType("text/plain");
            entity->SetInputStream(text.c_str());
            return KL_SUCCESS;
        }
        if (path == "/chunked" || path == "/nolength") {
            KL_InputStreamReference stream(new KL_MemoryStream("0123456789", 10));
            entity->SetInputStream(stream, false);
            if (path == "/chunked") {
                entity->SetTransferEncoding("chunked");
            }
            return KL_SUCCESS;
        }
        if (path.rfind("/status/", 0) == 0) {
            return -std::atoi(path.c_str() + 8);
        }
        if (path.rfind("/files/", 0) == 0) {
            std::string file = m_Root + "/" + path.substr(7);
            return UP_HttpServer::ServeFile(request, context, response, file.c_str());
        }
        return KL_ERROR_NO_SUCH_ITEM;
    }

private:
    std::string m_Root;
};

// A started server on a random port with the test handler for "/" and everything below.
class ServerFixture : public ::testing::Test {
protected:
    // Stops the server started before, if any; limits: null for the server's defaults.
    void StartServer(const std::string& root = std::string(), const UP_HttpServerLimits* limits = nullptr,
                     KL_Cardinal max_clients = 100) {
        m_Server.reset();
        m_Handler = std::make_unique<TestHandler>(root);
        m_Server = std::make_unique<UP_HttpServer>(KL_IpAddress::Any, 0, true, max_clients, false);
        if (limits != nullptr) {
            m_Server->SetLimits(*limits);
        }
        ASSERT_EQ(m_Server->AddRequestHandler(m_Handler.get(), "/", true, false), KL_SUCCESS);
        ASSERT_EQ(m_Server->Start(), KL_SUCCESS);
        m_Port = m_Server->GetPort();
    }
    void TearDown() override {
        m_Server.reset();
        m_Handler.reset();
    }

    std::unique_ptr<TestHandler> m_Handler;
    std::unique_ptr<UP_HttpServer> m_Server;
    uint16_t m_Port = 0;
};

inline std::string Get(const std::string& path, const std::string& headers = std::string(),
                       const char* method = "GET", const char* protocol = "HTTP/1.1") {
    return std::string(method) + " " + path + " " + protocol + "\r\nHost: 127.0.0.1\r\n" + headers + "\r\n";
}

// A loopback connection from the given local address (127.0.0.0/8 is all local), with a small
// receive window and segment size when asked, so that an answer it does not read fills the
// server's socket buffers quickly; timeout_ms 0: a connect that does not wait. -1 when it fails.
inline int ConnectFrom(const char* local, uint16_t port, bool small_window = false, int timeout_ms = 5000) {
    int fd = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    timeval tv{timeout_ms / 1000, (timeout_ms % 1000) * 1000};
    ::setsockopt(fd, SOL_SOCKET, SO_SNDTIMEO, &tv, sizeof tv); // bounds the connect
    if (timeout_ms == 0) {
        ::fcntl(fd, F_SETFL, O_NONBLOCK); // connected later, or failed
    }
    if (small_window) {
        int buffer = 4096;
        int segment = 1024;
        ::setsockopt(fd, SOL_SOCKET, SO_RCVBUF, &buffer, sizeof buffer);
        ::setsockopt(fd, IPPROTO_TCP, TCP_MAXSEG, &segment, sizeof segment);
    }
    sockaddr_in address{};
    address.sin_family = AF_INET;
    ::inet_pton(AF_INET, local, &address.sin_addr);
    if (::bind(fd, reinterpret_cast<sockaddr*>(&address), sizeof address) != 0) {
        ::close(fd);
        return -1;
    }
    address.sin_port = htons(port);
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    if (::connect(fd, reinterpret_cast<sockaddr*>(&address), sizeof address) != 0 &&
        (timeout_ms != 0 || errno != EINPROGRESS)) {
        ::close(fd);
        return -1;
    }
    return fd;
}

// True when the status line of an answer begins to arrive within 5 s.
inline bool Answered(int fd) {
    timeval tv{5, 0};
    ::setsockopt(fd, SOL_SOCKET, SO_RCVTIMEO, &tv, sizeof tv);
    char status[12] = {};
    return ::recv(fd, status, sizeof status, MSG_WAITALL) == ssize_t(sizeof status) &&
           std::string(status, sizeof status) == "HTTP/1.1 200";
}

} // namespace http_test
