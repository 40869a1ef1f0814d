// Byte order, hex, formatted output and FNV-1a hashes.
#include "KL_Utils.h"

#include <cstdio>
#include <cstdlib>
#include <cstring>

// --- byte order -----------------------------------------------------------------------------------
namespace {
template <typename T> T ReadBe(const unsigned char* bytes, int count) {
    T value = 0;
    for (int i = 0; i < count; ++i) {
        value = T(value << 8) | bytes[i];
    }
    return value;
}
template <typename T> T ReadLe(const unsigned char* bytes, int count) {
    T value = 0;
    for (int i = count - 1; i >= 0; --i) {
        value = T(value << 8) | bytes[i];
    }
    return value;
}
template <typename T> void WriteBe(unsigned char* buffer, T value, int count) {
    for (int i = count - 1; i >= 0; --i, value = T(value >> 8)) {
        buffer[i] = static_cast<unsigned char>(value & 0xFF);
    }
}
template <typename T> void WriteLe(unsigned char* buffer, T value, int count) {
    for (int i = 0; i < count; ++i, value = T(value >> 8)) {
        buffer[i] = static_cast<unsigned char>(value & 0xFF);
    }
}
} // namespace

uint64_t KL_BytesToInt64Be(const unsigned char* bytes) {
    return ReadBe<uint64_t>(bytes, 8);
}
uint32_t KL_BytesToInt32Be(const unsigned char* bytes) {
    return ReadBe<uint32_t>(bytes, 4);
}
uint32_t KL_BytesToInt24Be(const unsigned char* bytes) {
    return ReadBe<uint32_t>(bytes, 3);
}
uint16_t KL_BytesToInt16Be(const unsigned char* bytes) {
    return ReadBe<uint16_t>(bytes, 2);
}
uint64_t KL_BytesToInt64Le(const unsigned char* bytes) {
    return ReadLe<uint64_t>(bytes, 8);
}
uint32_t KL_BytesToInt32Le(const unsigned char* bytes) {
    return ReadLe<uint32_t>(bytes, 4);
}
uint32_t KL_BytesToInt24Le(const unsigned char* bytes) {
    return ReadLe<uint32_t>(bytes, 3);
}
uint16_t KL_BytesToInt16Le(const unsigned char* bytes) {
    return ReadLe<uint16_t>(bytes, 2);
}
void KL_BytesFromInt64Be(unsigned char* buffer, uint64_t value) {
    WriteBe(buffer, value, 8);
}
void KL_BytesFromInt32Be(unsigned char* buffer, uint32_t value) {
    WriteBe(buffer, value, 4);
}
void KL_BytesFromInt24Be(unsigned char* buffer, uint32_t value) {
    WriteBe(buffer, value, 3);
}
void KL_BytesFromInt16Be(unsigned char* buffer, uint16_t value) {
    WriteBe(buffer, value, 2);
}
void KL_BytesFromInt64Le(unsigned char* buffer, uint64_t value) {
    WriteLe(buffer, value, 8);
}
void KL_BytesFromInt32Le(unsigned char* buffer, uint32_t value) {
    WriteLe(buffer, value, 4);
}
void KL_BytesFromInt24Le(unsigned char* buffer, uint32_t value) {
    WriteLe(buffer, value, 3);
}
void KL_BytesFromInt16Le(unsigned char* buffer, uint16_t value) {
    WriteLe(buffer, value, 2);
}

// --- hexadecimal ----------------------------------------------------------------------------------
char KL_NibbleToHex(unsigned int nibble, bool uppercase) {
    nibble &= 0x0F;
    if (nibble < 10) {
        return char('0' + nibble);
    }
    return char((uppercase ? 'A' : 'a') + nibble - 10);
}

int KL_HexToNibble(char hex) {
    if (hex >= '0' && hex <= '9') {
        return hex - '0';
    }
    if (hex >= 'a' && hex <= 'f') {
        return hex - 'a' + 10;
    }
    if (hex >= 'A' && hex <= 'F') {
        return hex - 'A' + 10;
    }
    return -1;
}

void KL_ByteToHex(KL_Byte b, char* buffer, bool uppercase) {
    buffer[0] = KL_NibbleToHex(b >> 4, uppercase);
    buffer[1] = KL_NibbleToHex(b & 0x0F, uppercase);
}

KL_Result KL_HexToByte(const char* buffer, KL_Byte& b) {
    int high = KL_HexToNibble(buffer[0]);
    int low = high < 0 ? -1 : KL_HexToNibble(buffer[1]);
    if (high < 0 || low < 0) {
        return KL_ERROR_INVALID_SYNTAX;
    }
    b = KL_Byte((high << 4) | low);
    return KL_SUCCESS;
}

