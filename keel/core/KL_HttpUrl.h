// KL_HttpUrl: a URL of scheme http or https, written without the scheme's default port.
#pragma once

#include "KL_Url.h"

class KL_HttpUrl : public KL_Url {
public:
    static constexpr uint16_t DEFAULT_PORT = 80;
    static constexpr uint16_t DEFAULT_SECURE_PORT = 443;

    KL_HttpUrl() = default;
    // A text that does not parse, or (unless ignore_scheme) names another scheme, leaves the
    // URL reset and so not valid (another scheme is cleared too).
    explicit KL_HttpUrl(const char* url, bool ignore_scheme = false);
    KL_HttpUrl(const char* host, uint16_t port, const char* path, const char* query = nullptr,
               const char* fragment = nullptr);
    KL_HttpUrl(const KL_HttpUrl& other) = default;
    KL_HttpUrl& operator=(const KL_HttpUrl& other) = default;
    ~KL_HttpUrl() override = default;

    // The scheme's default port: 80 for http, 443 for https, 0 for any other scheme.
    static uint16_t GetDefaultPort(SchemeId scheme_id);

    KL_String ToString(bool with_fragment = false) const override;
};
