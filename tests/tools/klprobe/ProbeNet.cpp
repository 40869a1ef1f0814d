// klprobe ifaces / resolve / echo / connect / mcast-send / mcast-recv: interface enumeration,
// name resolution, a TCP echo server and client, and multicast datagrams.
#include "KL_DataBuffer.h"
#include "KL_IpAddress.h"
#include "KL_NetworkInterface.h"
#include "KL_Socket.h"
#include "KL_SocketAddress.h"
#include "KL_TcpClientSocket.h"
#include "KL_TcpServerSocket.h"
#include "KL_UdpMulticastSocket.h"
#include "Probe.h"

#include <chrono>
#include <cstdio>
#include <memory>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

namespace {

constexpr KL_Timeout kIoTimeout = 5000;

bool ParsePort(const std::string& text, uint32_t& port) {
    return klprobe::ParseNumber(text, 65535, port);
}

bool ParseCount(const std::string& text, uint32_t& count) {
    return klprobe::ParseNumber(text, 0xFFFFFFFEul, count);
}

void PrintInterface(const KL_NetworkInterface& record) {
    std::printf("%s flags=0x%02x mac=%s\n", record.GetName().GetChars(),
                static_cast<unsigned>(record.GetFlags()), record.GetMacAddress().ToString().GetChars());
    for (const KL_NetworkInterfaceAddress& address : record.GetAddresses()) {
        std::printf("  %s mask %s brd %s dst %s\n", address.m_PrimaryAddress.ToString().GetChars(),
                    address.m_NetMask.ToString().GetChars(), address.m_BroadcastAddress.ToString().GetChars(),
                    address.m_DestinationAddress.ToString().GetChars());
    }
}

} // namespace

KLPROBE_COMMAND(ifaces, "ifaces [--all|--loopback|--loopback-only]") {
    static const char* usage = "ifaces [--all|--loopback|--loopback-only]";
    std::string option = args.empty() ? "" : args[0];
    if (args.size() > 1 ||
        !(option.empty() || option == "--all" || option == "--loopback" || option == "--loopback-only")) {
        return klprobe::Usage(usage);
    }
    KL_NetworkInterfaceList interfaces;
    KL_Result result = option == "--all" ? KL_NetworkInterface::GetNetworkInterfaces(interfaces)
                                         : KL_GetUsableNetworkInterfaces(interfaces, option == "--loopback",
                                                                         option == "--loopback-only");
    for (const KL_NetworkInterface* record : interfaces) {
        PrintInterface(*record);
    }
    KL_DeleteNetworkInterfaces(interfaces);
    return KL_FAILED(result) ? klprobe::Fail(result) : 0;
}

KLPROBE_COMMAND(resolve, "resolve NAME") {
    if (args.size() != 1) {
        return klprobe::Usage("resolve NAME");
    }
    KL_IpAddress address;
    KL_Result result = address.ResolveName(args[0].c_str());
    if (KL_FAILED(result)) {
        return klprobe::Fail(result);
    }
    std::printf("%s\n", address.ToString().GetChars());
    return 0;
}

namespace {

// The echo server's clients: each served on a thread of its own, all cancelled at the stop.
class EchoClients {
public:
    void Serve(KL_Socket* client) {
        std::lock_guard<std::mutex> lock(m_Lock);
        m_Sockets.emplace_back(client);
        m_Threads.emplace_back(&EchoClients::Echo, client);
    }
    void Stop() {
        {
            std::lock_guard<std::mutex> lock(m_Lock);
            for (auto& socket : m_Sockets) {
                (void)socket->Cancel(true);
            }
        }
        for (auto& thread : m_Threads) {
            thread.join();
        }
        m_Sockets.clear();
    }

private:
    static void Echo(KL_Socket* client) {
        KL_InputStreamReference input;
        KL_OutputStreamReference output;
        if (KL_FAILED(client->GetInputStream(input)) || KL_FAILED(client->GetOutputStream(output))) {
            return;
        }
        char buffer[4096];
        for (;;) {
            KL_Size count = 0;
            if (KL_FAILED(input->Read(buffer, sizeof buffer, &count)) ||
                KL_FAILED(output->WriteFully(buffer, count))) {
                return;
            }
        }
    }

    std::mutex m_Lock;
    std::vector<std::unique_ptr<KL_Socket>> m_Sockets;
    std::vector<std::thread> m_Threads;
};

} // namespace

KLPROBE_COMMAND(echo, "echo PORT") {
    uint32_t port = 0;
    if (args.size() != 1 || !ParsePort(args[0], port)) {
        return klprobe::Usage("echo PORT");
    }
    KL_TcpServerSocket server(KL_SOCKET_FLAG_CANCELLABLE);
    KL_Result result = server.Bind(KL_SocketAddress(KL_IpAddress(127, 0, 0, 1), port), false);
    if (KL_SUCCEEDED(result)) {
        result = server.Listen(20);
    }
    if (KL_FAILED(result)) {
        return klprobe::Fail(result);
    }
    KL_SocketInfo info;
    (void)server.GetInfo(info);
    std::printf("listening on %s\n", info.local_address.ToString().GetChars());
    std::fflush(stdout);

    EchoClients clients;
    KL_Result accept_result = KL_SUCCESS;
    std::thread acceptor([&server, &clients, &accept_result] {
        for (;;) {
            KL_Socket* client = nullptr;
            KL_Result r = server.WaitForNewClient(client, KL_TIMEOUT_INFINITE, KL_SOCKET_FLAG_CANCELLABLE);
            if (KL_FAILED(r)) {
                accept_result = r;
                return;
            }
            clients.Serve(client);
        }
    });
    (void)klprobe::ReadStdin();
    (void)server.Cancel(true);
    acceptor.join();
    clients.Stop();
    return accept_result == KL_ERROR_CANCELLED ? 0 : klprobe::Fail(accept_result);
}

