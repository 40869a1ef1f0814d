// The network of the SSDP and engine tests, made once per test process before the first test:
// the process moves into a network namespace of its own (the "device" side: lo up, en0
// 10.231.7.1/24) whose veth peer cp0 (10.231.7.2/24) sits in a second namespace (the "client"
// side). Both ends route 224.0.0.0/4. Nothing reaches the machine's own network. Where
// namespaces are refused, Ready() is false and Reason() says why (the tests skip).
//
// Client sockets are made with the calling thread briefly inside the client namespace; a socket
// stays in the namespace it was made in.
#pragma once

#include "KL_BufferedInputStream.h"
#include "KL_HttpRequest.h"
#include "KL_HttpResponse.h"
#include "KL_MemoryStream.h"
#include "UP_DeviceHost.h"
#include "UP_Service.h"

#include <arpa/inet.h>
#include <fcntl.h>
#include <gtest/gtest.h>
#include <netinet/in.h>
#include <poll.h>
#include <sched.h>
#include <signal.h>
#include <sys/socket.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cstdlib>
#include <cstring>
#include <string>
#include <thread>
#include <vector>

namespace ssdp_test {

constexpr const char* kDeviceAddress = "10.231.7.1";
constexpr const char* kClientAddress = "10.231.7.2";
constexpr const char* kUuid = "11111111-2222-3333-4444-555555555555";
constexpr const char* kDeviceType = "urn:schemas-lanyard-org:device:SsdpTest:1";
constexpr const char* kServiceType = "urn:schemas-lanyard-org:service:Counter:1";

class Network {
public:
    static Network& Get() {
        static Network network;
        return network;
    }
    bool Ready() const { return m_Ready; }
    const std::string& Reason() const { return m_Reason; }

    // Runs a shell command on one side; true when it exits 0.
    bool Device(const std::string& command) { return Run(m_DeviceFd, command); }
    bool Client(const std::string& command) { return Run(m_ClientFd, command); }

    // A UDP socket made in the client namespace, bound to address:0 (non-blocking off), or -1.
    int ClientSocket(const char* address = kClientAddress) {
        if (setns(m_ClientFd, CLONE_NEWNET) != 0) {
            return -1;
        }
        int fd = socket(AF_INET, SOCK_DGRAM, 0);
        sockaddr_in local{};
        local.sin_family = AF_INET;
        inet_pton(AF_INET, address, &local.sin_addr);
        if (fd >= 0 && bind(fd, reinterpret_cast<sockaddr*>(&local), sizeof local) != 0) {
            close(fd);
            fd = -1;
        }
        int on = 1;
        if (fd >= 0) {
            setsockopt(fd, SOL_SOCKET, SO_TIMESTAMPNS, &on, sizeof on);
        }
        (void)setns(m_DeviceFd, CLONE_NEWNET);
        return fd;
    }

    // Runs make with the calling thread inside the client namespace (what it opens stays there);
    // false when the namespace could not be entered.
    template <typename F> bool InClient(F&& make) {
        if (setns(m_ClientFd, CLONE_NEWNET) != 0) {
            return false;
        }
        make();
        (void)setns(m_DeviceFd, CLONE_NEWNET);
        return true;
    }

    // A socket in the client namespace bound to 0.0.0.0:1900 that has joined the SSDP group on cp0
    // (it receives every NOTIFY the device multicasts), or -1.
    int ClientGroupSocket() {
        if (setns(m_ClientFd, CLONE_NEWNET) != 0) {
            return -1;
        }
        int fd = socket(AF_INET, SOCK_DGRAM, 0);
        int on = 1;
        setsockopt(fd, SOL_SOCKET, SO_REUSEADDR, &on, sizeof on);
        setsockopt(fd, SOL_SOCKET, SO_TIMESTAMPNS, &on, sizeof on);
        sockaddr_in local{};
        local.sin_family = AF_INET;
        local.sin_port = htons(1900);
        ip_mreq group{};
        inet_pton(AF_INET, "239.255.255.250", &group.imr_multiaddr);
        inet_pton(AF_INET, kClientAddress, &group.imr_interface);
        if (fd >= 0 && (bind(fd, reinterpret_cast<sockaddr*>(&local), sizeof local) != 0 ||
                        setsockopt(fd, IPPROTO_IP, IP_ADD_MEMBERSHIP, &group, sizeof group) != 0)) {
            close(fd);
            fd = -1;
        }
        (void)setns(m_DeviceFd, CLONE_NEWNET);
        return fd;
    }

