// KL_Digest: the factories of the digest family.
#include "KL_Digest.h"

#include "KL_Check.h"
#include "KL_HmacDigest.h"
#include "KL_Md5Digest.h"
#include "KL_Sha1Digest.h"
#include "KL_Sha256Digest.h"

#include <new>

KL_SET_LOCAL_LOGGER("keel.digest");

KL_Result KL_Digest::Create(Algorithm algorithm, KL_Digest*& digest) {
    digest = nullptr;
    switch (algorithm) {
    case ALGORITHM_SHA1:
        digest = new (std::nothrow) KL_Sha1Digest();
        break;
    case ALGORITHM_SHA256:
        digest = new (std::nothrow) KL_Sha256Digest();
        break;
    case ALGORITHM_MD5:
        digest = new (std::nothrow) KL_Md5Digest();
        break;
    default:
        return KL_ERROR_NOT_SUPPORTED;
    }
    return digest ? KL_SUCCESS : KL_ERROR_OUT_OF_MEMORY;
}

KL_Result KL_Digest::CreateHmac(Algorithm algorithm, const KL_Byte* key, KL_Size key_size,
                                KL_Digest*& digest) {
    digest = nullptr;
    if (algorithm != ALGORITHM_SHA1 && algorithm != ALGORITHM_MD5) {
        return KL_ERROR_NOT_SUPPORTED;
    }
    if (key_size != 0) {
        KL_CHECK_POINTER(key);
    }
    KL_HmacDigest* hmac = new (std::nothrow) KL_HmacDigest(algorithm, key, key_size);
    if (hmac == nullptr) {
        return KL_ERROR_OUT_OF_MEMORY;
    }
    if (!hmac->IsReady()) {
        delete hmac;
        return KL_ERROR_OUT_OF_MEMORY;
    }
    digest = hmac;
    return KL_SUCCESS;
}
