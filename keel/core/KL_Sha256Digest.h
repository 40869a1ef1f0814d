// KL_Sha256Digest: SHA-256 (FIPS 180-4), 32-byte digest.
#pragma once

#include "KL_BasicDigest.h"

class KL_Sha256Digest : public KL_BasicDigest {
public:
    KL_Sha256Digest();

    unsigned int GetSize() override { return 32; }
    KL_Result GetDigest(KL_DataBuffer& digest) override;

protected:
    void CompressBlock(const KL_Byte* block) override;

private:
    uint32_t m_State[8];
};
