// KL_BsdSocketOutputStream: writes to a connected socket, waiting with the socket's write
// time-out; never raises SIGPIPE.
#pragma once

#include "KL_BsdSocketStream.h"
#include "KL_OutputStream.h"

class KL_BsdSocketOutputStream : public KL_OutputStream, public KL_BsdSocketStream {
public:
    explicit KL_BsdSocketOutputStream(const KL_BsdSocketFdReference& fd) : KL_BsdSocketStream(fd) {}

    // A send that takes nothing gives KL_ERROR_CONNECTION_RESET.
    [[nodiscard]] KL_Result Write(const void* data, KL_Size bytes_to_write,
                                  KL_Size* bytes_written = nullptr) override;
    [[nodiscard]] KL_Result Seek(KL_Position offset) override;
    [[nodiscard]] KL_Result Tell(KL_Position& offset) override;
    // Pushes out pending data by switching TCP_NODELAY on for a moment (nothing when it is on).
    [[nodiscard]] KL_Result Flush() override;
    // Sends count bytes of a file from offset with sendfile(2), in slices of at most 1 MiB, each
    // waiting with the write time-out as Write does; the file's own position is not used.
    // KL_ERROR_EOS when the file ends first; sent (when given) counts what went out.
    [[nodiscard]] KL_Result SendFile(int file_fd, KL_Position offset, KL_LargeSize count,
                                     KL_LargeSize* sent = nullptr);
};
