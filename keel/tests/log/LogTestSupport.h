// Helpers of the logging tests: records caught by the custom handler, loopback listeners with
// time-outs, and a temporary folder.
#pragma once

#include "KL_LogManager.h"
#include "KL_LogRecord.h"

#include <arpa/inet.h>
#include <cstdlib>
#include <filesystem>
#include <mutex>
#include <netinet/in.h>
#include <poll.h>
#include <string>
#include <sys/socket.h>
#include <unistd.h>
#include <vector>

namespace logtest {

// Every record the custom handlers of the process receive while an instance lives.
class CaughtRecords {
public:
    struct Caught {
        std::string m_Logger;
        int m_Level;
        std::string m_Message;
    };

    CaughtRecords() {
        Instance() = this;
        KL_LogManager::SetCustomHandlerFunction(&Catch);
    }
    ~CaughtRecords() {
        KL_LogManager::SetCustomHandlerFunction(nullptr);
        Instance() = nullptr;
    }
    CaughtRecords(const CaughtRecords&) = delete;
    CaughtRecords& operator=(const CaughtRecords&) = delete;

    std::vector<Caught> Get() {
        std::lock_guard<std::mutex> lock(m_Mutex);
        return m_Records;
    }

private:
    static CaughtRecords*& Instance() {
        static CaughtRecords* instance = nullptr;
        return instance;
    }
    static void Catch(const KL_LogRecord& record) {
        CaughtRecords* self = Instance();
        std::lock_guard<std::mutex> lock(self->m_Mutex);
        self->m_Records.push_back({record.m_LoggerName, record.m_Level, record.m_Message});
    }

    std::mutex m_Mutex;
    std::vector<Caught> m_Records;
};

// A socket of the given type bound to 127.0.0.1 on a free port (listening when TCP).
class LoopbackSocket {
public:
    explicit LoopbackSocket(int type, uint16_t port = 0) : m_Fd(socket(AF_INET, type, 0)) {
        int on = 1;
        (void)setsockopt(m_Fd, SOL_SOCKET, SO_REUSEADDR, &on, sizeof(on));
        sockaddr_in address{};
        address.sin_family = AF_INET;
        address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
        address.sin_port = htons(port);
        m_Ok = bind(m_Fd, reinterpret_cast<sockaddr*>(&address), sizeof(address)) == 0 &&
               (type != SOCK_STREAM || listen(m_Fd, 4) == 0);
        socklen_t length = sizeof(address);
        (void)getsockname(m_Fd, reinterpret_cast<sockaddr*>(&address), &length);
        m_Port = ntohs(address.sin_port);
    }
    ~LoopbackSocket() { close(m_Fd); }
    LoopbackSocket(const LoopbackSocket&) = delete;
    LoopbackSocket& operator=(const LoopbackSocket&) = delete;

    bool IsOk() const { return m_Ok; }
    uint16_t GetPort() const { return m_Port; }
    int GetFd() const { return m_Fd; }

    // Waits up to timeout_ms for the socket to be readable.
    bool WaitReadable(int timeout_ms) const {
        pollfd p{m_Fd, POLLIN, 0};
        return poll(&p, 1, timeout_ms) == 1;
    }
    // A datagram (UDP) or, -1, nothing within the time-out.
    ssize_t Receive(std::string& data, int timeout_ms) const {
        if (!WaitReadable(timeout_ms)) {
            return -1;
        }
        data.resize(70000);
        const ssize_t n = recv(m_Fd, data.data(), data.size(), 0);
        data.resize(n > 0 ? static_cast<size_t>(n) : 0);
        return n;
    }
    // An accepted connection (TCP) or -1.
    int Accept(int timeout_ms) const {
        return WaitReadable(timeout_ms) ? accept(m_Fd, nullptr, nullptr) : -1;
    }

private:
    int m_Fd;
    bool m_Ok = false;
    uint16_t m_Port = 0;
};

// Reads from a connection until `expected` bytes arrived or nothing more comes within the time-out.
inline std::string ReadSome(int fd, size_t expected, int timeout_ms) {
    std::string data;
    char buffer[4096];
    while (data.size() < expected) {
        pollfd p{fd, POLLIN, 0};
        if (poll(&p, 1, timeout_ms) != 1) {
            break;
        }
        const ssize_t n = recv(fd, buffer, sizeof(buffer), 0);
        if (n <= 0) {
            break;
        }
        data.append(buffer, static_cast<size_t>(n));
    }
    return data;
}

// A temporary folder removed with its content.
class TemporaryFolder {
public:
    TemporaryFolder() {
        std::string pattern = (std::filesystem::temp_directory_path() / "keel-log-XXXXXX").string();
        m_Path = mkdtemp(pattern.data()) != nullptr ? pattern : std::string();
    }
    ~TemporaryFolder() {
        std::error_code ignored;
        std::filesystem::remove_all(m_Path, ignored);
    }
    TemporaryFolder(const TemporaryFolder&) = delete;
    TemporaryFolder& operator=(const TemporaryFolder&) = delete;

    const std::string& GetPath() const { return m_Path; }

private:
    std::string m_Path;
};

} // namespace logtest
