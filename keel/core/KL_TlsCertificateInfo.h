// KL_TlsCertificateInfo: what a session tells of one certificate of its peer's chain.
#pragma once

#include "KL_DateTime.h"
#include "KL_List.h"
#include "KL_Result.h"
#include "KL_String.h"
#include "KL_Types.h"

struct x509_st;

class KL_TlsCertificateInfo {
public:
    struct DistinguishedName {
        KL_String common_name;
        KL_String organization;
        KL_String organizational_name; // the organizational unit
    };
    struct Fingerprint {
        KL_Byte sha1[20] = {};
        KL_Byte md5[16] = {};
    };

    DistinguishedName subject;
    DistinguishedName issuer;
    Fingerprint fingerprint; // of the DER encoding
    KL_DateTime issue_date;  // UTC
    KL_DateTime expiration_date;
    KL_List<KL_String> alternate_names; // subject-alternative DNS names, in order

    // Fills every field from an OpenSSL certificate.
    KL_Result Read(const x509_st* certificate);
};
