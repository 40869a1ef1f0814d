// KL_BufferedInputStream: an input stream with a read-ahead buffer over another input stream, with
// line reading (the HTTP head parser and the UPnP server tasks read their lines through it).
//
// The storage is allocated on the first fill, and only once unless its size changes. A buffer
// size of 0 makes the stream unbuffered: reads go straight to the source.
#pragma once

#include "KL_InputStream.h"
#include "KL_String.h"

#include <memory>

constexpr KL_Size KL_BUFFERED_INPUT_STREAM_DEFAULT_SIZE = 4096;

class KL_BufferedInputStream : public KL_InputStream {
public:
    explicit KL_BufferedInputStream(const KL_InputStreamReference& source,
                                    KL_Size buffer_size = KL_BUFFERED_INPUT_STREAM_DEFAULT_SIZE);
    ~KL_BufferedInputStream() override;
    KL_BufferedInputStream(const KL_BufferedInputStream&) = delete;
    KL_BufferedInputStream& operator=(const KL_BufferedInputStream&) = delete;

    // Reads one line into string (emptied first); the line may hold at most max_chars - 1
    // characters. break_on_cr: a CR alone ends a line (a following LF is swallowed); otherwise a
    // CR is dropped. KL_ERROR_EOS when the stream ends before any character.
    [[nodiscard]] virtual KL_Result ReadLine(KL_String& line, KL_Size max_chars = 4096,
                                             bool break_on_cr = false);
    // Same into a caller's buffer of size bytes (NUL-terminated; chars_read = the line's length).
    // A line that does not fit gives KL_ERROR_NOT_ENOUGH_SPACE with size - 1 characters stored.
    [[nodiscard]] virtual KL_Result ReadLine(char* buffer, KL_Size size, KL_Size* chars_read = nullptr,
                                             bool break_on_cr = false);
    [[nodiscard]] virtual KL_Result SetBufferSize(KL_Size size, bool force = false);
    // Copies up to bytes_to_peek of the next bytes without consuming them.
    [[nodiscard]] virtual KL_Result Peek(void* buffer, KL_Size bytes_to_peek, KL_Size* bytes_read = nullptr);
    [[nodiscard]] virtual KL_Result FillBuffer();
    virtual KL_Result ReleaseBuffer();

    [[nodiscard]] KL_Result Read(void* buffer, KL_Size bytes_to_read, KL_Size* bytes_read = nullptr) override;
    [[nodiscard]] KL_Result Seek(KL_Position offset) override;
    [[nodiscard]] KL_Result Tell(KL_Position& offset) override;
    [[nodiscard]] KL_Result GetSize(KL_LargeSize& size) override;
    [[nodiscard]] KL_Result GetAvailable(KL_LargeSize& available) override;

private:
    struct Buffer {
        std::unique_ptr<uint8_t[]> data;
        KL_Size capacity = 0; // bytes allocated at data
        KL_Size offset = 0;   // next unread byte
        KL_Size valid = 0;    // bytes filled
        KL_Size size = 0;     // wanted size, 0 = unbuffered
    };

    KL_Size Unread() const { return m_Buffer.valid - m_Buffer.offset; }
    KL_Result ReplaceStorage(KL_Size size);
    KL_Result EnsureLineByte();
    KL_Result ReadFromStorage(uint8_t* buffer, KL_Size bytes_to_read, KL_Size& bytes_read);

    KL_InputStreamReference m_Source;
    KL_Position m_Position = 0;
    bool m_SkipNewline = false;
    bool m_Eos = false;
    Buffer m_Buffer;
};

using KL_BufferedInputStreamReference = KL_Reference<KL_BufferedInputStream>;
