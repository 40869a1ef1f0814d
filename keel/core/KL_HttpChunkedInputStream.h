// KL_HttpChunkedInputStream: decodes the chunked transfer coding from a buffered stream.
// Chunk data passes through unbuffered; trailers are read and dropped.
#pragma once

#include "KL_BufferedInputStream.h"
#include "KL_InputStream.h"

#include <cstdint>

class KL_HttpChunkedInputStream : public KL_InputStream {
public:
    // source must hold a KL_BufferedInputStream.
    explicit KL_HttpChunkedInputStream(const KL_InputStreamReference& source);
    ~KL_HttpChunkedInputStream() override = default;

    // KL_ERROR_EOS after the last chunk and its trailers; KL_ERROR_INVALID_FORMAT for a bad
    // chunk header, a size above 32 bits or data not followed by CR LF; KL_ERROR_CONNECTION_ABORTED
    // when the source ends before the last chunk; KL_ERROR_NOT_ENOUGH_SPACE for trailers past
    // their bounds.
    [[nodiscard]] KL_Result Read(void* buffer, KL_Size bytes_to_read, KL_Size* bytes_read = nullptr) override;
    [[nodiscard]] KL_Result Seek(uint64_t offset) override;
    [[nodiscard]] KL_Result Tell(uint64_t& offset) override;
    [[nodiscard]] KL_Result GetSize(uint64_t& size) override;
    [[nodiscard]] KL_Result GetAvailable(uint64_t& available) override;

    // Reads a chunk-size line's hexadecimal size (extensions after ";" or a space ignored).
    [[nodiscard]] static KL_Result ParseChunkSize(const char* line, uint32_t& size);

private:
    KL_Result ReadChunkHeader();

    KL_InputStreamReference m_Source;
    KL_BufferedInputStream* m_Buffered; // m_Source's object, null when it is not buffered
    uint32_t m_CurrentChunkSize = 0;
    bool m_Eos = false;
    KL_Result m_Failure = KL_SUCCESS; // once set, every further read returns it
};
