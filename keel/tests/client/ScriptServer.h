// A scripted HTTP server on 127.0.0.1 (port 0) for the client tests: each request head (and its
// body, by Content-Length or chunked) is recorded and answered by the handler's bytes; a
// connection closes when the answer says so. Every wait is bounded.
#pragma once

#include <arpa/inet.h>
#include <atomic>
#include <functional>
#include <mutex>
#include <netinet/in.h>
#include <poll.h>
#include <string>
#include <sys/socket.h>
#include <thread>
#include <unistd.h>
#include <vector>

namespace client_test {

struct Reply {
    std::string bytes;
    bool close = false; // close the connection after the bytes
    bool hang = false;  // send nothing; keep the connection until the server stops
};

class ScriptServer {
public:
    // handler(request text, request number from 0) gives the answer.
    using Handler = std::function<Reply(const std::string& request, int index)>;

    explicit ScriptServer(Handler handler) : m_Handler(std::move(handler)) {
        m_Listener = socket(AF_INET, SOCK_STREAM, 0);
        sockaddr_in address{};
        address.sin_family = AF_INET;
        address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
        socklen_t length = sizeof address;
        if (bind(m_Listener, reinterpret_cast<sockaddr*>(&address), length) != 0 ||
            listen(m_Listener, 16) != 0 ||
            getsockname(m_Listener, reinterpret_cast<sockaddr*>(&address), &length) != 0) {
            return;
        }
        m_Port = ntohs(address.sin_port);
        m_Acceptor = std::thread([this] { AcceptLoop(); });
    }
    ~ScriptServer() {
        m_Stop = true;
        if (m_Acceptor.joinable()) {
            m_Acceptor.join();
        }
        for (std::thread& thread : m_Connections) {
            thread.join();
        }
        close(m_Listener);
    }
    uint16_t Port() const { return m_Port; }
    int Accepts() const { return m_Accepts; }
    std::vector<std::string> Requests() {
        std::lock_guard<std::mutex> lock(m_Mutex);
        return m_Requests;
    }
    std::string Url(const std::string& path, const char* host = "127.0.0.1") const {
        return "http://" + std::string(host) + ":" + std::to_string(m_Port) + path;
    }
    // Waits (bounded) until n requests have come in.
    bool WaitForRequests(size_t n) {
        for (int i = 0; i < 1000; ++i) {
            if (Requests().size() >= n) {
                return true;
            }
            usleep(10000);
        }
        return false;
    }

private:
    void AcceptLoop() {
        while (!m_Stop) {
            pollfd entry{m_Listener, POLLIN, 0};
            if (poll(&entry, 1, 10) <= 0) {
                continue;
            }
            const int fd = accept(m_Listener, nullptr, nullptr);
            if (fd < 0) {
                continue;
            }
            ++m_Accepts;
            m_Connections.emplace_back([this, fd] { Serve(fd); });
        }
    }
    // One byte at a time is enough here; false at the end or after the time-out.
    bool ReadByte(int fd, char& c) {
        for (int waited = 0; waited < 10000 && !m_Stop; waited += 50) {
            pollfd entry{fd, POLLIN, 0};
            if (poll(&entry, 1, 50) > 0) {
                return read(fd, &c, 1) == 1;
            }
        }
        return false;
    }
    bool ReadUntil(int fd, std::string& text, const std::string& end) {
        char c = 0;
        while (text.size() < end.size() || text.compare(text.size() - end.size(), end.size(), end) != 0) {
            if (!ReadByte(fd, c)) {
                return false;
            }
            text += c;
        }
        return true;
    }
    bool ReadRequest(int fd, std::string& text) {
        if (!ReadUntil(fd, text, "\r\n\r\n")) {
            return false;
        }
        std::string lower = text;
        for (char& c : lower) {
            c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
        }
        const size_t length_at = lower.find("\r\ncontent-length:");
        if (lower.find("transfer-encoding: chunked") != std::string::npos) {
            return ReadUntil(fd, text, "0\r\n\r\n");
        }
        if (length_at != std::string::npos) {
            size_t length = std::stoul(lower.substr(length_at + 17));
            char c = 0;
            while (length-- > 0 && ReadByte(fd, c)) {
                text += c;
            }
        }
        return true;
    }
    void Serve(int fd) {
        for (;;) {
            std::string request;
            if (!ReadRequest(fd, request)) {
                break;
            }
            int index = 0;
            {
                std::lock_guard<std::mutex> lock(m_Mutex);
                index = static_cast<int>(m_Requests.size());
                m_Requests.push_back(request);
            }
            const Reply reply = m_Handler(request, index);
            if (reply.hang) {
                while (!m_Stop) {
                    usleep(10000);
                }
                break;
            }
            if (!reply.bytes.empty() && send(fd, reply.bytes.data(), reply.bytes.size(), MSG_NOSIGNAL) < 0) {
                break;
            }
            if (reply.close) {
                break;
            }
        }
        close(fd);
    }

    Handler m_Handler;
    int m_Listener = -1;
    uint16_t m_Port = 0;
    std::atomic<bool> m_Stop{false};
    std::atomic<int> m_Accepts{0};
    std::thread m_Acceptor;
    std::vector<std::thread> m_Connections;
    std::mutex m_Mutex;
    std::vector<std::string> m_Requests;
};

inline Reply Ok(const std::string& body, const std::string& extra = "", const char* protocol = "HTTP/1.1") {
    return {std::string(protocol) + " 200 OK\r\nContent-Length: " + std::to_string(body.size()) + "\r\n" +
                extra + "\r\n" + body,
            false};
}

// The request line of a recorded request.
inline std::string RequestLine(const std::string& request) {
    return request.substr(0, request.find("\r\n"));
}

// The value of a header of a recorded request ("" when absent).
inline std::string HeaderOf(const std::string& request, const std::string& name) {
    const size_t at = request.find("\r\n" + name + ": ");
    if (at == std::string::npos) {
        return "";
    }
    const size_t start = at + 4 + name.size();
    return request.substr(start, request.find("\r\n", start) - start);
}

} // namespace client_test
