#include "KL_TlsCertificateInfo.h"

#include "KL_DataBuffer.h"
#include "KL_Md5Digest.h"
#include "KL_Sha1Digest.h"

#include <cstring>
#include <ctime>
#include <openssl/asn1.h>
#include <openssl/x509.h>
#include <openssl/x509v3.h>

namespace {

KL_String GetEntry(const X509_NAME* name, int nid) {
    const int index = X509_NAME_get_index_by_NID(name, nid, -1);
    if (index < 0) {
        return KL_String();
    }
    const ASN1_STRING* data = X509_NAME_ENTRY_get_data(X509_NAME_get_entry(name, index));
    unsigned char* utf8 = nullptr;
    const int length = ASN1_STRING_to_UTF8(&utf8, data);
    if (length < 0) {
        return KL_String();
    }
    KL_String text(reinterpret_cast<const char*>(utf8), static_cast<KL_Size>(length));
    OPENSSL_free(utf8);
    return text;
}

void ReadName(const X509_NAME* name, KL_TlsCertificateInfo::DistinguishedName& out) {
    out.common_name = GetEntry(name, NID_commonName);
    out.organization = GetEntry(name, NID_organizationName);
    out.organizational_name = GetEntry(name, NID_organizationalUnitName);
}

void ReadDate(const ASN1_TIME* time, KL_DateTime& date) {
    struct tm parts = {};
    if (time == nullptr || ASN1_TIME_to_tm(time, &parts) != 1) {
        date = KL_DateTime();
        return;
    }
    date = KL_DateTime();
    date.m_Year = parts.tm_year + 1900;
    date.m_Month = parts.tm_mon + 1;
    date.m_Day = parts.tm_mday;
    date.m_Hours = parts.tm_hour;
    date.m_Minutes = parts.tm_min;
    date.m_Seconds = parts.tm_sec;
}

void Fingerprints(const X509* certificate, KL_TlsCertificateInfo::Fingerprint& out) {
    unsigned char* der = nullptr;
    const int size = i2d_X509(certificate, &der);
    if (size <= 0) {
        return;
    }
    KL_Sha1Digest sha1;
    KL_Md5Digest md5;
    KL_DataBuffer digest;
    (void)sha1.Update(der, static_cast<KL_Size>(size));
    if (KL_SUCCEEDED(sha1.GetDigest(digest)) && digest.GetDataSize() == sizeof out.sha1) {
        std::memcpy(out.sha1, digest.GetData(), sizeof out.sha1);
    }
    (void)md5.Update(der, static_cast<KL_Size>(size));
    if (KL_SUCCEEDED(md5.GetDigest(digest)) && digest.GetDataSize() == sizeof out.md5) {
        std::memcpy(out.md5, digest.GetData(), sizeof out.md5);
    }
    OPENSSL_free(der);
}

void ReadAlternateNames(const X509* certificate, KL_List<KL_String>& names) {
    names.Clear();
    auto* general_names =
        static_cast<GENERAL_NAMES*>(X509_get_ext_d2i(certificate, NID_subject_alt_name, nullptr, nullptr));
    if (general_names == nullptr) {
        return;
    }
    for (int i = 0; i < sk_GENERAL_NAME_num(general_names); ++i) {
        const GENERAL_NAME* entry = sk_GENERAL_NAME_value(general_names, i);
        if (entry->type == GEN_DNS) {
            const ASN1_STRING* text = entry->d.dNSName;
            names.Add(KL_String(reinterpret_cast<const char*>(ASN1_STRING_get0_data(text)),
                                static_cast<KL_Size>(ASN1_STRING_length(text))));
        }
    }
    GENERAL_NAMES_free(general_names);
}

} // namespace

KL_Result KL_TlsCertificateInfo::Read(const x509_st* certificate) {
    if (certificate == nullptr) {
        return KL_ERROR_INVALID_PARAMETERS;
    }
    ReadName(X509_get_subject_name(certificate), subject);
    ReadName(X509_get_issuer_name(certificate), issuer);
    Fingerprints(certificate, fingerprint);
    ReadDate(X509_get0_notBefore(certificate), issue_date);
    ReadDate(X509_get0_notAfter(certificate), expiration_date);
    ReadAlternateNames(certificate, alternate_names);
    return KL_SUCCESS;
}
