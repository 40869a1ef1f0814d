// KL_BasicDigest: the streaming base of the block digests. Input is gathered into 64-byte
// blocks, each handed to CompressBlock; GetDigest pads the message the standard way (0x80,
// zeros, the 64-bit bit length) and writes the state words out.
#pragma once

#include "KL_Digest.h"

#include <cstdint>

class KL_BasicDigest : public KL_Digest {
public:
    static constexpr unsigned int BLOCK_SIZE = 64;

    KL_Result Update(const KL_Byte* data, KL_Size size) override;

protected:
    virtual void CompressBlock(const KL_Byte* block) = 0;

    // Pads, compresses the last block(s) and writes `count` state words into the buffer, each as
    // 4 bytes, big-endian (SHA) or little-endian (MD5); the bit length is written the same way.
    KL_Result ComputeDigest(const uint32_t* state, unsigned int count, bool big_endian,
                            KL_DataBuffer& digest);

    uint64_t m_Length = 0; // message length in bits, counted per compressed block
    uint32_t m_Pending = 0;
    KL_Byte m_Buffer[BLOCK_SIZE] = {};
};
