// KL_XmlByteBuffer: a growable byte buffer of the XML processor (names, values, text, entity
// names). It takes 32 bytes when first used, doubles as needed, keeps a NUL after its bytes,
// and refuses to grow beyond 1 GiB.
#pragma once

#include "KL_Result.h"
#include "KL_Types.h"

#include <cstdint>

class KL_XmlByteBuffer {
public:
    KL_XmlByteBuffer() = default;
    KL_XmlByteBuffer(const KL_XmlByteBuffer&) = delete;
    KL_XmlByteBuffer& operator=(const KL_XmlByteBuffer&) = delete;
    ~KL_XmlByteBuffer() { Free(); }

    KL_Result Append(uint8_t c);
    KL_Result Append(const char* text);
    // Appends a code point (1 to 0x10FFFF) encoded as UTF-8.
    KL_Result AppendUtf8(uint32_t code);
    // Empties the buffer and keeps its storage.
    void Clear();
    // Empties the buffer and frees its storage.
    void Free();
    bool Equals(const char* text) const;
    // The bytes, followed by a NUL.
    const char* GetData() const { return m_Data ? reinterpret_cast<const char*>(m_Data) : ""; }
    KL_Size GetSize() const { return m_Size; }

private:
    uint8_t* m_Data = nullptr;
    KL_Size m_Size = 0;
    KL_Size m_Capacity = 0;
};
