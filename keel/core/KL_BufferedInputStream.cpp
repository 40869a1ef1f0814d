// KL_BufferedInputStream: read-ahead buffer and line reading over another input stream.
//
// The position counts every byte consumed from the stream, line ends included, so Tell and Seek
// stay consistent after ReadLine.
#include "KL_BufferedInputStream.h"

#include "KL_Check.h"

#include <algorithm>
#include <cstring>
#include <new>

KL_SET_LOCAL_LOGGER("keel.bufferedstreams");

KL_BufferedInputStream::KL_BufferedInputStream(const KL_InputStreamReference& source, KL_Size buffer_size)
    : m_Source(source) {
    m_Buffer.size = buffer_size;
}

KL_BufferedInputStream::~KL_BufferedInputStream() = default;

// Replaces the storage by one of max(size, unread) bytes holding the unread bytes at its start.
KL_Result KL_BufferedInputStream::ReplaceStorage(KL_Size size) {
    KL_Size unread = Unread();
    KL_Size capacity = std::max(size, unread);
    if (capacity == 0) {
        return ReleaseBuffer();
    }
    std::unique_ptr<uint8_t[]> data(new (std::nothrow) uint8_t[capacity]);
    if (!data) {
        return KL_ERROR_OUT_OF_MEMORY;
    }
    if (unread != 0) {
        std::memcpy(data.get(), m_Buffer.data.get() + m_Buffer.offset, unread);
    }
    m_Buffer.data = std::move(data);
    m_Buffer.capacity = capacity;
    m_Buffer.offset = 0;
    m_Buffer.valid = unread;
    return KL_SUCCESS;
}

KL_Result KL_BufferedInputStream::FillBuffer() {
    if (m_Eos) {
        return KL_ERROR_EOS;
    }
    if (m_Buffer.size == 0) {
        return KL_ERROR_INVALID_STATE;
    }
    if (!m_Buffer.data || m_Buffer.capacity < m_Buffer.size) {
        m_Buffer.offset = m_Buffer.valid = 0; // only filled when everything was consumed
        KL_CHECK(ReplaceStorage(m_Buffer.size));
    }
    m_Buffer.offset = 0;
    m_Buffer.valid = 0;
    KL_Size bytes_read = 0;
    KL_Result result = m_Source->Read(m_Buffer.data.get(), m_Buffer.size, &bytes_read);
    if (KL_FAILED(result)) {
        return result;
    }
    m_Buffer.valid = std::min(bytes_read, m_Buffer.size);
    return KL_SUCCESS;
}

KL_Result KL_BufferedInputStream::ReleaseBuffer() {
    m_Buffer.data.reset();
    m_Buffer.capacity = 0;
    m_Buffer.offset = 0;
    m_Buffer.valid = 0;
    return KL_SUCCESS;
}

KL_Result KL_BufferedInputStream::SetBufferSize(KL_Size size, bool force) {
    if (m_Buffer.data && (force || m_Buffer.size < size)) {
        KL_CHECK(ReplaceStorage(size));
    }
    m_Buffer.size = size;
    return KL_SUCCESS;
}

// Copies what is unread in the storage (at most bytes_to_read), reading the source when nothing
// is unread.
KL_Result KL_BufferedInputStream::ReadFromStorage(uint8_t* buffer, KL_Size bytes_to_read,
                                                  KL_Size& bytes_read) {
    bytes_read = 0;
    if (Unread() == 0) {
        if (m_Buffer.size == 0) {
            ReleaseBuffer();
            if (m_Eos) {
                return KL_ERROR_EOS;
            }
            return m_Source->Read(buffer, bytes_to_read, &bytes_read);
        }
        KL_Result result = FillBuffer();
        if (KL_FAILED(result)) {
            return result;
        }
        if (Unread() == 0) {
            return KL_SUCCESS;
        }
    }
    bytes_read = std::min(bytes_to_read, Unread());
    std::memcpy(buffer, m_Buffer.data.get() + m_Buffer.offset, bytes_read);
    m_Buffer.offset += bytes_read;
    return KL_SUCCESS;
}

