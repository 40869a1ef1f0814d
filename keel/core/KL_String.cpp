// KL_String: storage, construction, assignment and building text.
#include "KL_String.h"

#include <cstdarg>
#include <cstdio>
#include <cstdlib>
#include <cstring>

namespace {
constexpr uint64_t kMaxLength = 0xFFFFFFFFu;

// The length of the text ending at the first NUL among the first length - 1 characters.
KL_Size LengthBeforeNul(const char* chars, KL_Size length) {
    const void* nul = std::memchr(chars, 0, length - 1);
    return nul ? KL_Size(static_cast<const char*>(nul) - chars) : length;
}

KL_Size TextLength(const char* text) {
    size_t length = std::strlen(text);
    return length > kMaxLength ? KL_Size(kMaxLength) : KL_Size(length);
}
} // namespace

char* KL_String::NewBlock(KL_Size allocated) {
    auto* header = static_cast<BlockHeader*>(std::malloc(size_t(allocated) + sizeof(BlockHeader) + 1));
    if (header == nullptr) {
        return nullptr;
    }
    header->m_Length = 0;
    header->m_Allocated = allocated;
    char* chars = reinterpret_cast<char*>(header + 1);
    chars[0] = '\0';
    return chars;
}

void KL_String::FreeBlock(char* chars) {
    if (chars != nullptr) {
        std::free(reinterpret_cast<BlockHeader*>(chars) - 1);
    }
}

void KL_String::SetStoredLength(KL_Size length) {
    Header()->m_Length = length;
    m_Chars[length] = '\0';
}

// Replaces the storage by a new block of exactly length characters copied from chars.
void KL_String::Adopt(const char* chars, KL_Size length) {
    char* block = NewBlock(length);
    if (block != nullptr) {
        std::memcpy(block, chars, length);
        reinterpret_cast<BlockHeader*>(block)[-1].m_Length = length;
        block[length] = '\0';
    }
    FreeBlock(m_Chars);
    m_Chars = block;
}

KL_String::KL_String(const char* text) {
    if (text != nullptr && text[0] != '\0') {
        Adopt(text, TextLength(text));
    }
}

KL_String::KL_String(const char* chars, KL_Size length) {
    if (chars != nullptr && length != 0) {
        length = LengthBeforeNul(chars, length);
        if (length != 0) {
            Adopt(chars, length);
        }
    }
}

KL_String::KL_String(char c, KL_Size count) {
    if (count != 0) {
        m_Chars = NewBlock(count);
        if (m_Chars != nullptr) {
            std::memset(m_Chars, c, count);
            SetStoredLength(count);
        }
    }
}

KL_String::KL_String(const KL_String& other) {
    if (other.GetLength() != 0) {
        Adopt(other.m_Chars, other.GetLength());
    }
}

KL_String::~KL_String() {
    FreeBlock(m_Chars);
}

void KL_String::Assign(const char* chars, KL_Size size) {
    if (chars == nullptr || size == 0 || (size = LengthBeforeNul(chars, size)) == 0) {
        FreeBlock(m_Chars);
        m_Chars = nullptr;
        return;
    }
    if (m_Chars != nullptr && Header()->m_Allocated >= size) {
        std::memmove(m_Chars, chars, size); // chars may lie inside this very block
        SetStoredLength(size);
        return;
    }
    uint64_t doubled = m_Chars ? 2 * uint64_t(Header()->m_Allocated) : 0;
    uint64_t allocated = doubled > size ? (doubled > kMaxLength ? kMaxLength : doubled) : size;
    char* block = NewBlock(KL_Size(allocated));
    if (block == nullptr) {
        return;
    }
    std::memcpy(block, chars, size);
    FreeBlock(m_Chars);
    m_Chars = block;
    SetStoredLength(size);
}

KL_String& KL_String::operator=(const KL_String& other) {
    if (this != &other) {
        Assign(other.m_Chars, other.GetLength());
    }
    return *this;
}

KL_String& KL_String::operator=(KL_String&& other) noexcept {
    if (this != &other) {
        FreeBlock(m_Chars);
        m_Chars = other.m_Chars;
        other.m_Chars = nullptr;
    }
    return *this;
}

KL_String& KL_String::operator=(const char* text) {
    if (text == nullptr || text[0] == '\0') {
        FreeBlock(m_Chars);
        m_Chars = nullptr;
    } else {
        Assign(text, TextLength(text));
    }
    return *this;
}

KL_String& KL_String::operator=(char c) {
    Assign(&c, 1);
    return *this;
}

KL_Result KL_String::Reserve(KL_Size allocated) {
    if (m_Chars != nullptr && Header()->m_Allocated >= allocated) {
        return KL_SUCCESS;
    }
    uint64_t size = allocated;
    if (m_Chars != nullptr) {
        uint64_t doubled = 2 * uint64_t(Header()->m_Allocated);
        size = doubled > size ? (doubled > kMaxLength ? kMaxLength : doubled) : size;
    }
    char* block = NewBlock(KL_Size(size));
    if (block == nullptr) {
        return KL_ERROR_OUT_OF_MEMORY;
    }
    if (m_Chars != nullptr) {
        KL_Size length = GetLength();
        std::memcpy(block, m_Chars, size_t(length) + 1);
        reinterpret_cast<BlockHeader*>(block)[-1].m_Length = length;
        FreeBlock(m_Chars);
    }
    m_Chars = block;
    return KL_SUCCESS;
}