    // Sets up the namespaces (called once, before any test thread exists).
    void Setup() {
        if (getuid() != 0) {
            m_Reason = "network namespaces need root";
            return;
        }
        if (unshare(CLONE_NEWNET) != 0) {
            m_Reason = std::string("network namespaces are refused here: ") + std::strerror(errno);
            return;
        }
        m_DeviceFd = open("/proc/thread-self/ns/net", O_RDONLY | O_CLOEXEC);
        int ready[2];
        if (m_DeviceFd < 0 || pipe(ready) != 0) {
            m_Reason = "no namespace handle";
            return;
        }
        const pid_t holder = fork();
        if (holder == 0) {
            char byte = unshare(CLONE_NEWNET) == 0 ? 1 : 0;
            (void)!write(ready[1], &byte, 1);
            pause();
            _exit(0);
        }
        char byte = 0;
        (void)!read(ready[0], &byte, 1);
        close(ready[0]);
        close(ready[1]);
        const std::string pid = std::to_string(holder);
        m_ClientFd = byte == 1 ? open(("/proc/" + pid + "/ns/net").c_str(), O_RDONLY | O_CLOEXEC) : -1;
        const bool linked = m_ClientFd >= 0 && Device("ip link set lo up") &&
                            Device("ip link add en0 type veth peer name cp0 netns " + pid);
        kill(holder, SIGKILL);
        waitpid(holder, nullptr, 0);
        if (!linked) {
            m_Reason = "veth pairs are refused here";
            return;
        }
        m_Ready =
            Device("ip addr add 10.231.7.1/24 brd + dev en0 && ip link set en0 up && "
                   "ip route add 224.0.0.0/4 dev en0") &&
            Client("ip link set lo up && ip addr add 10.231.7.2/24 brd + dev cp0 && ip link set cp0 up && "
                   "ip route add 224.0.0.0/4 dev cp0");
        if (!m_Ready) {
            m_Reason = "setting up the veth pair failed";
        }
    }

private:
    bool Run(int fd, const std::string& command) {
        if (fd < 0 || setns(fd, CLONE_NEWNET) != 0) {
            return false;
        }
        const int status = std::system((command + " >/dev/null 2>&1").c_str());
        (void)setns(m_DeviceFd, CLONE_NEWNET);
        return status == 0;
    }

    bool m_Ready = false;
    std::string m_Reason = "not set up";
    int m_DeviceFd = -1;
    int m_ClientFd = -1;
};

class NetworkEnvironment : public ::testing::Environment {
public:
    void SetUp() override { Network::Get().Setup(); }
};

#define SSDP_REQUIRE_NETWORK()                                                                               \
    do {                                                                                                     \
        if (!ssdp_test::Network::Get().Ready()) {                                                            \
            GTEST_SKIP() << "SKIP: " << ssdp_test::Network::Get().Reason();                                  \
        }                                                                                                    \
    } while (0)

// One datagram as received, with the kernel's receive time.
struct Datagram {
    std::string text;
    std::string from;
    int64_t nanos = 0;
};

// Receives datagrams on fd until the time (ms) has passed (or, with enough > 0, that many came).
inline std::vector<Datagram> ReceiveFor(int fd, int millis, size_t enough = 0) {
    std::vector<Datagram> got;
    const auto end = std::chrono::steady_clock::now() + std::chrono::milliseconds(millis);
    for (;;) {
        const auto left =
            std::chrono::duration_cast<std::chrono::milliseconds>(end - std::chrono::steady_clock::now())
                .count();
        if (left <= 0 || (enough > 0 && got.size() >= enough)) {
            break;
        }
        pollfd p{fd, POLLIN, 0};
        if (poll(&p, 1, static_cast<int>(left)) <= 0) {
            continue;
        }
        char buffer[4096];
        char control[256];
        sockaddr_in from{};
        iovec io{buffer, sizeof buffer};
        msghdr message{};
        message.msg_name = &from;
        message.msg_namelen = sizeof from;
        message.msg_iov = &io;
        message.msg_iovlen = 1;
        message.msg_control = control;
        message.msg_controllen = sizeof control;
        const ssize_t n = recvmsg(fd, &message, 0);
        if (n < 0) {
            continue;
        }
        Datagram d;
        d.text.assign(buffer, static_cast<size_t>(n));
        char address[INET_ADDRSTRLEN] = {};
        inet_ntop(AF_INET, &from.sin_addr, address, sizeof address);
        d.from = address;
        for (cmsghdr* c = CMSG_FIRSTHDR(&message); c != nullptr; c = CMSG_NXTHDR(&message, c)) {
            if (c->cmsg_level == SOL_SOCKET && c->cmsg_type == SCM_TIMESTAMPNS) {
                timespec ts;
                std::memcpy(&ts, CMSG_DATA(c), sizeof ts);
                d.nanos = int64_t(ts.tv_sec) * 1000000000 + ts.tv_nsec;
            }
        }
        got.push_back(d);
    }
    return got;
}

inline bool SendTo(int fd, const std::string& text, const char* address, uint16_t port) {
    sockaddr_in to{};
    to.sin_family = AF_INET;
    to.sin_port = htons(port);
    inet_pton(AF_INET, address, &to.sin_addr);
    return sendto(fd, text.data(), text.size(), 0, reinterpret_cast<sockaddr*>(&to), sizeof to) ==
           static_cast<ssize_t>(text.size());
}

inline std::string MSearch(const std::string& st, const std::string& mx = "1") {
    return "M-SEARCH * HTTP/1.1\r\nHOST: 239.255.255.250:1900\r\nMAN: \"ssdp:discover\"\r\nMX: " + mx +
           "\r\nST: " + st + "\r\n\r\n";
}

// The value of a header line of a datagram ("" when absent).
inline std::string Header(const std::string& text, const std::string& name) {
    size_t at = 0;
    while ((at = text.find("\r\n", at)) != std::string::npos) {
        at += 2;
        if (text.compare(at, name.size() + 1, name + ":") == 0) {
            size_t start = at + name.size() + 1;
            while (start < text.size() && text[start] == ' ') {
                ++start;
            }
            return text.substr(start, text.find("\r\n", start) - start);
        }
    }
    return "";
}

// The test device: a root device with one service (4 SSDP targets).
class TestDevice : public UP_DeviceHost {
public:
    explicit TestDevice(const char* uuid = kUuid)
        : UP_DeviceHost("/DeviceDescription.xml", uuid, kDeviceType, "SSDP test") {}
    KL_Result SetupServices() override {
        return AddService(new UP_Service(this, kServiceType, "urn:lanyard-org:serviceId:Counter", "Counter"));
    }
};

} // namespace ssdp_test
