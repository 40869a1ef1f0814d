#pragma once

#include <cstdint>
#include <string_view>

// Small scanning helpers for text kept as UTF-8 bytes.
namespace platform {

// The value of one hexadecimal digit, or -1.
int hexDigitValue(char c);

// The leading decimal integer of a text: white space skipped, an optional sign, then digits; 0 when
// the text does not begin with a number. Values out of range saturate.
std::int64_t leadingInteger(std::string_view text);

// True when the bytes are UTF-8 text: no stray or missing continuation bytes, no overlong forms,
// no surrogates, nothing above U+10FFFF.
bool isValidUTF8(std::string_view text);

} // namespace platform
