#pragma once

#include <algorithm>
#include <map>
#include <string>
#include <string_view>

namespace platform {

inline char asciiLower(char c) {
    return (c >= 'A' && c <= 'Z') ? static_cast<char>(c - 'A' + 'a') : c;
}

std::string asciiLowercase(std::string_view text);
bool equalsIgnoringCase(std::string_view a, std::string_view b);
bool hasPrefixIgnoringCase(std::string_view text, std::string_view prefix);

// Orders ASCII text without regard to case (for header names).
struct CaseInsensitiveLess {
    using is_transparent = void;
    bool operator()(std::string_view a, std::string_view b) const {
        return std::lexicographical_compare(a.begin(), a.end(), b.begin(), b.end(),
                                            [](char x, char y) { return asciiLower(x) < asciiLower(y); });
    }
};

// Header fields of a request: looked up without regard to the case of the name. A name sent twice
// keeps the values joined with ", ".
using HeaderDictionary = std::map<std::string, std::string, CaseInsensitiveLess>;

} // namespace platform
