// KL_HmacDigest: HMAC (RFC 2104) over SHA-1 or MD5. The key is applied at construction; Update
// feeds the inner digest; GetDigest feeds the inner result to the outer digest.
#pragma once

#include "KL_Digest.h"

class KL_HmacDigest : public KL_Digest {
public:
    // Use KL_Digest::CreateHmac, which checks the algorithm and the key.
    KL_HmacDigest(Algorithm algorithm, const KL_Byte* key, KL_Size key_size);
    ~KL_HmacDigest() override;
    KL_HmacDigest(const KL_HmacDigest&) = delete;
    KL_HmacDigest& operator=(const KL_HmacDigest&) = delete;

    // Whether both digests exist (false only when memory ran out).
    bool IsReady() const { return m_InnerDigest != nullptr && m_OuterDigest != nullptr; }

    unsigned int GetSize() override { return m_InnerDigest->GetSize(); }
    KL_Result Update(const KL_Byte* data, KL_Size size) override { return m_InnerDigest->Update(data, size); }
    KL_Result GetDigest(KL_DataBuffer& digest) override;

private:
    KL_Digest* m_InnerDigest = nullptr;
    KL_Digest* m_OuterDigest = nullptr;
};
