// KL_String: the runtime's text type, a value type holding one pointer. The pointer is null for
// the empty string, else it points at the first character of a heap block laid out as
// [length u32][allocated u32][characters][NUL]. Characters are bytes; case folding touches only
// ASCII letters. GetLength is authoritative; search, comparison and case operations stop at the
// first NUL. Positions are 0-based; searches answer -1 when nothing is found.
//
// There is no implicit conversion to const char*: pass GetChars() where a text is expected.
#pragma once

#include "KL_Array.h"
#include "KL_List.h"
#include "KL_Result.h"
#include "KL_Types.h"

class KL_String {
public:
    KL_String() = default;
    KL_String(const char* text); // NOLINT: implicit, a text literal is a string
    // The string ends at the first NUL among the first length - 1 characters, else holds exactly
    // length characters.
    KL_String(const char* chars, KL_Size length);
    KL_String(char c, KL_Size count);
    KL_String(const KL_String& other);
    KL_String(KL_String&& other) noexcept : m_Chars(other.m_Chars) { other.m_Chars = nullptr; }
    ~KL_String();

    KL_String& operator=(const KL_String& other);
    KL_String& operator=(KL_String&& other) noexcept;
    KL_String& operator=(const char* text);
    KL_String& operator=(char c);
    // Assigns (chars, size) with the same NUL rule as the (chars, length) constructor.
    void Assign(const char* chars, KL_Size size);

    // Accessors.
    const char* GetChars() const { return m_Chars ? m_Chars : EmptyText(); }
    // Writable characters; null while the string has no block (Reserve first).
    char* UseChars() { return m_Chars; }
    KL_Size GetLength() const { return m_Chars ? Header()->m_Length : 0; }
    KL_Size GetCapacity() const { return m_Chars ? Header()->m_Allocated : 0; }
    bool IsEmpty() const { return GetLength() == 0; }
    // The character at a position below the length.
    char operator[](KL_Index position) const { return m_Chars[position]; }
    char& operator[](KL_Index position) { return m_Chars[position]; }

    // Size management.
    KL_Result Reserve(KL_Size allocated);
    KL_Result SetLength(KL_Size length, bool pad = false);

    // Building text.
    void Append(const char* chars, KL_Size count);
    void Append(const char* text);
    void Append(const KL_String& other) { Append(other.m_Chars, other.GetLength()); }
    KL_String& operator+=(const KL_String& other) {
        Append(other);
        return *this;
    }
    KL_String& operator+=(const char* text) {
        Append(text);
        return *this;
    }
    KL_String& operator+=(char c) {
        Append(&c, 1);
        return *this;
    }
    void Insert(const char* text, KL_Index where = 0);
    void Erase(KL_Index start, KL_Size count = 1);
    static KL_String Format(const char* format, ...) __attribute__((format(printf, 1, 2)));
    static KL_String FromInteger(int64_t value);
    static KL_String FromIntegerU(uint64_t value);

    // Comparison: byte-wise, the difference of the first differing characters as signed 8-bit
    // values; ignoring case folds a-z to A-Z first.
    static int Compare(const char* s1, const char* s2, bool ignore_case = false);
    int Compare(const char* text, bool ignore_case = false) const;
    int CompareN(const char* text, KL_Size n, bool ignore_case = false) const;
    bool StartsWith(const char* text, bool ignore_case = false) const;
    bool EndsWith(const char* text, bool ignore_case = false) const;
    bool operator==(const KL_String& other) const { return Compare(other.GetChars()) == 0; }
    bool operator==(const char* text) const { return Compare(text ? text : "") == 0; }
    bool operator<(const KL_String& other) const { return Compare(other.GetChars()) < 0; }

    // Search.
    int Find(const char* text, KL_Index start = 0, bool ignore_case = false) const;
    int Find(char c, KL_Index start = 0, bool ignore_case = false) const;
    int FindAny(const char* chars, KL_Index start = 0, bool ignore_case = false) const;
    int ReverseFind(const char* text, KL_Index start = 0, bool ignore_case = false) const;
    int ReverseFind(char c, KL_Index start = 0, bool ignore_case = false) const;

    // Pieces.
    KL_String SubString(KL_Index first, KL_Size length = 0xFFFFFFFFu) const;
    KL_String Left(KL_Size length) const { return SubString(0, length); }
    KL_String Right(KL_Size length) const {
        return length >= GetLength() ? *this : SubString(GetLength() - length, length);
    }
    KL_List<KL_String> Split(const char* separator) const;
    KL_Array<KL_String> SplitAny(const char* separators) const;
    static KL_String Join(const KL_List<KL_String>& list, const char* separator);

    // Case and replacement.
    void MakeLowercase();
    void MakeUppercase();
    KL_String ToLowercase() const;
    KL_String ToUppercase() const;
    void Replace(char a, char b);
    void Replace(char c, const char* text);
    void Replace(const char* a, const char* b);

    // Trimming, in place; the default set is "\r\n\t ".
    KL_String& TrimLeft();
    KL_String& TrimLeft(char c);
    KL_String& TrimLeft(const char* chars);
    KL_String& TrimRight();
    KL_String& TrimRight(char c);
    KL_String& TrimRight(const char* chars);
    KL_String& Trim();
    KL_String& Trim(char c);
    KL_String& Trim(const char* chars);

    // Conversions through KL_ParseInteger*/KL_ParseFloat; on failure value is 0.
    KL_Result ToInteger(int32_t& value, bool relaxed) const;
    KL_Result ToInteger(uint32_t& value, bool relaxed) const;
    KL_Result ToInteger(int64_t& value, bool relaxed) const;
    KL_Result ToInteger(uint64_t& value, bool relaxed) const;
    KL_Result ToFloat(float& value, bool relaxed) const;

    // FNV-1a (text forms, standard offset bases).
    uint32_t GetHash32() const;
    uint64_t GetHash64() const;

private:
    struct BlockHeader {
        uint32_t m_Length;
        uint32_t m_Allocated;
    };
    static const char* EmptyText() { return ""; }
    BlockHeader* Header() const { return reinterpret_cast<BlockHeader*>(m_Chars) - 1; }
    static char* NewBlock(KL_Size allocated);
    static void FreeBlock(char* chars);
    void SetStoredLength(KL_Size length);
    void Adopt(const char* chars, KL_Size length);
    KL_String& TrimLeftSet(const char* chars);
    KL_String& TrimRightSet(const char* chars);

    char* m_Chars = nullptr;
};

KL_String operator+(const KL_String& s1, const KL_String& s2);
KL_String operator+(const KL_String& s, const char* text);
KL_String operator+(const char* text, const KL_String& s);
KL_String operator+(const KL_String& s, char c);

// Finder for KL_ContainerFind and KL_List::Find over strings.
class KL_StringFinder {
public:
    explicit KL_StringFinder(const char* value, bool ignore_case = false)
        : m_Value(value), m_IgnoreCase(ignore_case) {}
    bool operator()(const KL_String& s) const { return s.Compare(m_Value, m_IgnoreCase) == 0; }

private:
    const char* m_Value;
    bool m_IgnoreCase;
};

// Compares at most n characters; both texts ending at the same position before n is equal.
int KL_CompareStringsN(const char* s1, const char* s2, KL_Size n, bool ignore_case = false);
