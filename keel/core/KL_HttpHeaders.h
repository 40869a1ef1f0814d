// KL_HttpHeaders: the header lines of an HTTP message, in the order they were added or parsed.
// Names are looked up ignoring ASCII case; duplicates are allowed.
#pragma once

#include "KL_HttpHeader.h"
#include "KL_List.h"
#include "KL_Result.h"
#include "KL_Types.h"

#include <cstdint>

class KL_BufferedInputStream;
class KL_OutputStream;

// Longest line of an HTTP head, its terminator not counted (a line holds at most 8191 bytes).
constexpr uint32_t KL_HTTP_PROTOCOL_MAX_LINE_LENGTH = 8192;
// A head's header block (and a chunked body's trailers) holds at most this many lines and bytes.
constexpr uint32_t KL_HTTP_PROTOCOL_MAX_HEADER_LINES = 100;
constexpr uint32_t KL_HTTP_PROTOCOL_MAX_HEADER_BYTES = 65536;

class KL_HttpHeaders {
public:
    KL_HttpHeaders() = default;
    KL_HttpHeaders(const KL_HttpHeaders&) = delete;
    KL_HttpHeaders& operator=(const KL_HttpHeaders&) = delete;
    ~KL_HttpHeaders();

    KL_HttpHeader* GetHeader(const char* name) const;
    // The value of the first header of that name, or null.
    const char* GetHeaderValue(const char* name) const;
    KL_Result AddHeader(const char* name, const char* value);
    KL_Result SetHeader(const char* name, const char* value, bool replace = true);
    // KL_ERROR_NO_SUCH_ITEM when no header has that name.
    KL_Result RemoveHeader(const char* name);

    // Reads header lines up to an empty line or the end of the stream. Lines starting with a
    // space or tab continue the previous value. More than KL_HTTP_PROTOCOL_MAX_HEADER_LINES
    // lines or KL_HTTP_PROTOCOL_MAX_HEADER_BYTES bytes give KL_ERROR_NOT_ENOUGH_SPACE; every
    // read failure but KL_ERROR_EOS is returned.
    [[nodiscard]] KL_Result Parse(KL_BufferedInputStream& stream);
    // Reads and drops a block under the same bounds (a chunked body's trailers); the end of the
    // stream before its empty line gives KL_ERROR_EOS.
    [[nodiscard]] static KL_Result SkipBlock(KL_BufferedInputStream& stream,
                                             KL_Size max_line_length = KL_HTTP_PROTOCOL_MAX_LINE_LENGTH);
    // Emits every header in list order; the first failing write's result is returned.
    [[nodiscard]] KL_Result Emit(KL_OutputStream& stream) const;

    const KL_List<KL_HttpHeader*>& GetHeaders() const { return m_Headers; }
    void Clear();

private:
    static KL_Result ReadBlock(KL_BufferedInputStream& stream, KL_Size max_line_length,
                               KL_HttpHeaders* target);
    void CommitHeader(KL_String& name, KL_String& value);

    KL_List<KL_HttpHeader*> m_Headers;
};
