// KL_Uri: a URI's scheme (kept in lower case, with its id) and the percent-coding helpers.
#pragma once

#include "KL_Result.h"
#include "KL_String.h"

#include <cstdint>

class KL_Uri {
public:
    enum SchemeId : int32_t {
        SCHEME_ID_UNKNOWN = 0,
        SCHEME_ID_HTTP = 1,
        SCHEME_ID_HTTPS = 2,
    };

    // The characters each part of a URL escapes besides control bytes, bytes above 0x7E and,
    // on request, "%" itself.
    static const char* const PathCharsToEncode;       // 15 characters
    static const char* const QueryCharsToEncode;      // the path set without "?"
    static const char* const FragmentCharsToEncode;   // the query set without "#"
    static const char* const QueryFieldCharsToEncode; // 20 characters; a space becomes "+" later

    KL_Uri() = default;
    KL_Uri(const KL_Uri&) = default;
    KL_Uri& operator=(const KL_Uri&) = default;
    virtual ~KL_Uri() = default;

    static SchemeId GetSchemeId(const char* scheme);

    KL_Result SetScheme(const char* scheme);
    const KL_String& GetScheme() const { return m_Scheme; }
    SchemeId GetSchemeId() const { return m_SchemeId; }

    // Reads "scheme:" from the start of a URL text: KL_ERROR_INVALID_SYNTAX when the text has
    // no ":" or a character before it that a scheme may not hold.
    [[nodiscard]] KL_Result ParseScheme(const char* text);

    static KL_String PercentEncode(const char* text, const char* set, bool encode_percents = true);
    static KL_String PercentDecode(const char* text);

protected:
    KL_String m_Scheme;
    SchemeId m_SchemeId = SCHEME_ID_UNKNOWN;
};
