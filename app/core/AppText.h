#pragma once

#include <cstdint>
#include <string>
#include <string_view>

// Small text helpers shared by the application's stores and utilities.
namespace lanyard {

// The leading decimal integer of the text: white space skipped, an optional sign, then digits;
// 0 when the text does not begin with a number. Values out of range saturate.
std::int32_t intValueOfText(std::string_view text);
std::int64_t longLongValueOfText(std::string_view text);

// True when the bytes are well-formed UTF-8.
bool isValidUtf8(std::string_view text);

// Unicode case mappings that do not depend on the locale.
std::string lowercasedText(std::string_view text);
std::string uppercasedText(std::string_view text);

} // namespace lanyard
