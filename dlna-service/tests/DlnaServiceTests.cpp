// MyDLNAService in network namespaces of its own: every case moves the test's main thread into a
// fresh namespace (the engine's threads and the helper programs started from it follow), with a
// veth end "en0" carrying 10.231.9.1/24, or with the loopback interface alone. The announcements
// are read from the SSDP group on en0, the description with curl; nothing leaves the namespace.
#include "MyDLNAService.h"

#include <gtest/gtest.h>

#include <arpa/inet.h>
#include <netinet/in.h>
#include <poll.h>
#include <sched.h>
#include <sys/resource.h>
#include <sys/socket.h>
#include <unistd.h>

#include <array>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <functional>
#include <future>
#include <string>
#include <vector>

namespace {

constexpr const char* kDeviceAddress = "10.231.9.1";
constexpr const char* kWithLan = "ip link set lo up && ip link add en0 type veth peer name cp0 && "
                                 "ip addr add 10.231.9.1/24 dev en0 && ip link set en0 up && "
                                 "ip link set cp0 up && ip route add 224.0.0.0/4 dev en0";
constexpr const char* kLoopbackOnly = "ip link set lo up";

std::string run(const std::string& command, int* status = nullptr) {
    std::string output;
    FILE* pipe = ::popen((command + " 2>&1").c_str(), "r");
    if (pipe == nullptr) {
        return output;
    }
    std::array<char, 4096> chunk{};
    size_t n = 0;
    while ((n = std::fread(chunk.data(), 1, chunk.size(), pipe)) > 0) {
        output.append(chunk.data(), n);
    }
    const int code = ::pclose(pipe);
    if (status) {
        *status = WIFEXITED(code) ? WEXITSTATUS(code) : -1;
    }
    return output;
}

// The value of a header in an SSDP message ("" when absent); names without regard to case.
std::string header(const std::string& message, const std::string& name) {
    size_t line = 0;
    while (line < message.size()) {
        size_t end = message.find("\r\n", line);
        end = end == std::string::npos ? message.size() : end;
        const std::string text = message.substr(line, end - line);
        if (text.size() > name.size() && text[name.size()] == ':' &&
            strncasecmp(text.c_str(), name.c_str(), name.size()) == 0) {
            const size_t start = text.find_first_not_of(' ', name.size() + 1);
            return start == std::string::npos ? std::string() : text.substr(start);
        }
        line = end + 2;
    }
    return std::string();
}

// A member of the SSDP group on en0 (bound to port 1900; with address reuse unless told not to).
class SsdpMember {
public:
    explicit SsdpMember(bool reuse = true) : m_Socket(::socket(AF_INET, SOCK_DGRAM | SOCK_CLOEXEC, 0)) {
        const int yes = 1;
        if (reuse) {
            ::setsockopt(m_Socket, SOL_SOCKET, SO_REUSEADDR, &yes, sizeof yes);
        }
        sockaddr_in address{};
        address.sin_family = AF_INET;
        address.sin_port = htons(1900);
        m_Bound = ::bind(m_Socket, reinterpret_cast<sockaddr*>(&address), sizeof address) == 0;
        ip_mreq group{};
        group.imr_multiaddr.s_addr = inet_addr("239.255.255.250");
        group.imr_interface.s_addr = inet_addr(kDeviceAddress);
        ::setsockopt(m_Socket, IPPROTO_IP, IP_ADD_MEMBERSHIP, &group, sizeof group);
    }
    ~SsdpMember() { ::close(m_Socket); }
    SsdpMember(const SsdpMember&) = delete;
    SsdpMember& operator=(const SsdpMember&) = delete;

    bool IsBound() const { return m_Bound; }

