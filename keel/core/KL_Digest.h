// KL_Digest: message digests (SHA-1, SHA-256, MD5) and HMAC over SHA-1 or MD5, computed by the
// runtime's own code. A digest object is used for one message: Update any number of times, then
// GetDigest once.
//
//   KL_Digest* digest = nullptr;
//   KL_CHECK(KL_Digest::Create(KL_Digest::ALGORITHM_SHA256, digest));
//   digest->Update(data, size);
//   digest->GetDigest(buffer);   // buffer's data size becomes GetSize()
//   delete digest;
#pragma once

#include "KL_DataBuffer.h"
#include "KL_Result.h"
#include "KL_Types.h"

class KL_Digest {
public:
    enum Algorithm : int {
        ALGORITHM_SHA1 = 0,
        ALGORITHM_SHA256 = 1,
        ALGORITHM_MD5 = 2,
    };

    // A new digest owned by the caller; an unknown algorithm gives KL_ERROR_NOT_SUPPORTED.
    static KL_Result Create(Algorithm algorithm, KL_Digest*& digest);
    // A new HMAC (SHA-1 or MD5 only; any other algorithm gives KL_ERROR_NOT_SUPPORTED).
    static KL_Result CreateHmac(Algorithm algorithm, const KL_Byte* key, KL_Size key_size,
                                KL_Digest*& digest);

    virtual ~KL_Digest() = default;

    // Length of the digest in bytes.
    virtual unsigned int GetSize() = 0;
    virtual KL_Result Update(const KL_Byte* data, KL_Size size) = 0;
    // Finishes the computation and writes the digest into the buffer.
    virtual KL_Result GetDigest(KL_DataBuffer& digest) = 0;
};
