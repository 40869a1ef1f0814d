// KL_Sha1Digest: SHA-1 (FIPS 180-4), 20-byte digest.
#pragma once

#include "KL_BasicDigest.h"

class KL_Sha1Digest : public KL_BasicDigest {
public:
    KL_Sha1Digest();

    unsigned int GetSize() override { return 20; }
    KL_Result GetDigest(KL_DataBuffer& digest) override;

protected:
    void CompressBlock(const KL_Byte* block) override;

private:
    uint32_t m_State[5];
};
