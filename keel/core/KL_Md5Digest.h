// KL_Md5Digest: MD5 (RFC 1321), 16-byte digest.
#pragma once

#include "KL_BasicDigest.h"

class KL_Md5Digest : public KL_BasicDigest {
public:
    KL_Md5Digest();

    unsigned int GetSize() override { return 16; }
    KL_Result GetDigest(KL_DataBuffer& digest) override;

protected:
    void CompressBlock(const KL_Byte* block) override;

private:
    uint32_t m_State[4];
};
