#include "KL_XmlByteBuffer.h"

#include <cstdlib>
#include <cstring>

namespace {

constexpr KL_Size kMaxCapacity = 0x40000000;

} // namespace

void KL_XmlByteBuffer::Clear() {
    m_Size = 0;
    if (m_Data != nullptr) {
        m_Data[0] = 0;
    }
}

void KL_XmlByteBuffer::Free() {
    std::free(m_Data);
    m_Data = nullptr;
    m_Size = m_Capacity = 0;
}

KL_Result KL_XmlByteBuffer::Append(uint8_t c) {
    if (m_Size + 1 >= m_Capacity) {
        if (m_Capacity >= kMaxCapacity) {
            return KL_ERROR_OUT_OF_MEMORY;
        }
        KL_Size capacity = m_Capacity ? 2 * m_Capacity : 32;
        auto* data = static_cast<uint8_t*>(std::realloc(m_Data, capacity));
        if (data == nullptr) {
            return KL_ERROR_OUT_OF_MEMORY;
        }
        m_Data = data;
        m_Capacity = capacity;
    }
    m_Data[m_Size++] = c;
    m_Data[m_Size] = 0;
    return KL_SUCCESS;
}

KL_Result KL_XmlByteBuffer::Append(const char* text) {
    for (; *text; ++text) {
        KL_Result result = Append(static_cast<uint8_t>(*text));
        if (KL_FAILED(result)) {
            return result;
        }
    }
    return KL_SUCCESS;
}

KL_Result KL_XmlByteBuffer::AppendUtf8(uint32_t code) {
    char bytes[5] = {};
    if (code < 0x80) {
        bytes[0] = static_cast<char>(code);
    } else if (code < 0x800) {
        bytes[0] = static_cast<char>(0xC0 | (code >> 6));
        bytes[1] = static_cast<char>(0x80 | (code & 0x3F));
    } else if (code < 0x10000) {
        bytes[0] = static_cast<char>(0xE0 | (code >> 12));
        bytes[1] = static_cast<char>(0x80 | ((code >> 6) & 0x3F));
        bytes[2] = static_cast<char>(0x80 | (code & 0x3F));
    } else {
        bytes[0] = static_cast<char>(0xF0 | (code >> 18));
        bytes[1] = static_cast<char>(0x80 | ((code >> 12) & 0x3F));
        bytes[2] = static_cast<char>(0x80 | ((code >> 6) & 0x3F));
        bytes[3] = static_cast<char>(0x80 | (code & 0x3F));
    }
    return Append(bytes);
}

bool KL_XmlByteBuffer::Equals(const char* text) const {
    return std::strlen(text) == m_Size && std::memcmp(GetData(), text, m_Size) == 0;
}
