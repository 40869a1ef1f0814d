// UP_OutputDatagramStream: collects what is written and sends it as one UDP datagram on Flush,
// so that the HTTP writer can emit SSDP messages.
#pragma once

#include "KL_DataBuffer.h"
#include "KL_OutputStream.h"
#include "KL_SocketAddress.h"

#include <optional>

class KL_UdpSocket;

class UP_OutputDatagramStream : public KL_OutputStream {
public:
    // The socket is not owned; target null: the socket's connected peer.
    UP_OutputDatagramStream(KL_UdpSocket* socket, KL_Size buffer_size,
                            const KL_SocketAddress* target = nullptr);

    // Appends (the buffer grows as needed); reports every byte written.
    [[nodiscard]] KL_Result Write(const void* data, KL_Size bytes_to_write,
                                  KL_Size* bytes_written = nullptr) override;
    [[nodiscard]] KL_Result Seek(KL_Position offset) override;
    [[nodiscard]] KL_Result Tell(KL_Position& offset) override;
    // Sends the buffer as one datagram and empties it; answers the send's result.
    [[nodiscard]] KL_Result Flush() override;

private:
    KL_UdpSocket* m_Socket;
    KL_DataBuffer m_Buffer;
    std::optional<KL_SocketAddress> m_Target;
};
