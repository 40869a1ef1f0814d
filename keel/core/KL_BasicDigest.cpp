// KL_BasicDigest: block buffering and the standard padding shared by SHA-1, SHA-256 and MD5.
#include "KL_BasicDigest.h"

#include "KL_Check.h"

#include <cstring>

KL_SET_LOCAL_LOGGER("keel.digest");

KL_Result KL_BasicDigest::Update(const KL_Byte* data, KL_Size size) {
    if (size == 0) {
        return KL_SUCCESS;
    }
    KL_CHECK_POINTER(data);
    while (size > 0) {
        if (m_Pending == 0 && size >= BLOCK_SIZE) {
            CompressBlock(data);
            m_Length += BLOCK_SIZE * 8;
            data += BLOCK_SIZE;
            size -= BLOCK_SIZE;
            continue;
        }
        KL_Size chunk = BLOCK_SIZE - m_Pending;
        if (chunk > size) {
            chunk = size;
        }
        std::memcpy(m_Buffer + m_Pending, data, chunk);
        m_Pending += chunk;
        data += chunk;
        size -= chunk;
        if (m_Pending == BLOCK_SIZE) {
            CompressBlock(m_Buffer);
            m_Length += BLOCK_SIZE * 8;
            m_Pending = 0;
        }
    }
    return KL_SUCCESS;
}

KL_Result KL_BasicDigest::ComputeDigest(const uint32_t* state, unsigned int count, bool big_endian,
                                        KL_DataBuffer& digest) {
    m_Length += static_cast<uint64_t>(m_Pending) * 8;
    m_Buffer[m_Pending++] = 0x80;
    if (m_Pending > BLOCK_SIZE - 8) {
        std::memset(m_Buffer + m_Pending, 0, BLOCK_SIZE - m_Pending);
        CompressBlock(m_Buffer);
        m_Pending = 0;
    }
    std::memset(m_Buffer + m_Pending, 0, BLOCK_SIZE - 8 - m_Pending);
    for (unsigned int i = 0; i < 8; ++i) {
        unsigned int shift = big_endian ? 56 - 8 * i : 8 * i;
        m_Buffer[BLOCK_SIZE - 8 + i] = static_cast<KL_Byte>(m_Length >> shift);
    }
    CompressBlock(m_Buffer);
    m_Pending = 0;

    KL_CHECK_WARNING(digest.SetDataSize(count * 4));
    KL_Byte* out = digest.UseData();
    for (unsigned int word = 0; word < count; ++word) {
        for (unsigned int i = 0; i < 4; ++i) {
            unsigned int shift = big_endian ? 24 - 8 * i : 8 * i;
            out[word * 4 + i] = static_cast<KL_Byte>(state[word] >> shift);
        }
    }
    return KL_SUCCESS;
}
