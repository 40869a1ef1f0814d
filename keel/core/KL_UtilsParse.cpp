// Number parsing and parameter lists.
#include "KL_Utils.h"

#include <cfloat>
#include <cmath>

namespace {
inline bool IsBlank(char c) {
    return c == ' ' || c == '\t';
}
inline bool IsDigit(char c) {
    return c >= '0' && c <= '9';
}

// Digits at p accumulated into an unsigned 64-bit value; limit is the largest value that may
// still take a digit. Stops at the end (strict) or the first non-digit (relaxed).
KL_Result ParseDigits(const char*& p, uint64_t& value, uint64_t limit, bool relaxed) {
    if (!IsDigit(*p)) {
        return KL_ERROR_INVALID_PARAMETERS;
    }
    value = 0;
    for (; *p != '\0'; ++p) {
        if (!IsDigit(*p)) {
            return relaxed ? KL_SUCCESS : KL_ERROR_INVALID_PARAMETERS;
        }
        if (value > limit) {
            return KL_ERROR_OVERFLOW;
        }
        uint64_t next = value * 10 + uint64_t(*p - '0');
        if (next < value * 10) {
            return KL_ERROR_OVERFLOW;
        }
        value = next;
    }
    return KL_SUCCESS;
}

const char* SkipBlanks(const char* p, bool relaxed) {
    while (relaxed && IsBlank(*p)) {
        ++p;
    }
    return p;
}

void SetUsed(KL_Size* chars_used, KL_Size count) {
    if (chars_used != nullptr) {
        *chars_used = count;
    }
}
} // namespace

KL_Result KL_ParseInteger64(const char* text, int64_t& value, bool relaxed, KL_Size* chars_used) {
    value = 0;
    SetUsed(chars_used, 0);
    if (text == nullptr) {
        return KL_ERROR_INVALID_PARAMETERS;
    }
    const char* p = SkipBlanks(text, relaxed);
    if (*p == '\0') {
        return KL_ERROR_INVALID_PARAMETERS;
    }
    bool negative = *p == '-';
    if (*p == '-' || *p == '+') {
        ++p;
    }
    uint64_t magnitude = 0;
    KL_Result result = ParseDigits(p, magnitude, 922337203685477580ull, relaxed);
    if (KL_FAILED(result)) {
        return result;
    }
    constexpr uint64_t kMinMagnitude = 0x8000000000000000ull;
    if (magnitude > kMinMagnitude || (magnitude == kMinMagnitude && !negative)) {
        return KL_ERROR_OVERFLOW;
    }
    value = negative ? int64_t(0 - magnitude) : int64_t(magnitude);
    SetUsed(chars_used, KL_Size(p - text));
    return KL_SUCCESS;
}

KL_Result KL_ParseInteger64U(const char* text, uint64_t& value, bool relaxed, KL_Size* chars_used) {
    value = 0;
    SetUsed(chars_used, 0);
    if (text == nullptr) {
        return KL_ERROR_INVALID_PARAMETERS;
    }
    const char* p = SkipBlanks(text, relaxed);
    if (*p == '\0') {
        return KL_ERROR_INVALID_PARAMETERS;
    }
    uint64_t parsed = 0;
    KL_Result result = ParseDigits(p, parsed, 0x1999999999999999ull, relaxed);
    if (KL_FAILED(result)) {
        return result;
    }
    value = parsed;
    SetUsed(chars_used, KL_Size(p - text));
    return KL_SUCCESS;
}

KL_Result KL_ParseInteger32(const char* text, int32_t& value, bool relaxed, KL_Size* chars_used) {
    int64_t wide = 0;
    value = 0;
    KL_Result result = KL_ParseInteger64(text, wide, relaxed, chars_used);
    if (KL_SUCCEEDED(result) && (wide < INT32_MIN || wide > INT32_MAX)) {
        SetUsed(chars_used, 0);
        return KL_ERROR_OVERFLOW;
    }
    value = int32_t(wide);
    return result;
}

KL_Result KL_ParseInteger32U(const char* text, uint32_t& value, bool relaxed, KL_Size* chars_used) {
    uint64_t wide = 0;
    value = 0;
    KL_Result result = KL_ParseInteger64U(text, wide, relaxed, chars_used);
    if (KL_SUCCEEDED(result) && wide > UINT32_MAX) {
        SetUsed(chars_used, 0);
        return KL_ERROR_OVERFLOW;
    }
    value = uint32_t(wide);
    return result;
}

KL_Result KL_ParseInteger(const char* text, int64_t& value, bool relaxed, KL_Size* chars_used) {
    return KL_ParseInteger64(text, value, relaxed, chars_used);
}

KL_Result KL_ParseIntegerU(const char* text, uint64_t& value, bool relaxed, KL_Size* chars_used) {
    return KL_ParseInteger64U(text, value, relaxed, chars_used);
}

namespace {
// The exponent after "e"/"E" at p: "+", "-" or a digit must follow; it must fit 32 bits.
KL_Result ParseExponent(const char* p, int32_t& exponent, bool relaxed) {
    if (!(p[0] == '+' || p[0] == '-' || IsDigit(p[0]))) {
        return KL_ERROR_INVALID_PARAMETERS;
    }
    int64_t wide = 0;
    KL_Result result = KL_ParseInteger64(p, wide, relaxed);
    if (KL_FAILED(result)) {
        return result;
    }
    if (wide < INT32_MIN || wide > INT32_MAX) {
        return KL_ERROR_OVERFLOW;
    }
    exponent = int32_t(wide);
    return KL_SUCCESS;
}
} // namespace

KL_Result KL_ParseFloat(const char* text, float& value, bool relaxed) {
    value = 0.0f;
    if (text == nullptr || *text == '\0') {
        return KL_ERROR_INVALID_PARAMETERS;
    }
    const char* p = SkipBlanks(text, relaxed);
    bool negative = *p == '-';
    if (*p == '-' || *p == '+') {
        ++p;
    }
    if (*p == '\0') {
        return KL_ERROR_INVALID_PARAMETERS;
    }
    float parsed = 0.0f;
    float divisor = 1.0f;
    bool after_point = false;
    bool any_digit = false;
    int32_t exponent = 0;
    for (; *p != '\0'; ++p) {
        if (IsDigit(*p)) {
            any_digit = true;
            if (after_point) {
                divisor *= 10.0f;
                parsed += float(*p - '0') / divisor;
            } else {
                parsed = parsed * 10.0f + float(*p - '0');
            }
        } else if (*p == '.') {
            if (after_point || !IsDigit(p[1])) {
                return KL_ERROR_INVALID_PARAMETERS;
            }
            after_point = true;
        } else if (*p == 'e' || *p == 'E') {
            KL_Result result = ParseExponent(p + 1, exponent, relaxed);
            if (KL_FAILED(result)) {
                return result;
            }
            break;
        } else if (relaxed) {
            break;
        } else {
            return KL_ERROR_INVALID_PARAMETERS;
        }
    }
    if (!any_digit) {
        return KL_ERROR_INVALID_PARAMETERS;
    }
    if (exponent != 0) {
        double scaled = double(parsed) * std::pow(10.0, double(exponent));
        // Beyond the float range the value is infinite (never an out-of-range conversion).
        parsed = scaled > double(FLT_MAX) ? HUGE_VALF : float(scaled);
    }
    value = negative ? -parsed : parsed;
    return KL_SUCCESS;
}
