// Shared by the host and GENA tests: a raw HTTP exchange with a device on 127.0.0.1 and the SOAP
// texts of the Counter test device (upnp/tests/support/CounterDevice.h).
#pragma once

#include "CounterDevice.h"

#include <arpa/inet.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <algorithm>
#include <cctype>
#include <cstring>
#include <map>
#include <string>

namespace host_test {

struct Reply {
    bool answered = false;
    int status = 0;
    std::string reason;
    std::map<std::string, std::string> headers; // names in lower case
    std::string body;

    bool Has(const std::string& name) const { return headers.count(name) != 0; }
    std::string Header(const std::string& name) const {
        auto it = headers.find(name);
        return it == headers.end() ? std::string() : it->second;
    }
};

inline int Connect(uint16_t port, const char* address = "127.0.0.1") {
    int fd = socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    sockaddr_in to{};
    to.sin_family = AF_INET;
    to.sin_port = htons(port);
    inet_pton(AF_INET, address, &to.sin_addr);
    timeval timeout{10, 0};
    setsockopt(fd, SOL_SOCKET, SO_SNDTIMEO, &timeout, sizeof timeout);
    if (connect(fd, reinterpret_cast<sockaddr*>(&to), sizeof to) != 0) {
        close(fd);
        return -1;
    }
    return fd;
}

inline void SendAll(int fd, const std::string& data) {
    size_t sent = 0;
    while (sent < data.size()) {
        ssize_t n = send(fd, data.data() + sent, data.size() - sent, MSG_NOSIGNAL);
        if (n <= 0) {
            return;
        }
        sent += static_cast<size_t>(n);
    }
}

inline Reply ParseReply(const std::string& text, bool head) {
    Reply reply;
    size_t end = text.find("\r\n\r\n");
    if (text.compare(0, 5, "HTTP/") != 0 || end == std::string::npos) {
        return reply;
    }
    reply.answered = true;
    size_t line_end = text.find("\r\n");
    std::string status_line = text.substr(0, line_end);
    size_t space = status_line.find(' ');
    reply.status = std::atoi(status_line.c_str() + space + 1);
    size_t reason = status_line.find(' ', space + 1);
    reply.reason = reason == std::string::npos ? "" : status_line.substr(reason + 1);
    for (size_t pos = line_end + 2; pos < end;) {
        size_t next = text.find("\r\n", pos);
        std::string line = text.substr(pos, next - pos);
        size_t colon = line.find(':');
        std::string name = line.substr(0, colon);
        std::transform(name.begin(), name.end(), name.begin(),
                       [](unsigned char c) { return std::tolower(c); });
        size_t value = line.find_first_not_of(' ', colon + 1);
        reply.headers[name] = value == std::string::npos ? "" : line.substr(value);
        pos = next + 2;
    }
    reply.body = head ? std::string() : text.substr(end + 4);
    return reply;
}

// Reads one answer: until the head and Content-Length bytes are in, or the connection ends.
inline Reply ReadReply(int fd, bool head = false, int timeout_ms = 10000) {
    std::string text;
    char buffer[65536];
    for (;;) {
        size_t end = text.find("\r\n\r\n");
        if (end != std::string::npos) {
            Reply partial = ParseReply(text, head);
            if (head || (partial.Has("content-length") &&
                         text.size() - end - 4 >= std::stoul(partial.Header("content-length")))) {
                partial.body =
                    head ? "" : partial.body.substr(0, std::stoul(partial.Header("content-length")));
                return partial;
            }
        }
        pollfd p{fd, POLLIN, 0};
        if (poll(&p, 1, timeout_ms) <= 0) {
            break;
        }
        ssize_t n = recv(fd, buffer, sizeof buffer, 0);
        if (n <= 0) {
            break;
        }
        text.append(buffer, static_cast<size_t>(n));
    }
    return ParseReply(text, head);
}

// One request on a new connection.
inline Reply Exchange(uint16_t port, const std::string& request, bool head = false) {
    int fd = Connect(port);
    if (fd < 0) {
        return Reply();
    }
    SendAll(fd, request);
    Reply reply = ReadReply(fd, head);
    close(fd);
    return reply;
}

inline std::string Request(const std::string& method, const std::string& path,
                           const std::string& headers = "", const std::string& body = "",
                           const char* protocol = "HTTP/1.1") {
    std::string text =
        method + " " + path + " " + protocol + "\r\nHost: 127.0.0.1\r\nConnection: close\r\n" + headers;
    if (!body.empty() || method == "POST") {
        text += "Content-Length: " + std::to_string(body.size()) + "\r\n";
    }
    return text + "\r\n" + body;
}

inline std::string Envelope(const std::string& inner) {
    return "<?xml version=\"1.0\"?><s:Envelope xmlns:s=\"http://schemas.xmlsoap.org/soap/envelope/\" "
           "s:encodingStyle=\"http://schemas.xmlsoap.org/soap/encoding/\"><s:Body>" +
           inner + "</s:Body></s:Envelope>";
}

inline std::string ApplyBody(const std::string& arguments, const std::string& action = "Apply") {
    return Envelope("<u:" + action + " xmlns:u=\"" + CounterDevice::kServiceType + "\">" + arguments +
                    "</u:" + action + ">");
}

inline std::string Arguments(const std::string& operation, const std::string& amount,
                             const std::string& note = "n") {
    return "<Operation>" + operation + "</Operation><Amount>" + amount + "</Amount><Note>" + note + "</Note>";
}

inline std::string SoapActionHeader(const std::string& action = "Apply") {
    return std::string("SOAPAction: \"") + CounterDevice::kServiceType + "#" + action + "\"\r\n";
}

// The service's URLs as the description names them.
inline std::string ControlPath(const CounterDevice& device) {
    return device.GetCounterService()->GetControlURL().GetChars();
}
inline std::string EventPath(const CounterDevice& device) {
    return device.GetCounterService()->GetEventSubURL().GetChars();
}
inline std::string ScpdPath(const CounterDevice& device) {
    return device.GetCounterService()->GetSCPDURL().GetChars();
}

} // namespace host_test
