#include "KL_Url.h"

#include <cstdio>
#include <cstring>

namespace {

void AppendText(KL_String& target, const char* text) {
    if (text != nullptr) {
        target.Append(text, static_cast<KL_Size>(std::strlen(text)));
    }
}

void AppendString(KL_String& target, const KL_String& text) {
    target.Append(text.GetChars(), text.GetLength());
}

// A strict unsigned 32-bit decimal number: digits only, nothing before or after them.
bool ParseDecimal32(const char* text, uint32_t& value) {
    uint64_t number = 0;
    if (*text == '\0') {
        return false;
    }
    for (const char* p = text; *p != '\0'; ++p) {
        if (*p < '0' || *p > '9') {
            return false;
        }
        number = number * 10 + static_cast<uint64_t>(*p - '0');
        if (number > 0xFFFFFFFFull) {
            return false;
        }
    }
    value = static_cast<uint32_t>(number);
    return true;
}

bool IsHostDelimiter(char c) {
    return c == '\0' || c == '#' || c == '/' || c == ':' || c == '?';
}

} // namespace

KL_Url::KL_Url() : m_Path("/") {}

KL_Url::KL_Url(const char* url, uint16_t default_port) {
    if (KL_FAILED(Parse(url, default_port))) {
        Reset();
    }
}

KL_Url::KL_Url(const char* scheme, const char* host, uint16_t port, const char* path, const char* query,
               const char* fragment)
    : m_Host(host), m_Port(port), m_Path(path), m_HasQuery(query != nullptr), m_Query(query),
      m_HasFragment(fragment != nullptr), m_Fragment(fragment) {
    SetScheme(scheme);
}

KL_Result KL_Url::Parse(const char* url, uint16_t default_port) {
    if (url == nullptr) {
        return KL_ERROR_INVALID_PARAMETERS;
    }
    KL_Result result = ParseScheme(url);
    if (KL_FAILED(result)) {
        return result;
    }
    if (default_port != 0) {
        m_Port = default_port;
    } else if (m_SchemeId == SCHEME_ID_HTTP) {
        m_Port = 80;
    } else if (m_SchemeId == SCHEME_ID_HTTPS) {
        m_Port = 443;
    }
    const char* rest = std::strchr(url, ':') + 1;
    if (rest[0] != '/' || rest[1] != '/') {
        return KL_ERROR_INVALID_SYNTAX;
    }
    return ParseAuthority(rest + 2);
}

// Host, optional port, then the request target that follows them.
KL_Result KL_Url::ParseAuthority(const char* text) {
    const char* p = text;
    while (!IsHostDelimiter(*p)) {
        ++p;
    }
    m_Host = KL_String(text, static_cast<KL_Size>(p - text));
    if (*p == ':') {
        uint32_t port = 0;
        for (++p; *p >= '0' && *p <= '9'; ++p) {
            port = port * 10 + static_cast<uint32_t>(*p - '0');
            if (port > 0xFFFF) {
                m_Port = 0;
                return KL_ERROR_INVALID_SYNTAX;
            }
        }
        if (*p != '/' && *p != '\0') {
            m_Port = 0;
            return KL_ERROR_INVALID_SYNTAX;
        }
        m_Port = static_cast<uint16_t>(port);
    }
    if (*p == '\0') {
        m_Path = "/";
        m_Query = KL_String();
        m_HasQuery = false;
        m_Fragment = KL_String();
        m_HasFragment = false;
        return KL_SUCCESS;
    }
    return SetPathQueryFragment(p);
}

void KL_Url::Reset() {
    m_Host = KL_String();
    m_Port = 0;
    m_Path = KL_String();
    m_Query = KL_String();
    m_HasQuery = false;
    m_Fragment = KL_String();
    m_HasFragment = false;
}

KL_Result KL_Url::SetPathQueryFragment(const char* path_query_fragment) {
    if (path_query_fragment == nullptr) {
        return KL_ERROR_INVALID_PARAMETERS;
    }
    m_Query = KL_String();
    m_HasQuery = false;
    m_Fragment = KL_String();
    m_HasFragment = false;
    const char* p = path_query_fragment;
    const char* end = p + std::strcspn(p, "?#");
    m_Path = KL_String(p, static_cast<KL_Size>(end - p));
    if (*end == '?') {
        p = end + 1;
        end = p + std::strcspn(p, "#");
        m_HasQuery = true;
        m_Query = KL_String(p, static_cast<KL_Size>(end - p));
    }
    if (*end == '#') {
        m_HasFragment = true;
        m_Fragment = end + 1;
    }
    return KL_SUCCESS;
}

bool KL_Url::IsValid() const {
    if (m_SchemeId == SCHEME_ID_HTTP || m_SchemeId == SCHEME_ID_HTTPS) {
        return m_Port != 0 && !m_Host.IsEmpty();
    }
    return !m_Scheme.IsEmpty();
}

KL_Result KL_Url::SetHost(const char* host) {
    const char* colon = host != nullptr ? std::strchr(host, ':') : nullptr;
    if (colon == nullptr) {
        m_Host = host;
        return KL_SUCCESS;
    }
    m_Host = KL_String(host, static_cast<KL_Size>(colon - host));
    uint32_t port = 0;
    // A number that does not fit a port leaves the port as it was, like one that does not parse.
    if (ParseDecimal32(colon + 1, port) && port <= 0xFFFF) {
        m_Port = static_cast<uint16_t>(port);
    }
    return KL_SUCCESS;
}

KL_Result KL_Url::SetPort(uint16_t port) {
    m_Port = port;
    return KL_SUCCESS;
}

KL_Result KL_Url::SetPath(const char* path, bool encoded) {
    m_Path = encoded ? KL_String(path) : PercentEncode(path, PathCharsToEncode, true);
    return KL_SUCCESS;
}

KL_Result KL_Url::SetQuery(const char* query, bool encoded) {
    m_Query = encoded ? KL_String(query) : PercentEncode(query, QueryCharsToEncode, true);
    m_HasQuery = query != nullptr && query[0] != '\0';
    return KL_SUCCESS;
}

KL_Result KL_Url::SetFragment(const char* fragment, bool encoded) {
    m_Fragment = encoded ? KL_String(fragment) : PercentEncode(fragment, FragmentCharsToEncode, true);
    m_HasFragment = fragment != nullptr;
    return KL_SUCCESS;
}

KL_String KL_Url::ToRequestString(bool with_fragment) const {
    KL_String result;
    if (m_Path.IsEmpty()) {
        result = "/";
    } else {
        result = m_Path;
    }
    if (m_HasQuery) {
        AppendText(result, "?");
        AppendString(result, m_Query);
    }
    if (with_fragment && m_HasFragment) {
        AppendText(result, "#");
        AppendString(result, m_Fragment);
    }
    return result;
}

KL_String KL_Url::ToStringWithDefaultPort(uint16_t default_port, bool with_fragment) const {
    KL_String result = m_Scheme;
    AppendText(result, "://");
    AppendString(result, m_Host);
    if (m_Port != default_port) {
        char port[8];
        std::snprintf(port, sizeof port, ":%u", static_cast<unsigned>(m_Port));
        AppendText(result, port);
    }
    AppendString(result, ToRequestString(with_fragment));
    return result;
}

KL_String KL_Url::ToString(bool with_fragment) const {
    return ToStringWithDefaultPort(0, with_fragment);
}
