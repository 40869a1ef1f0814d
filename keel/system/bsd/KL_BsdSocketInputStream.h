// KL_BsdSocketInputStream: reads from a connected socket, waiting with the socket's read time-out.
#pragma once

#include "KL_BsdSocketStream.h"
#include "KL_InputStream.h"

class KL_BsdSocketInputStream : public KL_InputStream, public KL_BsdSocketStream {
public:
    explicit KL_BsdSocketInputStream(const KL_BsdSocketFdReference& fd) : KL_BsdSocketStream(fd) {}

    // KL_ERROR_EOS when the peer closed the connection, KL_ERROR_CANCELLED after Cancel.
    [[nodiscard]] KL_Result Read(void* buffer, KL_Size bytes_to_read, KL_Size* bytes_read = nullptr) override;
    [[nodiscard]] KL_Result Seek(KL_Position offset) override;
    [[nodiscard]] KL_Result Tell(KL_Position& offset) override;
    [[nodiscard]] KL_Result GetSize(KL_LargeSize& size) override;
    // The bytes pending; 1 when none are but the end of stream or an error is.
    [[nodiscard]] KL_Result GetAvailable(KL_LargeSize& available) override;
};
