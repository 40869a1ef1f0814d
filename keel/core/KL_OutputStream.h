// KL_OutputStream: the abstract byte sink of the runtime (sockets, files, HTTP bodies, memory).
//
// Writes take an optional out-parameter for the count actually written. Streams are not locked:
// one thread uses a stream at a time; they are shared through KL_OutputStreamReference.
#pragma once

#include "KL_InputStream.h"
#include "KL_Reference.h"
#include "KL_Result.h"
#include "KL_Types.h"

#include <cstdint>

class KL_OutputStream {
public:
    virtual ~KL_OutputStream() = default;

    [[nodiscard]] virtual KL_Result Write(const void* data, KL_Size bytes_to_write,
                                          KL_Size* bytes_written = nullptr) = 0;
    // Writes all bytes; a write that makes no progress gives KL_ERROR_INTERNAL.
    [[nodiscard]] virtual KL_Result WriteFully(const void* data, KL_Size bytes_to_write);
    // The characters of a NUL-terminated text, without the NUL (nothing for null or "").
    [[nodiscard]] virtual KL_Result WriteString(const char* text);
    // WriteString, then "\r\n".
    [[nodiscard]] virtual KL_Result WriteLine(const char* text);
    [[nodiscard]] virtual KL_Result Seek(KL_Position offset) = 0;
    [[nodiscard]] virtual KL_Result Tell(KL_Position& offset) = 0;
    [[nodiscard]] virtual KL_Result Flush() { return KL_SUCCESS; }

    // Big-endian unsigned integers written with WriteFully.
    [[nodiscard]] KL_Result WriteUI64(uint64_t value);
    [[nodiscard]] KL_Result WriteUI32(uint32_t value);
    [[nodiscard]] KL_Result WriteUI24(uint32_t value);
    [[nodiscard]] KL_Result WriteUI16(uint16_t value);
    [[nodiscard]] KL_Result WriteUI08(uint8_t value);
};

using KL_OutputStreamReference = KL_Reference<KL_OutputStream>;