KL_Result KL_String::SetLength(KL_Size length, bool pad) {
    if (length == 0) {
        FreeBlock(m_Chars);
        m_Chars = nullptr;
        return KL_SUCCESS;
    }
    KL_Size old_length = GetLength();
    KL_Result result = Reserve(length);
    if (KL_FAILED(result)) {
        return result;
    }
    // Without padding, the characters beyond the old length are what the storage holds (text
    // written through UseChars after Reserve is kept).
    if (pad && old_length < length) {
        std::memset(m_Chars + old_length, ' ', length - old_length);
    }
    SetStoredLength(length);
    return KL_SUCCESS;
}

void KL_String::Append(const char* chars, KL_Size count) {
    if (chars == nullptr || count == 0 || uint64_t(GetLength()) + count > kMaxLength) {
        return;
    }
    // Room enough: the block stays, so characters from inside it are still there to be moved.
    if (m_Chars != nullptr && Header()->m_Allocated - Header()->m_Length >= count) {
        const KL_Size length = Header()->m_Length;
        std::memmove(m_Chars + length, chars, count);
        SetStoredLength(length + count);
        return;
    }
    // The characters may lie inside this string's own block, which Reserve may replace.
    KL_String own_copy;
    if (m_Chars != nullptr && chars >= m_Chars && chars <= m_Chars + Header()->m_Allocated) {
        own_copy.Adopt(chars, count);
        chars = own_copy.m_Chars;
        if (chars == nullptr) {
            return;
        }
    }
    KL_Size length = GetLength();
    if (KL_FAILED(Reserve(length + count))) {
        return;
    }
    std::memcpy(m_Chars + length, chars, count);
    SetStoredLength(length + count);
}

void KL_String::Append(const char* text) {
    if (text != nullptr) {
        Append(text, TextLength(text));
    }
}

void KL_String::Insert(const char* text, KL_Index where) {
    KL_Size length = GetLength();
    if (text == nullptr || text[0] == '\0' || where > length) {
        return;
    }
    KL_Size text_length = TextLength(text);
    if (uint64_t(length) + text_length > kMaxLength) {
        return;
    }
    char* block = NewBlock(length + text_length);
    if (block == nullptr) {
        return;
    }
    std::memcpy(block, GetChars(), where);
    std::memcpy(block + where, text, text_length);
    std::memcpy(block + where + text_length, GetChars() + where, length - where);
    FreeBlock(m_Chars);
    m_Chars = block;
    SetStoredLength(length + text_length);
}

void KL_String::Erase(KL_Index start, KL_Size count) {
    KL_Size length = GetLength();
    if (uint64_t(start) + count > length) {
        if (start >= length) {
            return;
        }
        count = length - start;
    }
    if (count == 0) {
        return;
    }
    std::memmove(m_Chars + start, m_Chars + start + count, size_t(length - start - count) + 1);
    Header()->m_Length = length - count;
}

KL_String KL_String::Format(const char* format, ...) {
    KL_String text;
    // Print into the string's own storage, doubling its size (from 256) until the text fits.
    uint64_t size = 256;
    for (;;) {
        if (KL_FAILED(text.Reserve(KL_Size(size)))) {
            return KL_String();
        }
        va_list args;
        va_start(args, format);
        int printed = std::vsnprintf(text.m_Chars, size_t(size), format, args);
        va_end(args);
        if (printed < 0) {
            return KL_String();
        }
        if (uint64_t(printed) < size) {
            if (printed == 0) {
                return KL_String();
            }
            text.SetStoredLength(KL_Size(printed));
            return text;
        }
        while (size <= uint64_t(printed)) {
            size *= 2;
        }
        if (size > kMaxLength) {
            size = kMaxLength;
        }
    }
}

namespace {
// The decimal digits of value, written backwards from end; returns the first.
char* WriteDecimal(uint64_t value, char* end) {
    char* first = end;
    do {
        *--first = static_cast<char>('0' + value % 10);
        value /= 10;
    } while (value != 0);
    return first;
}
} // namespace

KL_String KL_String::FromInteger(int64_t value) {
    char digits[32];
    char* end = digits + sizeof digits;
    // The magnitude in unsigned arithmetic, so that the most negative value has one too.
    const uint64_t magnitude = value < 0 ? 0 - static_cast<uint64_t>(value) : static_cast<uint64_t>(value);
    char* first = WriteDecimal(magnitude, end);
    if (value < 0) {
        *--first = '-';
    }
    return KL_String(first, KL_Size(end - first));
}

KL_String KL_String::FromIntegerU(uint64_t value) {
    char digits[32];
    char* end = digits + sizeof digits;
    char* first = WriteDecimal(value, end);
    return KL_String(first, KL_Size(end - first));
}

namespace {
KL_String Concatenate(const char* a, KL_Size a_length, const char* b, KL_Size b_length) {
    KL_String result;
    uint64_t total = uint64_t(a_length) + b_length;
    if (total == 0 || total > kMaxLength || KL_FAILED(result.Reserve(KL_Size(total)))) {
        return result;
    }
    result.Append(a, a_length);
    result.Append(b, b_length);
    return result;
}
} // namespace

KL_String operator+(const KL_String& s1, const KL_String& s2) {
    return Concatenate(s1.GetChars(), s1.GetLength(), s2.GetChars(), s2.GetLength());
}

KL_String operator+(const KL_String& s, const char* text) {
    return Concatenate(s.GetChars(), s.GetLength(), text ? text : "", text ? TextLength(text) : 0);
}

KL_String operator+(const char* text, const KL_String& s) {
    return Concatenate(text ? text : "", text ? TextLength(text) : 0, s.GetChars(), s.GetLength());
}

KL_String operator+(const KL_String& s, char c) {
    return Concatenate(s.GetChars(), s.GetLength(), &c, 1);
}