KL_Result KL_HexToBytes(const char* hex, KL_DataBuffer& bytes) {
    if (hex == nullptr) {
        return KL_ERROR_INVALID_PARAMETERS;
    }
    size_t length = std::strlen(hex);
    if (length % 2 != 0 || length / 2 > 0xFFFFFFFFu) {
        return KL_ERROR_INVALID_PARAMETERS;
    }
    KL_Result result = bytes.SetDataSize(KL_Size(length / 2));
    if (KL_FAILED(result)) {
        return result;
    }
    KL_Byte* out = bytes.UseData();
    for (size_t i = 0; i < length / 2; ++i) {
        result = KL_HexToByte(hex + 2 * i, out[i]);
        if (KL_FAILED(result)) {
            return result;
        }
    }
    return KL_SUCCESS;
}

KL_String KL_HexString(const unsigned char* data, KL_Size data_size, const char* separator, bool uppercase) {
    KL_String text;
    if (data == nullptr || data_size == 0) {
        return text;
    }
    uint64_t separator_length = separator ? std::strlen(separator) : 0;
    uint64_t total = uint64_t(data_size) * 2 + (uint64_t(data_size) - 1) * separator_length;
    if (total > 0xFFFFFFFFu || KL_FAILED(text.SetLength(KL_Size(total)))) {
        return KL_String();
    }
    char* out = text.UseChars();
    for (KL_Size i = 0; i < data_size; ++i) {
        if (i != 0 && separator_length != 0) {
            std::memcpy(out, separator, separator_length);
            out += separator_length;
        }
        KL_ByteToHex(data[i], out, uppercase);
        out += 2;
    }
    return text;
}

// --- formatted output -----------------------------------------------------------------------------
void KL_FormatOutput(KL_FormatOutputFunction function, void* context, const char* format, va_list args) {
    char buffer[1024];
    va_list copy;
    va_copy(copy, args);
    int printed = std::vsnprintf(buffer, sizeof buffer, format, copy);
    va_end(copy);
    buffer[sizeof buffer - 1] = '\0';
    if (printed >= 0) {
        function(context, buffer); // longer output is cut at 1023 characters
        return;
    }
    buffer[0] = '\0';
    // Only a formatting error retries, in growing heap buffers.
    char* heap = nullptr;
    for (size_t size = sizeof buffer; 2 * size + 8192 <= 0x10000;) {
        size = 2 * size + 8192;
        char* grown = static_cast<char*>(std::realloc(heap, size));
        if (grown == nullptr) {
            break;
        }
        heap = grown;
        heap[0] = '\0';
        va_copy(copy, args);
        printed = std::vsnprintf(heap, size, format, copy);
        va_end(copy);
        heap[size - 1] = '\0';
        if (printed >= 0) {
            break;
        }
    }
    function(context, heap ? heap : buffer);
    std::free(heap);
}

// --- FNV-1a -------------------------------------------------------------------------------------
namespace {
constexpr uint32_t kFnv32Prime = 0x01000193u;
constexpr uint64_t kFnv64Prime = 0x100000001B3ull;
} // namespace

uint32_t KL_Fnv1aHash32(const KL_Byte* data, KL_Size size, uint32_t basis) {
    uint32_t hash = basis;
    for (KL_Size i = 0; data != nullptr && i < size; ++i) {
        hash = (hash ^ data[i]) * kFnv32Prime;
    }
    return hash;
}

uint64_t KL_Fnv1aHash64(const KL_Byte* data, KL_Size size, uint64_t basis) {
    uint64_t hash = basis;
    for (KL_Size i = 0; data != nullptr && i < size; ++i) {
        hash = (hash ^ data[i]) * kFnv64Prime;
    }
    return hash;
}

uint32_t KL_Fnv1aHashStr32(const char* text, uint32_t basis) {
    uint32_t hash = basis;
    for (; text != nullptr && *text != '\0'; ++text) {
        hash = (hash ^ uint32_t(int32_t(static_cast<signed char>(*text)))) * kFnv32Prime;
    }
    return hash;
}

uint64_t KL_Fnv1aHashStr64(const char* text, uint64_t basis) {
    uint64_t hash = basis;
    for (; text != nullptr && *text != '\0'; ++text) {
        hash = (hash ^ uint64_t(int64_t(static_cast<signed char>(*text)))) * kFnv64Prime;
    }
    return hash;
}
