// UP_FileInputStream: a read-only stream over a regular file, opened so that opening never blocks
// (a FIFO or device at the path is refused instead of waited for). The HTTP server's file serving
// uses it.
#pragma once

#include "KL_InputStream.h"

class UP_FileInputStream : public KL_InputStream {
public:
    // KL_ERROR_NO_SUCH_ITEM for anything but a regular file; the open's failure otherwise.
    [[nodiscard]] static KL_Result Open(const char* path, KL_InputStreamReference& stream);
    // Takes over fd, a descriptor open for reading: KL_ERROR_NO_SUCH_ITEM (fd closed) when it is
    // not a regular file.
    [[nodiscard]] static KL_Result Adopt(int fd, KL_InputStreamReference& stream);
    ~UP_FileInputStream() override;
    UP_FileInputStream(const UP_FileInputStream&) = delete;
    UP_FileInputStream& operator=(const UP_FileInputStream&) = delete;

    [[nodiscard]] KL_Result Read(void* buffer, KL_Size bytes_to_read, KL_Size* bytes_read = nullptr) override;
    [[nodiscard]] KL_Result Seek(KL_Position offset) override;
    [[nodiscard]] KL_Result Tell(KL_Position& offset) override;
    [[nodiscard]] KL_Result GetSize(KL_LargeSize& size) override;
    [[nodiscard]] KL_Result GetAvailable(KL_LargeSize& available) override;

    // The open file, for sending without copying (sendfile); owned by the stream.
    int GetDescriptor() const { return m_Fd; }

private:
    explicit UP_FileInputStream(int fd) : m_Fd(fd) {}

    int m_Fd;
};
