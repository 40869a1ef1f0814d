// A GENA callback listener for the eventing tests: an HTTP server on a loopback address that
// records every request it gets and answers each with a fixed status (200, or a redirect).
#pragma once

#include "../host/HostTestSupport.h"

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <mutex>
#include <thread>
#include <vector>

namespace gena_test {

using host_test::Reply;

class CallbackListener {
public:
    explicit CallbackListener(const char* address = "127.0.0.1", int status = 200, std::string location = "")
        : m_Address(address), m_Status(status), m_Location(std::move(location)) {
        m_Socket = socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
        sockaddr_in at{};
        at.sin_family = AF_INET;
        inet_pton(AF_INET, address, &at.sin_addr);
        int one = 1;
        setsockopt(m_Socket, SOL_SOCKET, SO_REUSEADDR, &one, sizeof one);
        if (bind(m_Socket, reinterpret_cast<sockaddr*>(&at), sizeof at) == 0 && listen(m_Socket, 64) == 0) {
            socklen_t length = sizeof at;
            getsockname(m_Socket, reinterpret_cast<sockaddr*>(&at), &length);
            m_Port = ntohs(at.sin_port);
        }
        m_Acceptor = std::thread([this] { Accept(); });
    }
    ~CallbackListener() {
        m_Stop = true;
        m_Acceptor.join();
        for (std::thread& t : m_Connections) {
            t.join();
        }
        close(m_Socket);
    }
    CallbackListener(const CallbackListener&) = delete;
    CallbackListener& operator=(const CallbackListener&) = delete;

    std::string Url(const std::string& path = "/event") const {
        return "http://" + m_Address + ":" + std::to_string(m_Port) + path;
    }
    // Waits until count requests arrived (at most timeout_ms); true when they did.
    bool WaitFor(size_t count, int timeout_ms = 10000) {
        std::unique_lock<std::mutex> lock(m_Mutex);
        return m_Changed.wait_for(lock, std::chrono::milliseconds(timeout_ms),
                                  [&] { return m_Requests.size() >= count; });
    }
    std::vector<Reply> Requests() {
        std::lock_guard<std::mutex> lock(m_Mutex);
        return m_Requests;
    }
    size_t ConnectionCount() const { return m_Accepted.load(); }

private:
    void Accept() {
        while (!m_Stop) {
            pollfd p{m_Socket, POLLIN, 0};
            if (poll(&p, 1, 50) <= 0) {
                continue;
            }
            int fd = accept4(m_Socket, nullptr, nullptr, SOCK_CLOEXEC);
            if (fd < 0) {
                continue;
            }
            ++m_Accepted;
            m_Connections.emplace_back([this, fd] { Serve(fd); });
        }
    }

    void Serve(int fd) {
        std::string pending;
        char buffer[8192];
        while (!m_Stop) {
            size_t end = pending.find("\r\n\r\n");
            if (end != std::string::npos) {
                // A request line in place of a status line: parse it as a reply's head.
                Reply request = host_test::ParseReply("HTTP/1.1 0 " + pending.substr(0, end + 4), false);
                size_t length =
                    request.Has("content-length") ? std::stoul(request.Header("content-length")) : 0;
                if (pending.size() >= end + 4 + length) {
                    request.reason = pending.substr(0, pending.find("\r\n"));
                    request.body = pending.substr(end + 4, length);
                    pending.erase(0, end + 4 + length);
                    Answer(fd);
                    std::lock_guard<std::mutex> lock(m_Mutex);
                    m_Requests.push_back(request);
                    m_Changed.notify_all();
                    continue;
                }
            }
            pollfd p{fd, POLLIN, 0};
            if (poll(&p, 1, 50) <= 0) {
                continue;
            }
            ssize_t n = recv(fd, buffer, sizeof buffer, 0);
            if (n <= 0) {
                break;
            }
            pending.append(buffer, static_cast<size_t>(n));
        }
        close(fd);
    }

    void Answer(int fd) {
        std::string answer = "HTTP/1.1 " + std::to_string(m_Status) + (m_Status == 200 ? " OK" : " Found") +
                             "\r\nContent-Length: 0\r\n";
        if (!m_Location.empty()) {
            answer += "Location: " + m_Location + "\r\n";
        }
        host_test::SendAll(fd, answer + "\r\n");
    }

    std::string m_Address;
    int m_Status;
    std::string m_Location;
    int m_Socket = -1;
    uint16_t m_Port = 0;
    std::atomic<bool> m_Stop{false};
    std::atomic<size_t> m_Accepted{0};
    std::thread m_Acceptor;
    std::vector<std::thread> m_Connections; // touched by the acceptor thread only, until joined
    std::mutex m_Mutex;
    std::condition_variable m_Changed;
    std::vector<Reply> m_Requests; // reason: the request line
};

inline Reply Subscribe(uint16_t port, const std::string& path, const std::string& headers) {
    return host_test::Exchange(port, host_test::Request("SUBSCRIBE", path, headers));
}

inline Reply SubscribeTo(const CounterDevice& device, const std::string& callback_url) {
    return Subscribe(device.GetPort(), host_test::EventPath(device),
                     "NT: upnp:event\r\nCALLBACK: <" + callback_url + ">\r\n");
}

// A SUBSCRIBE from a peer of its own: the connection leaves from source (a 127.0.0.0/8 address)
// and the callback URL names that address.
inline Reply SubscribeFrom(const CounterDevice& device, const std::string& source) {
    int fd = socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    sockaddr_in at{};
    at.sin_family = AF_INET;
    inet_pton(AF_INET, source.c_str(), &at.sin_addr);
    sockaddr_in to{};
    to.sin_family = AF_INET;
    to.sin_port = htons(device.GetPort());
    inet_pton(AF_INET, "127.0.0.1", &to.sin_addr);
    Reply reply;
    if (bind(fd, reinterpret_cast<sockaddr*>(&at), sizeof at) == 0 &&
        connect(fd, reinterpret_cast<sockaddr*>(&to), sizeof to) == 0) {
        host_test::SendAll(
            fd, host_test::Request("SUBSCRIBE", host_test::EventPath(device),
                                   "NT: upnp:event\r\nCALLBACK: <http://" + source + ":9/event>\r\n"));
        reply = host_test::ReadReply(fd);
    }
    close(fd);
    return reply;
}

inline Reply Apply(const CounterDevice& device, const std::string& operation, const std::string& amount) {
    return host_test::Exchange(
        device.GetPort(),
        host_test::Request("POST", host_test::ControlPath(device), host_test::SoapActionHeader(),
                           host_test::ApplyBody(host_test::Arguments(operation, amount))));
}

} // namespace gena_test
