#pragma once

#include <map>
#include <optional>
#include <string>
#include <string_view>

namespace platform {

// A strings table: the localized texts of a resource bundle, one entry per line,
//
//     /* A comment */
//     "PROLOGUE" = "<p>Drop files here.</p>";
//     // Another comment
//     "FOOTER_FORMAT" = "%@ %@";
//
// Keys and values are double-quoted texts with C-style escapes (\n, \t, \r, \", \\, \', octal
// \NNN and \uXXXX / \UXXXX, surrogate pairs joined) or bare words of letters, digits and "_$.:/-".
// An entry written as a key alone ("KEY";) maps the key to itself. The file is UTF-8 (an initial
// byte-order mark is skipped) or UTF-16 with a byte-order mark. A later duplicate key replaces an
// earlier one.
class StringsFile {
public:
    using Table = std::map<std::string, std::string>;

    // The entries of a strings text; none when it is malformed (then `errorMessage`, when given,
    // tells what and on which line).
    static std::optional<Table> parse(std::string_view text, std::string* errorMessage = nullptr);
    // Reads and parses a strings file; none when it cannot be read or is malformed.
    static std::optional<Table> read(const std::string& path, std::string* errorMessage = nullptr);
};

} // namespace platform
