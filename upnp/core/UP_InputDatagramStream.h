// UP_InputDatagramStream: serves one UDP datagram at a time as an input stream, so that the HTTP
// parser can read SSDP messages. A datagram is never split across two receives nor merged with
// the next: once its last byte was read, the next Read receives a new one. Bytes beyond the
// buffer size are dropped by the socket.
//
//   UP_InputDatagramStream stream(socket, 2000);
//   stream.Read(buffer, 2000, &count);    // the whole datagram (at most 2000 bytes)
//   stream.GetInfo(info);                 // info.remote_address: its sender
#pragma once

#include "KL_DataBuffer.h"
#include "KL_InputStream.h"
#include "KL_SocketInfo.h"

class KL_UdpSocket;

class UP_InputDatagramStream : public KL_InputStream {
public:
    // The socket is not owned.
    UP_InputDatagramStream(KL_UdpSocket* socket, KL_Size buffer_size);

    // Copies from the current datagram, receiving one first when none is held. Asking for 0
    // bytes answers the receive's result.
    [[nodiscard]] KL_Result Read(void* buffer, KL_Size bytes_to_read, KL_Size* bytes_read = nullptr) override;
    // A datagram is no seekable byte sequence: all -1.
    [[nodiscard]] KL_Result Seek(KL_Position offset) override;
    [[nodiscard]] KL_Result Skip(KL_LargeSize count) override;
    [[nodiscard]] KL_Result Tell(KL_Position& offset) override;
    [[nodiscard]] KL_Result GetSize(KL_LargeSize& size) override;
    [[nodiscard]] KL_Result GetAvailable(KL_LargeSize& available) override;

    // The local address and the sender of the last datagram (refreshed on every receive, also a
    // failed one). Always 0.
    KL_Result GetInfo(KL_SocketInfo& info) const;

private:
    KL_UdpSocket* m_Socket;
    KL_SocketInfo m_Info;
    KL_DataBuffer m_Buffer;
    uint32_t m_ReadPosition = 0;
};