    // The first NOTIFY that satisfies the test within the time; "" when none came.
    std::string WaitForNotify(const std::function<bool(const std::string&)>& test, int milliseconds = 8000) {
        const auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(milliseconds);
        for (;;) {
            const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(
                deadline - std::chrono::steady_clock::now());
            pollfd entry{m_Socket, POLLIN, 0};
            if (left.count() <= 0 || ::poll(&entry, 1, static_cast<int>(left.count())) <= 0) {
                return std::string();
            }
            std::array<char, 2048> datagram{};
            const ssize_t n = ::recv(m_Socket, datagram.data(), datagram.size(), 0);
            const std::string message(datagram.data(), n > 0 ? static_cast<size_t>(n) : 0);
            if (message.starts_with("NOTIFY ") && test(message)) {
                return message;
            }
        }
    }

private:
    int m_Socket;
    bool m_Bound = false;
};

bool IsAlive(const std::string& message, const std::string& uuid) {
    return header(message, "NTS") == "ssdp:alive" && header(message, "USN").find(uuid) != std::string::npos;
}

bool IsByeBye(const std::string& message, const std::string& uuid) {
    return header(message, "NTS") == "ssdp:byebye" && header(message, "USN").find(uuid) != std::string::npos;
}

std::string UuidOf(const MyDLNAService& service) {
    return service.mediaServer().IsNull() ? std::string() : service.mediaServer()->GetUUID().GetChars();
}

class DlnaService : public ::testing::Test {
protected:
    void SetUp() override { folder = MakeFolder(); }
    void TearDown() override { std::filesystem::remove_all(folder); }

    // Moves this thread into a new network namespace set up by the commands.
    void EnterNamespace(const char* setup) {
        if (::unshare(CLONE_NEWNET) != 0) {
            GTEST_SKIP() << "network namespaces are refused here (unshare needs root); not checked";
        }
        int status = 0;
        const std::string output = run(std::string("sh -c '") + setup + "'", &status);
        if (status != 0) {
            GTEST_SKIP() << "the veth driver is refused here; not checked: " << output;
        }
    }

    static std::string MakeFolder() {
        const std::string path = ::testing::TempDir() + "dlna-service-" + std::to_string(::getpid());
        std::filesystem::create_directories(path);
        std::ofstream(path + "/clip.mp4") << "not really a video\n";
        return path;
    }

    static bool SomethingListens() { return !run("ss -Hltn").empty(); }

