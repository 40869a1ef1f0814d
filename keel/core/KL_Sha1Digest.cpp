// KL_Sha1Digest: the SHA-1 compression function.
#include "KL_Sha1Digest.h"

namespace {
inline uint32_t Rotl(uint32_t x, int n) {
    return (x << n) | (x >> (32 - n));
}
} // namespace

KL_Sha1Digest::KL_Sha1Digest() : m_State{0x67452301, 0xEFCDAB89, 0x98BADCFE, 0x10325476, 0xC3D2E1F0} {}

KL_Result KL_Sha1Digest::GetDigest(KL_DataBuffer& digest) {
    return ComputeDigest(m_State, 5, true, digest);
}

void KL_Sha1Digest::CompressBlock(const KL_Byte* block) {
    uint32_t w[80];
    for (int t = 0; t < 16; ++t) {
        w[t] = static_cast<uint32_t>(block[4 * t]) << 24 | static_cast<uint32_t>(block[4 * t + 1]) << 16 |
               static_cast<uint32_t>(block[4 * t + 2]) << 8 | static_cast<uint32_t>(block[4 * t + 3]);
    }
    for (int t = 16; t < 80; ++t) {
        w[t] = Rotl(w[t - 3] ^ w[t - 8] ^ w[t - 14] ^ w[t - 16], 1);
    }
    uint32_t a = m_State[0], b = m_State[1], c = m_State[2], d = m_State[3], e = m_State[4];
    for (int t = 0; t < 80; ++t) {
        uint32_t f, k;
        if (t < 20) {
            f = (b & c) | (~b & d);
            k = 0x5A827999;
        } else if (t < 40) {
            f = b ^ c ^ d;
            k = 0x6ED9EBA1;
        } else if (t < 60) {
            f = (b & c) | (b & d) | (c & d);
            k = 0x8F1BBCDC;
        } else {
            f = b ^ c ^ d;
            k = 0xCA62C1D6;
        }
        uint32_t temp = Rotl(a, 5) + f + e + k + w[t];
        e = d;
        d = c;
        c = Rotl(b, 30);
        b = a;
        a = temp;
    }
    m_State[0] += a;
    m_State[1] += b;
    m_State[2] += c;
    m_State[3] += d;
    m_State[4] += e;
}
