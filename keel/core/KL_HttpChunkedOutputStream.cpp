#include "KL_HttpChunkedOutputStream.h"

#include <cstdio>

KL_HttpChunkedOutputStream::KL_HttpChunkedOutputStream(KL_OutputStream& stream) : m_Stream(stream) {}

KL_HttpChunkedOutputStream::~KL_HttpChunkedOutputStream() {
    // The last chunk ends the body; nobody is left to hear of a failure here.
    (void)m_Stream.WriteFully("0\r\n\r\n", 5);
}

KL_Result KL_HttpChunkedOutputStream::Write(const void* buffer, KL_Size count, KL_Size* bytes_written) {
    if (bytes_written != nullptr) {
        *bytes_written = 0;
    }
    if (count == 0) {
        return KL_SUCCESS; // an empty chunk would end the body
    }
    char header[16];
    const int header_length = std::snprintf(header, sizeof header, "%X\r\n", static_cast<unsigned>(count));
    KL_Result result = m_Stream.WriteFully(header, static_cast<KL_Size>(header_length));
    if (KL_SUCCEEDED(result)) {
        result = m_Stream.WriteFully(buffer, count);
    }
    if (KL_SUCCEEDED(result)) {
        result = m_Stream.WriteFully("\r\n", 2);
    }
    if (KL_FAILED(result)) {
        return result;
    }
    if (bytes_written != nullptr) {
        *bytes_written = count;
    }
    return KL_SUCCESS;
}

KL_Result KL_HttpChunkedOutputStream::Seek(uint64_t) {
    return KL_ERROR_NOT_SUPPORTED;
}

KL_Result KL_HttpChunkedOutputStream::Tell(uint64_t& offset) {
    return m_Stream.Tell(offset);
}

KL_Result KL_HttpChunkedOutputStream::Flush() {
    return m_Stream.Flush();
}
