#pragma once

#include <optional>
#include <span>
#include <string>
#include <string_view>

namespace platform {

// One entry of the compiled MIME table.
struct MimeTypeEntry {
    const char* extension; // lower case, without the dot
    const char* type;
};

// The compiled table, sorted by extension. It is generated from Debian's media-types list by
// scripts/generate-mime-types.py (with "css" → "text/css", "js" and "mjs" → "text/javascript" and a
// few media types added), so the build does not read /etc/mime.types.
std::span<const MimeTypeEntry> mimeTypeTable();

// The MIME type of a file extension (without the dot, any case); none when the table has none.
std::optional<std::string> mimeTypeForExtension(std::string_view extension);

} // namespace platform
