// KL_OutputStream: the default operations of every output stream.
#include "KL_OutputStream.h"

#include "KL_Check.h"

#include <cstring>

KL_SET_LOCAL_LOGGER("keel.streams");

KL_Result KL_OutputStream::WriteFully(const void* data, KL_Size bytes_to_write) {
    if (bytes_to_write == 0) {
        return KL_SUCCESS;
    }
    KL_CHECK_POINTER(data);
    const auto* cursor = static_cast<const KL_Byte*>(data);
    while (bytes_to_write != 0) {
        KL_Size bytes_written = 0;
        KL_Result result = Write(cursor, bytes_to_write, &bytes_written);
        if (KL_FAILED(result)) {
            return result;
        }
        if (bytes_written == 0) {
            return KL_ERROR_INTERNAL;
        }
        bytes_written = bytes_written < bytes_to_write ? bytes_written : bytes_to_write;
        bytes_to_write -= bytes_written;
        cursor += bytes_written;
    }
    return KL_SUCCESS;
}

KL_Result KL_OutputStream::WriteString(const char* text) {
    if (text == nullptr || text[0] == '\0') {
        return KL_SUCCESS;
    }
    return WriteFully(text, static_cast<KL_Size>(std::strlen(text)));
}

KL_Result KL_OutputStream::WriteLine(const char* text) {
    KL_Result result = WriteString(text);
    if (KL_FAILED(result)) {
        return result;
    }
    return WriteFully("\r\n", 2);
}

namespace {
KL_Result WriteBigEndian(KL_OutputStream& stream, unsigned int size, uint64_t value) {
    KL_Byte bytes[8];
    for (unsigned int i = 0; i < size; ++i) {
        bytes[size - 1 - i] = static_cast<KL_Byte>(value >> (8 * i));
    }
    return stream.WriteFully(bytes, size);
}
} // namespace

KL_Result KL_OutputStream::WriteUI64(uint64_t value) {
    return WriteBigEndian(*this, 8, value);
}
KL_Result KL_OutputStream::WriteUI32(uint32_t value) {
    return WriteBigEndian(*this, 4, value);
}
KL_Result KL_OutputStream::WriteUI24(uint32_t value) {
    return WriteBigEndian(*this, 3, value);
}
KL_Result KL_OutputStream::WriteUI16(uint16_t value) {
    return WriteBigEndian(*this, 2, value);
}
KL_Result KL_OutputStream::WriteUI08(uint8_t value) {
    return WriteBigEndian(*this, 1, value);
}
