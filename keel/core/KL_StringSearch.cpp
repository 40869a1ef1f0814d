// KL_String: comparison, search, pieces, case, replacement, trimming and conversions.
#include "KL_String.h"
#include "KL_Utils.h"

#include <cstring>

namespace {
const char* const kWhitespace = "\r\n\t ";

inline char Fold(char c, bool ignore_case) {
    return (ignore_case && c >= 'a' && c <= 'z') ? char(c - 'a' + 'A') : c;
}

inline int Difference(char c1, char c2) {
    return int(static_cast<signed char>(c1)) - int(static_cast<signed char>(c2));
}

// Whether text matches the characters at s (which stop at their NUL).
bool MatchesAt(const char* s, const char* text, bool ignore_case) {
    for (; *text != '\0'; ++s, ++text) {
        if (*s == '\0' || Fold(*s, ignore_case) != Fold(*text, ignore_case)) {
            return false;
        }
    }
    return true;
}

bool InSet(char c, const char* set) {
    return c != '\0' && std::strchr(set, c) != nullptr;
}
} // namespace

int KL_String::Compare(const char* s1, const char* s2, bool ignore_case) {
    s1 = s1 ? s1 : "";
    s2 = s2 ? s2 : "";
    for (;; ++s1, ++s2) {
        char c1 = Fold(*s1, ignore_case);
        char c2 = Fold(*s2, ignore_case);
        if (c1 != c2 || c1 == '\0') {
            return Difference(c1, c2);
        }
    }
}

int KL_CompareStringsN(const char* s1, const char* s2, KL_Size n, bool ignore_case) {
    s1 = s1 ? s1 : "";
    s2 = s2 ? s2 : "";
    for (KL_Size i = 0; i < n; ++i) {
        char c1 = Fold(s1[i], ignore_case);
        char c2 = Fold(s2[i], ignore_case);
        if (c1 != c2 || c1 == '\0') {
            return Difference(c1, c2);
        }
    }
    return 0;
}

int KL_String::Compare(const char* text, bool ignore_case) const {
    return Compare(GetChars(), text, ignore_case);
}

int KL_String::CompareN(const char* text, KL_Size n, bool ignore_case) const {
    return KL_CompareStringsN(GetChars(), text, n, ignore_case);
}

bool KL_String::StartsWith(const char* text, bool ignore_case) const {
    return text != nullptr && MatchesAt(GetChars(), text, ignore_case);
}

bool KL_String::EndsWith(const char* text, bool ignore_case) const {
    if (text == nullptr) {
        return false;
    }
    size_t text_length = std::strlen(text);
    if (text_length > GetLength()) {
        return false;
    }
    return KL_CompareStringsN(GetChars() + GetLength() - text_length, text, KL_Size(text_length),
                              ignore_case) == 0;
}

int KL_String::Find(const char* text, KL_Index start, bool ignore_case) const {
    if (text == nullptr || start >= GetLength()) {
        return -1;
    }
    if (text[0] == '\0') {
        return int(start);
    }
    for (const char* s = GetChars() + start; *s != '\0'; ++s) {
        if (MatchesAt(s, text, ignore_case)) {
            return int(s - GetChars());
        }
    }
    return -1;
}

int KL_String::Find(char c, KL_Index start, bool ignore_case) const {
    if (start >= GetLength()) {
        return -1;
    }
    c = Fold(c, ignore_case);
    for (const char* s = GetChars() + start; *s != '\0'; ++s) {
        if (Fold(*s, ignore_case) == c) {
            return int(s - GetChars());
        }
    }
    return -1;
}

int KL_String::FindAny(const char* chars, KL_Index start, bool ignore_case) const {
    if (chars == nullptr || start >= GetLength()) {
        return -1;
    }
    for (const char* s = GetChars() + start; *s != '\0'; ++s) {
        for (const char* c = chars; *c != '\0'; ++c) {
            if (Fold(*s, ignore_case) == Fold(*c, ignore_case)) {
                return int(s - GetChars());
            }
        }
    }
    return -1;
}

int KL_String::ReverseFind(const char* text, KL_Index start, bool ignore_case) const {
    if (text == nullptr || text[0] == '\0') {
        return -1;
    }
    int64_t i = int64_t(GetLength()) - int64_t(start) - int64_t(std::strlen(text));
    for (; i >= 0; --i) {
        if (MatchesAt(GetChars() + i, text, ignore_case)) {
            return int(i);
        }
    }
    return -1;
}

int KL_String::ReverseFind(char c, KL_Index start, bool ignore_case) const {
    int64_t i = int64_t(GetLength()) - int64_t(start) - 1;
    c = Fold(c, ignore_case);
    for (; i >= 0; --i) {
        if (Fold(GetChars()[i], ignore_case) == c) {
            return int(i);
        }
    }
    return -1;
}

KL_String KL_String::SubString(KL_Index first, KL_Size length) const {
    if (first >= GetLength()) {
        return KL_String();
    }
    KL_Size available = GetLength() - first;
    return KL_String(GetChars() + first, length < available ? length : available);
}

KL_List<KL_String> KL_String::Split(const char* separator) const {
    KL_List<KL_String> pieces;
    if (separator == nullptr || separator[0] == '\0') {
        pieces.Add(*this);
        return pieces;
    }
    KL_Size separator_length = KL_Size(std::strlen(separator));
    KL_Index current = 0;
    for (int found; (found = Find(separator, current)) >= 0; current = KL_Index(found) + separator_length) {
        pieces.Add(SubString(current, KL_Index(found) - current));
    }
    pieces.Add(SubString(current));
    return pieces;
}