KL_Result KL_BufferedInputStream::Read(void* buffer, KL_Size bytes_to_read, KL_Size* bytes_read) {
    if (bytes_read != nullptr) {
        *bytes_read = 0;
    }
    if (bytes_to_read == 0) {
        return KL_SUCCESS;
    }
    KL_CHECK_POINTER(buffer);
    auto* cursor = static_cast<uint8_t*>(buffer);
    KL_Size total = 0;
    KL_Result result = KL_SUCCESS;

    if (m_SkipNewline) {
        // The previous line ended at a CR: an LF right after it belongs to that line end.
        m_SkipNewline = false;
        uint8_t first = 0;
        KL_Size got = 0;
        KL_CHECK_FINEST(Read(&first, 1, &got));
        if (got == 1 && first != '\n') {
            cursor[0] = first;
            total = 1;
            // Only what is already buffered joins it: a further source read could block.
            KL_Size more = std::min(bytes_to_read - 1, Unread());
            if (more != 0) {
                std::memcpy(cursor + 1, m_Buffer.data.get() + m_Buffer.offset, more);
                m_Buffer.offset += more;
            }
            m_Position += more;
            if (bytes_read != nullptr) {
                *bytes_read = 1 + more;
            }
            return KL_SUCCESS;
        }
    }

    result = ReadFromStorage(cursor, bytes_to_read, total);
    m_Position += total;
    if (bytes_read != nullptr) {
        *bytes_read = total;
    }
    if (result == KL_ERROR_EOS) {
        m_Eos = true;
        return total != 0 ? KL_SUCCESS : KL_ERROR_EOS;
    }
    return result;
}

// Makes sure at least one unread byte is in the storage for ReadLine. Unbuffered, the source is
// read one byte at a time, so nothing beyond the line is taken from it.
KL_Result KL_BufferedInputStream::EnsureLineByte() {
    if (Unread() != 0) {
        return KL_SUCCESS;
    }
    if (m_Eos) {
        return KL_ERROR_EOS;
    }
    if (m_Buffer.size != 0) {
        KL_CHECK_FINEST(FillBuffer());
        return Unread() != 0 ? KL_SUCCESS : KL_ERROR_INTERNAL; // no progress: never loop for ever
    }
    if (!m_Buffer.data) {
        KL_CHECK(ReplaceStorage(1));
    }
    m_Buffer.offset = 0;
    m_Buffer.valid = 0;
    KL_Size got = 0;
    KL_CHECK_FINEST(m_Source->Read(m_Buffer.data.get(), 1, &got));
    if (got == 0) {
        return KL_ERROR_INTERNAL;
    }
    m_Buffer.valid = 1;
    return KL_SUCCESS;
}

KL_Result KL_BufferedInputStream::ReadLine(char* buffer, KL_Size size, KL_Size* chars_read,
                                           bool break_on_cr) {
    if (chars_read != nullptr) {
        *chars_read = 0;
    }
    if (buffer == nullptr || size == 0) {
        return KL_ERROR_INVALID_PARAMETERS;
    }
    KL_Size stored = 0;
    KL_Result result = KL_SUCCESS;
    for (;;) {
        result = EnsureLineByte();
        if (KL_FAILED(result)) {
            break;
        }
        uint8_t byte = m_Buffer.data[m_Buffer.offset];
        if (byte != '\n' && byte != '\r' && stored == size - 1) {
            result = KL_ERROR_NOT_ENOUGH_SPACE; // the byte that does not fit stays in the stream
            break;
        }
        ++m_Buffer.offset;
        ++m_Position;
        bool swallow = m_SkipNewline && byte == '\n' && stored == 0;
        m_SkipNewline = false;
        if (swallow) {
            continue; // the LF of a CR that ended the previous line
        }
        if (byte == '\n') {
            break;
        }
        if (byte == '\r') {
            if (break_on_cr) {
                m_SkipNewline = true;
                break;
            }
            continue;
        }
        buffer[stored++] = static_cast<char>(byte);
    }
    buffer[stored] = '\0';
    if (chars_read != nullptr) {
        *chars_read = stored;
    }
    if (result == KL_ERROR_EOS) {
        m_Eos = true;
        return stored != 0 ? KL_SUCCESS : KL_ERROR_EOS;
    }
    return result;
}