KLPROBE_COMMAND(connect, "connect HOST PORT [TEXT]") {
    static const char* usage = "connect HOST PORT [TEXT]";
    uint32_t port = 0;
    if (args.size() < 2 || args.size() > 3 || !ParsePort(args[1], port)) {
        return klprobe::Usage(usage);
    }
    KL_IpAddress address;
    KL_Result result = address.ResolveName(args[0].c_str());
    if (KL_FAILED(result)) {
        return klprobe::Fail(result);
    }
    KL_TcpClientSocket socket(KL_SOCKET_FLAG_CANCELLABLE);
    (void)socket.SetReadTimeout(kIoTimeout);
    (void)socket.SetWriteTimeout(kIoTimeout);
    result = socket.Connect(KL_SocketAddress(address, port), kIoTimeout);
    if (KL_FAILED(result)) {
        return klprobe::Fail(result);
    }
    KL_SocketInfo info;
    (void)socket.GetInfo(info);
    std::printf("connected %s %s\n", info.local_address.ToString().GetChars(),
                info.remote_address.ToString().GetChars());
    if (args.size() == 3 && !args[2].empty()) {
        const std::string& text = args[2];
        KL_InputStreamReference input;
        KL_OutputStreamReference output;
        std::string reply(text.size(), '\0');
        if (KL_FAILED(result = socket.GetInputStream(input)) ||
            KL_FAILED(result = socket.GetOutputStream(output)) ||
            KL_FAILED(result = output->WriteFully(text.data(), static_cast<KL_Size>(text.size()))) ||
            KL_FAILED(result = input->ReadFully(reply.data(), static_cast<KL_Size>(reply.size())))) {
            return klprobe::Fail(result);
        }
        std::printf("%s\n", reply.c_str());
    }
    return 0;
}

// The names hold a "-", so these two register by hand.
static int McastSend(const klprobe::Args& args);
static int McastRecv(const klprobe::Args& args);
static klprobe::Registration mcast_send_registration("mcast-send", "mcast-send GROUP PORT IFADDR TEXT",
                                                     &McastSend);
static klprobe::Registration mcast_recv_registration("mcast-recv", "mcast-recv GROUP PORT IFADDR COUNT MS",
                                                     &McastRecv);

static int McastSend(const klprobe::Args& args) {
    static const char* usage = "mcast-send GROUP PORT IFADDR TEXT";
    KL_IpAddress group;
    KL_IpAddress interface_address;
    uint32_t port = 0;
    if (args.size() != 4 || KL_FAILED(group.Parse(args[0].c_str())) || !ParsePort(args[1], port) ||
        KL_FAILED(interface_address.Parse(args[2].c_str()))) {
        return klprobe::Usage(usage);
    }
    KL_UdpMulticastSocket socket(KL_SOCKET_FLAG_CANCELLABLE);
    (void)socket.SetWriteTimeout(kIoTimeout);
    KL_Result result = socket.SetInterface(interface_address);
    if (KL_SUCCEEDED(result)) {
        result = socket.SetTimeToLive(1);
    }
    if (KL_SUCCEEDED(result)) {
        KL_DataBuffer packet(args[3].data(), static_cast<KL_Size>(args[3].size()), true);
        KL_SocketAddress destination(group, port);
        result = socket.Send(packet, &destination);
    }
    return KL_FAILED(result) ? klprobe::Fail(result) : 0;
}

static int McastRecv(const klprobe::Args& args) {
    static const char* usage = "mcast-recv GROUP PORT IFADDR COUNT MS";
    KL_IpAddress group;
    KL_IpAddress interface_address;
    uint32_t port = 0;
    uint32_t count = 0;
    uint32_t ms = 0;
    if (args.size() != 5 || KL_FAILED(group.Parse(args[0].c_str())) || !ParsePort(args[1], port) ||
        KL_FAILED(interface_address.Parse(args[2].c_str())) || !ParseCount(args[3], count) ||
        !ParseCount(args[4], ms)) {
        return klprobe::Usage(usage);
    }
    KL_UdpMulticastSocket socket(KL_SOCKET_FLAG_CANCELLABLE);
    KL_Result result = socket.Bind(KL_SocketAddress(KL_IpAddress::Any, port), true);
    if (KL_SUCCEEDED(result)) {
        result = socket.JoinGroup(group, interface_address);
    }
    auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(ms);
    KL_DataBuffer packet(65536);
    for (uint32_t received = 0; KL_SUCCEEDED(result) && received < count; ++received) {
        auto left = std::chrono::duration_cast<std::chrono::milliseconds>(deadline -
                                                                          std::chrono::steady_clock::now());
        if (left.count() <= 0) {
            result = KL_ERROR_TIMEOUT;
            break;
        }
        (void)socket.SetReadTimeout(static_cast<KL_Timeout>(left.count()));
        KL_SocketAddress sender;
        result = socket.Receive(packet, &sender);
        if (KL_SUCCEEDED(result)) {
            std::printf("%s %.*s\n", sender.ToString().GetChars(), static_cast<int>(packet.GetDataSize()),
                        reinterpret_cast<const char*>(packet.GetData()));
            std::fflush(stdout);
        }
    }
    return KL_FAILED(result) ? klprobe::Fail(result) : 0;
}
