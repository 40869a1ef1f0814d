// KL_InputStream: the abstract byte source of the runtime (sockets, files, HTTP bodies, memory).
//
// Reads take an optional out-parameter for the count actually read. KL_ERROR_EOS is the normal end
// of a stream. Streams are not locked: one thread uses a stream at a time; they are shared between
// owners through KL_InputStreamReference.
#pragma once

#include "KL_DataBuffer.h"
#include "KL_Reference.h"
#include "KL_Result.h"
#include "KL_Types.h"

#include <cstdint>

// The largest amount ReadAll collects (1 GiB).
constexpr KL_Size KL_INPUT_STREAM_MAX_READ_ALL = 0x40000000;

class KL_InputStream {
public:
    virtual ~KL_InputStream() = default;

    // Reads the rest of the stream into buffer (its data size is reset first). max_read 0 means
    // no limit of the caller's; never more than 1 GiB is held.
    [[nodiscard]] virtual KL_Result ReadAll(KL_DataBuffer& buffer, KL_Size max_read = 0);
    [[nodiscard]] virtual KL_Result Read(void* buffer, KL_Size bytes_to_read,
                                         KL_Size* bytes_read = nullptr) = 0;
    // Reads exactly bytes_to_read bytes; a read that makes no progress gives KL_ERROR_INTERNAL.
    [[nodiscard]] virtual KL_Result ReadFully(void* buffer, KL_Size bytes_to_read);
    [[nodiscard]] virtual KL_Result Seek(KL_Position offset) = 0;
    [[nodiscard]] virtual KL_Result Skip(KL_LargeSize count);
    [[nodiscard]] virtual KL_Result Tell(KL_Position& offset) = 0;
    [[nodiscard]] virtual KL_Result GetSize(KL_LargeSize& size) = 0;
    [[nodiscard]] virtual KL_Result GetAvailable(KL_LargeSize& available) = 0;

    // Big-endian unsigned integers read with ReadFully; the value is 0 when the read fails.
    [[nodiscard]] KL_Result ReadUI64(uint64_t& value);
    [[nodiscard]] KL_Result ReadUI32(uint32_t& value);
    [[nodiscard]] KL_Result ReadUI24(uint32_t& value);
    [[nodiscard]] KL_Result ReadUI16(uint16_t& value);
    [[nodiscard]] KL_Result ReadUI08(uint8_t& value);
};

using KL_InputStreamReference = KL_Reference<KL_InputStream>;