KL_Result KL_BufferedInputStream::Peek(void* buffer, KL_Size bytes_to_peek, KL_Size* bytes_read) {
    if (bytes_read != nullptr) {
        *bytes_read = 0;
    }
    if (bytes_to_peek == 0) {
        return KL_SUCCESS;
    }
    KL_CHECK_POINTER(buffer);
    KL_Result source_result = KL_SUCCESS;
    KL_Size wanted = m_Buffer.size != 0 ? m_Buffer.size : KL_BUFFERED_INPUT_STREAM_DEFAULT_SIZE;
    if (Unread() < bytes_to_peek && Unread() < wanted && !m_Eos) {
        KL_CHECK(SetBufferSize(wanted, true));
        if (!m_Buffer.data) {
            KL_CHECK(ReplaceStorage(wanted));
        }
        KL_Size got = 0;
        source_result =
            m_Source->Read(m_Buffer.data.get() + m_Buffer.valid, m_Buffer.capacity - m_Buffer.valid, &got);
        if (KL_SUCCEEDED(source_result)) {
            m_Buffer.valid += std::min(got, m_Buffer.capacity - m_Buffer.valid);
        }
    }
    KL_Size count = std::min(bytes_to_peek, Unread());
    if (count != 0) {
        std::memcpy(buffer, m_Buffer.data.get() + m_Buffer.offset, count);
    }
    if (bytes_read != nullptr) {
        *bytes_read = count;
    }
    if (source_result == KL_ERROR_EOS) {
        m_Eos = true;
    }
    if (count != 0) {
        return KL_SUCCESS;
    }
    if (KL_FAILED(source_result)) {
        return source_result;
    }
    return m_Eos ? KL_ERROR_EOS : KL_SUCCESS;
}

KL_Result KL_BufferedInputStream::ReadLine(KL_String& line, KL_Size max_chars, bool break_on_cr) {
    line.SetLength(0);
    if (max_chars == 0) {
        return KL_ERROR_INVALID_PARAMETERS;
    }
    KL_CHECK(line.Reserve(max_chars));
    KL_Size chars_read = 0;
    KL_Result result = ReadLine(line.UseChars(), max_chars, &chars_read, break_on_cr);
    if (KL_FAILED(result)) {
        line.SetLength(0);
        if (result != KL_ERROR_EOS && result != KL_ERROR_TIMEOUT) {
            KL_LOG_CHECK_FAILED(KL_LOG_LEVEL_WARNING, result, "ReadLine");
        }
        return result;
    }
    line.SetLength(chars_read);
    return KL_SUCCESS;
}

KL_Result KL_BufferedInputStream::Seek(KL_Position offset) {
    if (offset >= m_Position && offset - m_Position <= Unread()) {
        if (offset != m_Position) {
            m_SkipNewline = false;
        }
        m_Buffer.offset += static_cast<KL_Size>(offset - m_Position);
        m_Position = offset;
        return KL_SUCCESS;
    }
    KL_Result result = m_Source->Seek(offset);
    if (KL_FAILED(result)) {
        return result;
    }
    m_Buffer.offset = 0;
    m_Buffer.valid = 0;
    m_Eos = false;
    m_SkipNewline = false;
    m_Position = offset;
    return KL_SUCCESS;
}

KL_Result KL_BufferedInputStream::Tell(KL_Position& offset) {
    offset = m_Position;
    return KL_SUCCESS;
}

KL_Result KL_BufferedInputStream::GetSize(KL_LargeSize& size) {
    return m_Source->GetSize(size);
}

KL_Result KL_BufferedInputStream::GetAvailable(KL_LargeSize& available) {
    KL_LargeSize source_available = 0;
    KL_Result result = m_Source->GetAvailable(source_available);
    if (KL_SUCCEEDED(result)) {
        available = source_available + Unread();
        return KL_SUCCESS;
    }
    available = Unread();
    return available != 0 ? KL_SUCCESS : result;
}
