#include "KL_Uri.h"

#include "KL_Utils.h"

#include <cstring>

// Each set is stored in the order the characters are listed for it.
const char* const KL_Uri::PathCharsToEncode = " !\"<>\\^`{|}?#[]";
const char* const KL_Uri::QueryCharsToEncode = " !\"<>\\^`{|}#[]";
const char* const KL_Uri::FragmentCharsToEncode = " !\"<>\\^`{|}[]";
const char* const KL_Uri::QueryFieldCharsToEncode = ";/?:@&=+$,\"#<>\\^`{|}";

namespace {

bool IsSchemeChar(char c) {
    return (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9') || c == '+' ||
           c == '-' || c == '.';
}

} // namespace

KL_Uri::SchemeId KL_Uri::GetSchemeId(const char* scheme) {
    if (scheme == nullptr) {
        return SCHEME_ID_UNKNOWN;
    }
    if (std::strcmp(scheme, "http") == 0) {
        return SCHEME_ID_HTTP;
    }
    if (std::strcmp(scheme, "https") == 0) {
        return SCHEME_ID_HTTPS;
    }
    return SCHEME_ID_UNKNOWN;
}

KL_Result KL_Uri::SetScheme(const char* scheme) {
    m_Scheme = scheme;
    m_Scheme.MakeLowercase();
    m_SchemeId = GetSchemeId(m_Scheme.GetChars());
    return KL_SUCCESS;
}

KL_Result KL_Uri::ParseScheme(const char* text) {
    if (text == nullptr) {
        return KL_ERROR_INVALID_SYNTAX;
    }
    const char* colon = text;
    while (*colon != ':') {
        if (*colon == '\0' || !IsSchemeChar(*colon)) {
            return KL_ERROR_INVALID_SYNTAX;
        }
        ++colon;
    }
    return SetScheme(KL_String(text, static_cast<KL_Size>(colon - text)).GetChars());
}

KL_String KL_Uri::PercentEncode(const char* text, const char* set, bool encode_percents) {
    KL_String result;
    if (text == nullptr) {
        return result;
    }
    // Which bytes are escaped, worked out once for the set; unchanged runs are appended whole.
    bool escaped_bytes[256] = {};
    for (int c = 0; c < 256; ++c) {
        escaped_bytes[c] = c < 0x20 || c > 0x7E;
    }
    escaped_bytes[static_cast<unsigned char>('%')] = encode_percents;
    for (const char* s = set; s != nullptr && *s != '\0'; ++s) {
        if (*s != '%') {
            escaped_bytes[static_cast<unsigned char>(*s)] = true;
        }
    }
    const KL_Size length = static_cast<KL_Size>(std::strlen(text));
    result.Reserve(length);
    const char* run = text;
    for (const char* p = text; *p != '\0'; ++p) {
        const unsigned char c = static_cast<unsigned char>(*p);
        if (escaped_bytes[c]) {
            result.Append(run, static_cast<KL_Size>(p - run));
            char escaped[3] = {'%'};
            KL_ByteToHex(c, escaped + 1, true);
            result.Append(escaped, 3);
            run = p + 1;
        }
    }
    result.Append(run);
    return result;
}

KL_String KL_Uri::PercentDecode(const char* text) {
    KL_String result;
    if (text == nullptr) {
        return result;
    }
    result.Reserve(static_cast<KL_Size>(std::strlen(text)));
    for (const char* p = text; *p != '\0'; ++p) {
        KL_Byte decoded = 0;
        if (*p == '%' && KL_SUCCEEDED(KL_HexToByte(p + 1, decoded))) {
            result.Append(reinterpret_cast<const char*>(&decoded), 1);
            p += 2;
        } else {
            result.Append(p, 1);
        }
    }
    return result;
}
