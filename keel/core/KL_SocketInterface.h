// KL_SocketInterface: what every socket offers (binding, connecting, its streams, its addresses,
// its time-outs and cancellation). KL_SOCKET_FLAG_CANCELLABLE makes every wait of the socket
// interruptible by Cancel from another thread; every socket of this system passes it.
// KL_SOCKET_FLAG_NO_BROADCAST keeps a UDP socket from sending to broadcast addresses (it does
// not set SO_BROADCAST), for sockets that answer a peer and must never reach a whole network.
#pragma once

#include "KL_InputStream.h"
#include "KL_OutputStream.h"
#include "KL_Result.h"
#include "KL_SocketAddress.h"
#include "KL_SocketInfo.h"
#include "KL_Types.h"

#include <cstdint>

constexpr uint32_t KL_SOCKET_FLAG_CANCELLABLE = 1;
constexpr uint32_t KL_SOCKET_FLAG_NO_BROADCAST = 2;

// The code of a socket call that needs a connected socket; it has no name.
constexpr KL_Result KL_SOCKET_ERROR_NOT_CONNECTED = -20415;

class KL_SocketInterface {
public:
    virtual ~KL_SocketInterface() = default;

    // Binds to the address; reuse also lets other sockets bind the same port (SO_REUSEPORT).
    [[nodiscard]] virtual KL_Result Bind(const KL_SocketAddress& address, bool reuse = false) = 0;
    [[nodiscard]] virtual KL_Result Connect(const KL_SocketAddress& address, KL_Timeout timeout) = 0;
    [[nodiscard]] virtual KL_Result WaitForConnection(KL_Timeout timeout) = 0;
    [[nodiscard]] virtual KL_Result GetInputStream(KL_InputStreamReference& stream) = 0;
    [[nodiscard]] virtual KL_Result GetOutputStream(KL_OutputStreamReference& stream) = 0;
    virtual KL_Result GetInfo(KL_SocketInfo& info) = 0;
    virtual KL_Result SetReadTimeout(KL_Timeout timeout) = 0;
    virtual KL_Result SetWriteTimeout(KL_Timeout timeout) = 0;
    // Marks the socket cancelled (permanently): every wait, now and later, gives
    // KL_ERROR_CANCELLED; with shutdown both directions are shut down as well.
    virtual KL_Result Cancel(bool shutdown = true) = 0;
    // TCP: small writes leave at once (TCP_NODELAY) for the socket's life; a Flush then has
    // nothing left to do. KL_ERROR_NOT_IMPLEMENTED where the kind has no such option.
    virtual KL_Result SetNoDelay(bool on) {
        (void)on;
        return KL_ERROR_NOT_IMPLEMENTED;
    }
    // TCP on Linux: what arrives is acknowledged at once, re-armed after every read
    // (TCP_QUICKACK), so a peer that holds its next segment until the last one is acknowledged
    // (Nagle) is not kept waiting for a delayed ACK. Elsewhere, or for other kinds,
    // KL_ERROR_NOT_IMPLEMENTED.
    virtual KL_Result SetQuickAck(bool on) {
        (void)on;
        return KL_ERROR_NOT_IMPLEMENTED;
    }
    // The descriptor, for what the interface does not name (such as reading TCP_INFO); -1 where
    // there is none. It stays the socket's: never close it.
    virtual int GetDescriptor() { return -1; }
};
