#include "KL_HttpChunkedInputStream.h"

#include "KL_Check.h"
#include "KL_HttpHeaders.h"
#include "KL_Utils.h"

#include <algorithm>

KL_SET_LOCAL_LOGGER("keel.http");

namespace {

constexpr KL_Size kChunkHeaderBufferSize = 4096;
constexpr KL_Size kMaxChunkLineLength = 4096;

// The connection ending inside a chunked body is a broken transfer, not the body's end.
KL_Result TruncatedIsAborted(KL_Result result) {
    return result == KL_ERROR_EOS ? KL_ERROR_CONNECTION_ABORTED : result;
}

} // namespace

KL_HttpChunkedInputStream::KL_HttpChunkedInputStream(const KL_InputStreamReference& source)
    : m_Source(source), m_Buffered(dynamic_cast<KL_BufferedInputStream*>(m_Source.AsPointer())) {}

KL_Result KL_HttpChunkedInputStream::ParseChunkSize(const char* line, uint32_t& size) {
    size = 0;
    if (line == nullptr || line[0] == '\0') {
        return KL_ERROR_INVALID_FORMAT;
    }
    uint32_t value = 0;
    const char* p = line;
    for (; *p != '\0' && *p != '\n' && *p != '\r' && *p != ' ' && *p != ';'; ++p) {
        const int digit = KL_HexToNibble(*p);
        if (digit < 0 || value > 0x0FFFFFFFu) {
            return KL_ERROR_INVALID_FORMAT; // not a digit, or a size beyond 32 bits
        }
        value = (value << 4) | static_cast<uint32_t>(digit);
    }
    if (p == line) {
        return KL_ERROR_INVALID_FORMAT; // no digit at all (" 5", ";ext"): not a last chunk
    }
    size = value;
    return KL_SUCCESS;
}

KL_Result KL_HttpChunkedInputStream::ReadChunkHeader() {
    KL_CHECK(m_Buffered->SetBufferSize(kChunkHeaderBufferSize));
    KL_String line;
    KL_Result result = m_Buffered->ReadLine(line, kMaxChunkLineLength, false);
    if (KL_FAILED(result)) {
        return TruncatedIsAborted(result);
    }
    uint32_t size = 0;
    KL_CHECK(ParseChunkSize(line.GetChars(), size));
    if (size == 0) {
        // The last chunk: its trailers are read and dropped.
        KL_CHECK(TruncatedIsAborted(KL_HttpHeaders::SkipBlock(*m_Buffered, kMaxChunkLineLength)));
        m_Eos = true;
        return KL_ERROR_EOS;
    }
    m_CurrentChunkSize = size;
    // Chunk data goes from the connection to the reader without another copy.
    KL_CHECK(m_Buffered->SetBufferSize(0));
    return KL_SUCCESS;
}

KL_Result KL_HttpChunkedInputStream::Read(void* buffer, KL_Size bytes_to_read, KL_Size* bytes_read) {
    if (bytes_read != nullptr) {
        *bytes_read = 0;
    }
    if (m_Buffered == nullptr) {
        return KL_ERROR_INVALID_STATE;
    }
    if (KL_FAILED(m_Failure)) {
        return m_Failure; // a broken body stays broken
    }
    if (m_Eos) {
        return KL_ERROR_EOS;
    }
    if (bytes_to_read == 0) {
        return KL_SUCCESS;
    }
    if (m_CurrentChunkSize == 0) {
        const KL_Result result = ReadChunkHeader();
        if (KL_FAILED(result)) {
            if (result != KL_ERROR_EOS) {
                m_Failure = result;
            }
            return result;
        }
    }
    KL_Size count = 0;
    KL_Result result = m_Buffered->Read(buffer, std::min(bytes_to_read, m_CurrentChunkSize), &count);
    if (KL_FAILED(result)) {
        m_Failure = TruncatedIsAborted(result);
        return m_Failure;
    }
    m_CurrentChunkSize -= count;
    if (m_CurrentChunkSize == 0) {
        // The data is delivered; a bad chunk end fails the next read.
        char end[2] = {0, 0};
        result = TruncatedIsAborted(m_Buffered->ReadFully(end, 2));
        if (KL_FAILED(result)) {
            m_Failure = result;
        } else if (end[0] != '\r' || end[1] != '\n') {
            m_Failure = KL_ERROR_INVALID_FORMAT;
        }
    }
    if (bytes_read != nullptr) {
        *bytes_read = count;
    }
    return KL_SUCCESS;
}

KL_Result KL_HttpChunkedInputStream::Seek(uint64_t) {
    return KL_ERROR_NOT_SUPPORTED;
}

KL_Result KL_HttpChunkedInputStream::Tell(uint64_t& offset) {
    offset = 0;
    return KL_ERROR_NOT_SUPPORTED;
}

KL_Result KL_HttpChunkedInputStream::GetSize(uint64_t& size) {
    return m_Source->GetSize(size);
}

KL_Result KL_HttpChunkedInputStream::GetAvailable(uint64_t& available) {
    return m_Source->GetAvailable(available);
}