    std::string folder;
};

// Skips the case where the namespace is refused.
#define ENTER_NAMESPACE(setup)                                                                               \
    EnterNamespace(setup);                                                                                   \
    if (IsSkipped()) {                                                                                       \
        return;                                                                                              \
    }

TEST_F(DlnaService, AnEmptyNameIsSomeIDevice) {
    ENTER_NAMESPACE(kWithLan);
    SsdpMember member;
    MyDLNAService service;
    ASSERT_TRUE(service.start(folder, ""));
    const std::string uuid = UuidOf(service);
    const std::string alive =
        member.WaitForNotify([&](const std::string& message) { return IsAlive(message, uuid); });
    ASSERT_FALSE(alive.empty()) << "no alive announcement of " << uuid;
    const std::string description = run("curl -s -S -m 10 '" + header(alive, "LOCATION") + "'");
    for (const char* expected :
         {"<friendlyName>Some iDevice</friendlyName>", "<modelName>Media Server - Some iDevice</modelName>",
          "<modelDescription>File Media Server from Some iDevice</modelDescription>",
          "<modelNumber>5.0</modelNumber>", "<manufacturer>Lanyard</manufacturer>", ">DMS-1.50</",
          "X_DLNADOC", "urn:schemas-upnp-org:device:MediaServer:1"}) {
        EXPECT_NE(description.find(expected), std::string::npos) << expected << " missing in\n"
                                                                 << description;
    }
    EXPECT_TRUE(service.stop());
}

TEST_F(DlnaService, StopBeforeAnyStartAnswersTrue) {
    MyDLNAService service;
    EXPECT_TRUE(service.stop());
    EXPECT_TRUE(service.mediaServer().IsNull());
}

// The engine's bind fails with a socket error, not the general failure: still no start.
TEST_F(DlnaService, ATakenSsdpPortStartsNothing) {
    ENTER_NAMESPACE(kWithLan);
    SsdpMember holder(false);
    ASSERT_TRUE(holder.IsBound());
    MyDLNAService service;
    EXPECT_FALSE(service.start(folder, "Taken"));
    EXPECT_TRUE(service.mediaServer().IsNull());
    EXPECT_FALSE(SomethingListens()) << run("ss -ltnp");
    EXPECT_TRUE(holder.WaitForNotify([](const std::string&) { return true; }, 1500).empty());
}

// Without a usable interface the device announces on loopback alone, and is served.
TEST_F(DlnaService, LoopbackAloneStillStarts) {
    ENTER_NAMESPACE(kLoopbackOnly);
    MyDLNAService service;
    ASSERT_TRUE(service.start(folder, "Alone & <Co>")); // a name is text, never markup
    ASSERT_FALSE(service.mediaServer().IsNull());
    const std::string url =
        "http://127.0.0.1:" + std::to_string(service.mediaServer()->GetPort()) + "/DeviceDescription.xml";
    const std::string description = run("curl -s -S -m 10 " + url);
    EXPECT_NE(description.find("<friendlyName>Alone &amp; &lt;Co&gt;</friendlyName>"), std::string::npos)
        << description;
    EXPECT_NE(description.find("<modelName>Media Server - Alone &amp; &lt;Co&gt;</modelName>"),
              std::string::npos);
    EXPECT_TRUE(service.stop());
    EXPECT_FALSE(SomethingListens());
}

TEST_F(DlnaService, TwoStartsInTurnAnnounceTwoDevices) {
    ENTER_NAMESPACE(kWithLan);
    SsdpMember member;
    MyDLNAService service;
    ASSERT_TRUE(service.start(folder, "Turn"));
    const std::string first = UuidOf(service);
    EXPECT_TRUE(service.stop());
    ASSERT_TRUE(service.start(folder, "Turn"));
    const std::string second = UuidOf(service);
    EXPECT_NE(first, second);
    EXPECT_FALSE(member.WaitForNotify([&](const std::string& m) { return IsAlive(m, second); }).empty());
    // A restart does not bring the first device back.
    EXPECT_TRUE(member.WaitForNotify([&](const std::string& m) { return IsAlive(m, first); }, 1500).empty());
    EXPECT_FALSE(service.start(folder, "Twice")) << "a running service starts no second device";
    EXPECT_TRUE(service.stop());
}

TEST_F(DlnaService, EveryStopSaysByeBye) {
    ENTER_NAMESPACE(kWithLan);
    SsdpMember member;
    for (int cycle = 0; cycle < 20; ++cycle) {
        auto service = std::make_unique<MyDLNAService>();
        ASSERT_TRUE(service->start(folder, "Cycle " + std::to_string(cycle))) << "cycle " << cycle;
        const std::string uuid = UuidOf(*service);
        EXPECT_TRUE(service->stop());
        service.reset();
        EXPECT_FALSE(member.WaitForNotify([&](const std::string& m) { return IsByeBye(m, uuid); }).empty())
            << "no byebye in cycle " << cycle;
    }
    EXPECT_FALSE(SomethingListens());
}

// A television streaming a long file does not hold the stop up: the window waits for it.
TEST_F(DlnaService, StopComesBackWhileAClientStreams) {
    ENTER_NAMESPACE(kWithLan);
    std::ofstream(folder + "/long.mp4").close();
    std::filesystem::resize_file(folder + "/long.mp4", 256 << 20);
    MyDLNAService service;
    ASSERT_TRUE(service.start(folder, "Stream"));
    const std::string port = std::to_string(service.mediaServer()->GetPort());
    auto client = std::async(std::launch::async, [&] {
        return run("curl -s -S -o /dev/null -m 60 --limit-rate 100k -w '%{size_download}' 'http://" +
                   std::string(kDeviceAddress) + ":" + port + "/%25/long.mp4'");
    });
    bool streaming = false;
    for (int tries = 0; tries < 100 && !streaming; ++tries) {
        ::usleep(100 * 1000);
        streaming = !run("ss -Htn state established '( sport = :" + port + " )'").empty();
    }
    ASSERT_TRUE(streaming) << "the client never connected";
    auto stopping = std::async(std::launch::async, [&] { return service.stop(); });
    ASSERT_EQ(stopping.wait_for(std::chrono::seconds(5)), std::future_status::ready)
        << "stop hangs while a client streams";
    EXPECT_TRUE(stopping.get());
    EXPECT_LT(std::stoll("0" + client.get()), 256LL << 20) << "the stream was not cut";
}

// The engine starts even when its device cannot: here the device's HTTP server finds no free port
// among those it picks from (1024 to 2047, all taken). The start is a failure, and the engine is
// stopped again.
TEST_F(DlnaService, ADeviceThatCannotServeFailsTheStart) {
    ENTER_NAMESPACE(kWithLan);
    std::vector<int> taken;
    for (int port = 1024; port < 2048; ++port) {
        taken.push_back(::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0));
        sockaddr_in address{};
        address.sin_family = AF_INET;
        address.sin_port = htons(static_cast<uint16_t>(port));
        ASSERT_EQ(::bind(taken.back(), reinterpret_cast<sockaddr*>(&address), sizeof address), 0) << port;
    }
    SsdpMember member;
    const std::string ssdpSockets = run("ss -Hlun sport = :1900"); // the member's
    MyDLNAService service;
    EXPECT_FALSE(service.start(folder, "Portless"));
    EXPECT_TRUE(service.mediaServer().IsNull());
    EXPECT_EQ(run("ss -Hlun sport = :1900"), ssdpSockets) << "the engine still runs";
    EXPECT_TRUE(member.WaitForNotify([](const std::string& m) { return IsAlive(m, ""); }, 1500).empty());
    for (const int socket : taken) {
        ::close(socket);
    }
}

