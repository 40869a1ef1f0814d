// KL_Url: scheme://host[:port]path[?query][#fragment], parsed, built and written back.
// Path, query and fragment are kept in their escaped form.
#pragma once

#include "KL_Uri.h"

#include <cstdint>

class KL_Url : public KL_Uri {
public:
    KL_Url();
    KL_Url(const char* url, uint16_t default_port);
    KL_Url(const char* scheme, const char* host, uint16_t port, const char* path, const char* query = nullptr,
           const char* fragment = nullptr);
    KL_Url(const KL_Url& other) = default;
    KL_Url& operator=(const KL_Url& other) = default;
    ~KL_Url() override = default;

    // KL_ERROR_INVALID_PARAMETERS for a null text, KL_ERROR_INVALID_SYNTAX for a malformed one.
    [[nodiscard]] KL_Result Parse(const char* url, uint16_t default_port = 0);
    void Reset();
    // Splits a request target path[?query][#fragment], kept as written.
    [[nodiscard]] KL_Result SetPathQueryFragment(const char* path_query_fragment);

    virtual bool IsValid() const;

    KL_Result SetHost(const char* host);
    KL_Result SetPort(uint16_t port);
    KL_Result SetPath(const char* path, bool encoded = false);
    KL_Result SetQuery(const char* query, bool encoded = false);
    KL_Result SetFragment(const char* fragment, bool encoded = false);

    const KL_String& GetHost() const { return m_Host; }
    uint16_t GetPort() const { return m_Port; }
    const KL_String& GetPath() const { return m_Path; }
    const KL_String& GetQuery() const { return m_Query; }
    const KL_String& GetFragment() const { return m_Fragment; }
    bool HasQuery() const { return m_HasQuery; }
    bool HasFragment() const { return m_HasFragment; }

    virtual KL_String ToRequestString(bool with_fragment = false) const;
    virtual KL_String ToStringWithDefaultPort(uint16_t default_port, bool with_fragment = false) const;
    virtual KL_String ToString(bool with_fragment = false) const;

protected:
    KL_String m_Host;
    uint16_t m_Port = 0;
    KL_String m_Path;
    bool m_HasQuery = false;
    KL_String m_Query;
    bool m_HasFragment = false;
    KL_String m_Fragment;

private:
    KL_Result ParseAuthority(const char* text);
};
