// Helpers of the socket tests: a connected TCP pair on 127.0.0.1 and a few time-outs.
#pragma once

#include "KL_Socket.h"
#include "KL_TcpClientSocket.h"
#include "KL_TcpServerSocket.h"

#include <gtest/gtest.h>
#include <memory>

namespace nettest {

constexpr KL_Timeout kWait = 10000; // the bound of every wait that should succeed

inline KL_SocketAddress Loopback(uint32_t port) {
    return KL_SocketAddress(KL_IpAddress(127, 0, 0, 1), port);
}

inline uint32_t LocalPort(KL_Socket& socket) {
    KL_SocketInfo info;
    (void)socket.GetInfo(info);
    return info.local_address.m_Port;
}

// A listener on an ephemeral loopback port, a client connected to it and the accepted socket.
struct TcpPair {
    std::unique_ptr<KL_TcpServerSocket> server{new KL_TcpServerSocket(KL_SOCKET_FLAG_CANCELLABLE)};
    std::unique_ptr<KL_TcpClientSocket> client{new KL_TcpClientSocket(KL_SOCKET_FLAG_CANCELLABLE)};
    std::unique_ptr<KL_Socket> accepted;

    void Connect() {
        ASSERT_EQ(server->Bind(Loopback(0)), KL_SUCCESS);
        ASSERT_EQ(server->Listen(5), KL_SUCCESS);
        ASSERT_EQ(client->Connect(Loopback(LocalPort(*server)), kWait), KL_SUCCESS);
        KL_Socket* socket = nullptr;
        ASSERT_EQ(server->WaitForNewClient(socket, kWait, KL_SOCKET_FLAG_CANCELLABLE), KL_SUCCESS);
        accepted.reset(socket);
    }
};

} // namespace nettest