KL_Array<KL_String> KL_String::SplitAny(const char* separators) const {
    KL_Array<KL_String> pieces(GetLength() / 2 + 1);
    if (separators == nullptr || separators[0] == '\0') {
        pieces.Add(*this);
        return pieces;
    }
    KL_Index current = 0;
    for (int found; (found = FindAny(separators, current)) >= 0; current = KL_Index(found) + 1) {
        pieces.Add(SubString(current, KL_Index(found) - current));
    }
    pieces.Add(SubString(current));
    return pieces;
}

KL_String KL_String::Join(const KL_List<KL_String>& list, const char* separator) {
    KL_String joined;
    for (KL_List<KL_String>::Iterator it = list.GetFirstItem(); it; ++it) {
        if (it != list.GetFirstItem()) {
            joined.Append(separator);
        }
        joined.Append(*it);
    }
    return joined;
}

void KL_String::MakeLowercase() {
    for (char* s = m_Chars; s != nullptr && *s != '\0'; ++s) {
        if (*s >= 'A' && *s <= 'Z') {
            *s = char(*s - 'A' + 'a');
        }
    }
}

void KL_String::MakeUppercase() {
    for (char* s = m_Chars; s != nullptr && *s != '\0'; ++s) {
        *s = Fold(*s, true);
    }
}

KL_String KL_String::ToLowercase() const {
    KL_String copy(*this);
    copy.MakeLowercase();
    return copy;
}

KL_String KL_String::ToUppercase() const {
    KL_String copy(*this);
    copy.MakeUppercase();
    return copy;
}

void KL_String::Replace(char a, char b) {
    if (a == '\0' || b == '\0') {
        return;
    }
    for (KL_Size i = 0; i < GetLength(); ++i) {
        if (m_Chars[i] == a) {
            m_Chars[i] = b;
        }
    }
}

void KL_String::Replace(char c, const char* text) {
    if (IsEmpty() || c == '\0' || text == nullptr) {
        return;
    }
    if (text[0] != '\0' && text[1] == '\0') {
        Replace(c, text[0]);
        return;
    }
    KL_String rebuilt;
    for (KL_Size i = 0; i < GetLength(); ++i) {
        if (m_Chars[i] == c) {
            rebuilt.Append(text);
        } else {
            rebuilt.Append(&m_Chars[i], 1);
        }
    }
    *this = std::move(rebuilt);
}

void KL_String::Replace(const char* a, const char* b) {
    if (a == nullptr || a[0] == '\0' || IsEmpty()) {
        return;
    }
    KL_Size a_length = KL_Size(std::strlen(a));
    KL_String rebuilt;
    KL_Index current = 0;
    for (int found; (found = Find(a, current)) >= 0; current = KL_Index(found) + a_length) {
        rebuilt.Append(GetChars() + current, KL_Index(found) - current);
        rebuilt.Append(b);
    }
    if (current == 0) {
        return;
    }
    rebuilt.Append(GetChars() + current, GetLength() - current);
    *this = std::move(rebuilt);
}

KL_String& KL_String::TrimLeftSet(const char* chars) {
    KL_Size count = 0;
    while (count < GetLength() && InSet(m_Chars[count], chars)) {
        ++count;
    }
    if (count == GetLength()) {
        return *this = KL_String();
    }
    Erase(0, count);
    return *this;
}

KL_String& KL_String::TrimRightSet(const char* chars) {
    KL_Size length = GetLength();
    while (length > 0 && InSet(m_Chars[length - 1], chars)) {
        --length;
    }
    if (length != GetLength()) {
        SetLength(length);
    }
    return *this;
}

KL_String& KL_String::TrimLeft() {
    return TrimLeftSet(kWhitespace);
}
KL_String& KL_String::TrimLeft(char c) {
    const char set[2] = {c, '\0'};
    return TrimLeftSet(set);
}
KL_String& KL_String::TrimLeft(const char* chars) {
    return chars ? TrimLeftSet(chars) : *this;
}
KL_String& KL_String::TrimRight() {
    return TrimRightSet(kWhitespace);
}
KL_String& KL_String::TrimRight(char c) {
    const char set[2] = {c, '\0'};
    return TrimRightSet(set);
}
KL_String& KL_String::TrimRight(const char* chars) {
    return chars ? TrimRightSet(chars) : *this;
}
KL_String& KL_String::Trim() {
    return TrimLeft().TrimRight();
}
KL_String& KL_String::Trim(char c) {
    return TrimLeft(c).TrimRight(c);
}
KL_String& KL_String::Trim(const char* chars) {
    return TrimLeft(chars).TrimRight(chars);
}

KL_Result KL_String::ToInteger(int32_t& value, bool relaxed) const {
    return KL_ParseInteger32(GetChars(), value, relaxed);
}
KL_Result KL_String::ToInteger(uint32_t& value, bool relaxed) const {
    return KL_ParseInteger32U(GetChars(), value, relaxed);
}
KL_Result KL_String::ToInteger(int64_t& value, bool relaxed) const {
    return KL_ParseInteger64(GetChars(), value, relaxed);
}
KL_Result KL_String::ToInteger(uint64_t& value, bool relaxed) const {
    return KL_ParseInteger64U(GetChars(), value, relaxed);
}
KL_Result KL_String::ToFloat(float& value, bool relaxed) const {
    return KL_ParseFloat(GetChars(), value, relaxed);
}

uint32_t KL_String::GetHash32() const {
    return KL_Fnv1aHashStr32(GetChars());
}
uint64_t KL_String::GetHash64() const {
    return KL_Fnv1aHashStr64(GetChars());
}
