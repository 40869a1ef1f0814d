#include "KL_UrlQuery.h"

#include "KL_Uri.h"

KL_UrlQuery::KL_UrlQuery(const char* query) {
    Parse(query);
}

KL_UrlQuery::~KL_UrlQuery() {
    Clear();
}

KL_Result KL_UrlQuery::Parse(const char* query) {
    if (query == nullptr) {
        return KL_SUCCESS;
    }
    KL_String name;
    KL_String value;
    bool in_value = false;
    for (const char* p = query;; ++p) {
        if (*p == '&' || *p == '\0') {
            if (!name.IsEmpty()) {
                AddField(name.GetChars(), value.GetChars(), true);
            }
            name = KL_String();
            value = KL_String();
            in_value = false;
            if (*p == '\0') {
                break;
            }
        } else if (*p == '=' && !in_value) {
            in_value = true;
        } else {
            (in_value ? value : name).Append(p, 1);
        }
    }
    return KL_SUCCESS;
}

KL_String KL_UrlQuery::UrlEncode(const char* text, bool encode_percents) {
    KL_String encoded = KL_Uri::PercentEncode(text, KL_Uri::QueryFieldCharsToEncode, encode_percents);
    encoded.Replace(' ', '+');
    return encoded;
}

KL_String KL_UrlQuery::UrlDecode(const char* text) {
    KL_String plain(text);
    plain.Replace('+', ' ');
    return KL_Uri::PercentDecode(plain.GetChars());
}

KL_Result KL_UrlQuery::AddField(const char* name, const char* value, bool encoded) {
    Field* field = encoded ? new Field(name, value)
                           : new Field(UrlEncode(name, true).GetChars(), UrlEncode(value, true).GetChars());
    const KL_Result result = m_Fields.Add(field);
    if (KL_FAILED(result)) {
        delete field;
    }
    return result;
}

KL_UrlQuery::Field* KL_UrlQuery::FindField(const char* encoded_name) const {
    for (Field* field : m_Fields) {
        if (field->m_Name == encoded_name) {
            return field;
        }
    }
    return nullptr;
}

KL_Result KL_UrlQuery::SetField(const char* name, const char* value, bool encoded) {
    Field* field = FindField(encoded ? name : UrlEncode(name, true).GetChars());
    if (field == nullptr) {
        return AddField(name, value, encoded);
    }
    field->m_Value = encoded ? KL_String(value) : UrlEncode(value, true);
    return KL_SUCCESS;
}

const char* KL_UrlQuery::GetField(const char* name) const {
    const Field* field = FindField(UrlEncode(name, true).GetChars());
    return field != nullptr ? field->m_Value.GetChars() : nullptr;
}

KL_String KL_UrlQuery::ToString() const {
    KL_String result;
    for (const Field* field : m_Fields) {
        if (!result.IsEmpty()) {
            result += "&";
        }
        result += field->m_Name;
        result += "=";
        result += field->m_Value;
    }
    return result;
}

void KL_UrlQuery::Clear() {
    for (Field* field : m_Fields) {
        delete field;
    }
    m_Fields.Clear();
}
