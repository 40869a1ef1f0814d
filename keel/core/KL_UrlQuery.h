// KL_UrlQuery: a query as an ordered list of name/value fields, both kept URL-encoded.
#pragma once

#include "KL_List.h"
#include "KL_Result.h"
#include "KL_String.h"

class KL_UrlQuery {
public:
    class Field {
    public:
        Field(const char* name, const char* value) : m_Name(name), m_Value(value) {}
        KL_String m_Name;
        KL_String m_Value;
    };

    KL_UrlQuery() = default;
    explicit KL_UrlQuery(const char* query);
    KL_UrlQuery(const KL_UrlQuery&) = delete;
    KL_UrlQuery& operator=(const KL_UrlQuery&) = delete;
    ~KL_UrlQuery();

    // Splits name=value pairs at "&"; fields without a name are dropped. Always succeeds.
    KL_Result Parse(const char* query);

    static KL_String UrlEncode(const char* text, bool encode_percents = true);
    static KL_String UrlDecode(const char* text);

    KL_Result AddField(const char* name, const char* value, bool encoded = false);
    KL_Result SetField(const char* name, const char* value, bool encoded = false);
    // The encoded value of the first field of that name, or null when there is none.
    const char* GetField(const char* name) const;
    KL_String ToString() const;
    void Clear();

    const KL_List<Field*>& GetFields() const { return m_Fields; }

private:
    Field* FindField(const char* encoded_name) const;

    KL_List<Field*> m_Fields;
};