// The type checks of the undefined-behaviour sanitizer open a pipe of their own for each check,
// which a process out of descriptors cannot do; the case runs in builds without them.
extern "C" __attribute__((weak)) uintptr_t __ubsan_vptr_type_cache[];

// With too few file descriptors some step fails (the address query, the engine's socket, the
// device's server); the answer is true only when the device really serves, else nothing runs.
TEST_F(DlnaService, AStartAnswersTrueOnlyWhenTheDeviceServes) {
    if (__ubsan_vptr_type_cache != nullptr) {
        GTEST_SKIP() << "the sanitizer's type checks need descriptors of their own; not checked here";
    }
    ENTER_NAMESPACE(kWithLan);
    rlimit saved{};
    ASSERT_EQ(::getrlimit(RLIMIT_NOFILE, &saved), 0);
    int refused = 0;
    for (int spare = 0; spare <= 12; ++spare) {
        MyDLNAService service;
        const int lowest = ::dup(0);
        ::close(lowest);
        rlimit tight = saved;
        tight.rlim_cur = static_cast<rlim_t>(lowest + spare);
        ASSERT_EQ(::setrlimit(RLIMIT_NOFILE, &tight), 0);
        const bool started = service.start(folder, "Budget");
        ASSERT_EQ(::setrlimit(RLIMIT_NOFILE, &saved), 0);
        if (started) {
            const std::string url = "http://" + std::string(kDeviceAddress) + ":" +
                                    std::to_string(service.mediaServer()->GetPort()) +
                                    "/DeviceDescription.xml";
            EXPECT_NE(run("curl -s -S -m 10 " + url).find("Budget"), std::string::npos) << "spare " << spare;
            EXPECT_TRUE(service.stop());
        } else {
            ++refused;
            EXPECT_FALSE(SomethingListens()) << "spare " << spare << "\n" << run("ss -ltnp");
        }
    }
    EXPECT_GT(refused, 0);
}

} // namespace
