// KL_HmacDigest: H((K ^ opad) || H((K ^ ipad) || message)).
#include "KL_HmacDigest.h"

#include "KL_Check.h"

#include <cstring>

KL_SET_LOCAL_LOGGER("keel.digest");

namespace {
constexpr KL_Size kBlockSize = 64;
constexpr KL_Byte kInnerPad = 0x36;
constexpr KL_Byte kOuterPad = 0x5C;
} // namespace

KL_HmacDigest::KL_HmacDigest(Algorithm algorithm, const KL_Byte* key, KL_Size key_size) {
    if (KL_FAILED(KL_Digest::Create(algorithm, m_InnerDigest)) ||
        KL_FAILED(KL_Digest::Create(algorithm, m_OuterDigest))) {
        return;
    }
    KL_Byte padded[kBlockSize] = {};
    if (key_size > kBlockSize) {
        // A long key is replaced by its digest.
        KL_Digest* keyDigest = nullptr;
        KL_DataBuffer hashed;
        if (KL_SUCCEEDED(KL_Digest::Create(algorithm, keyDigest)) &&
            KL_SUCCEEDED(keyDigest->Update(key, key_size)) && KL_SUCCEEDED(keyDigest->GetDigest(hashed))) {
            std::memcpy(padded, hashed.GetData(), hashed.GetDataSize());
        }
        delete keyDigest;
    } else if (key_size > 0) {
        std::memcpy(padded, key, key_size);
    }
    KL_Byte inner[kBlockSize];
    KL_Byte outer[kBlockSize];
    for (KL_Size i = 0; i < kBlockSize; ++i) {
        inner[i] = padded[i] ^ kInnerPad;
        outer[i] = padded[i] ^ kOuterPad;
    }
    m_InnerDigest->Update(inner, kBlockSize);
    m_OuterDigest->Update(outer, kBlockSize);
}

KL_HmacDigest::~KL_HmacDigest() {
    delete m_InnerDigest;
    delete m_OuterDigest;
}

KL_Result KL_HmacDigest::GetDigest(KL_DataBuffer& digest) {
    KL_DataBuffer inner;
    KL_CHECK_WARNING(m_InnerDigest->GetDigest(inner));
    KL_CHECK_WARNING(m_OuterDigest->Update(inner.GetData(), inner.GetDataSize()));
    return m_OuterDigest->GetDigest(digest);
}
