// KL_HttpChunkedOutputStream: writes each Write as one chunk of the chunked transfer coding;
// deleting the stream writes the last chunk "0\r\n\r\n".
#pragma once

#include "KL_OutputStream.h"

#include <cstdint>

class KL_HttpChunkedOutputStream : public KL_OutputStream {
public:
    // The target is not owned and must outlive this stream.
    explicit KL_HttpChunkedOutputStream(KL_OutputStream& stream);
    ~KL_HttpChunkedOutputStream() override;

    [[nodiscard]] KL_Result Write(const void* buffer, KL_Size count,
                                  KL_Size* bytes_written = nullptr) override;
    [[nodiscard]] KL_Result Seek(uint64_t offset) override;
    [[nodiscard]] KL_Result Tell(uint64_t& offset) override;
    [[nodiscard]] KL_Result Flush() override;

private:
    KL_OutputStream& m_Stream;
};
