#pragma once

#include <cstddef>
#include <optional>
#include <string>
#include <string_view>

namespace platform {

// Character sets by their IANA names (and the aliases ICU knows), converted strictly: input that
// is not valid in its charset, or a character the target charset cannot hold, fails the whole
// conversion instead of being replaced.

// The preferred name of a charset for MIME ("latin1" → "ISO-8859-1", "utf8" → "UTF-8"), else its
// IANA name, else ICU's own; none when the name is empty or unknown.
std::optional<std::string> canonicalCharsetName(std::string_view name);

// Decodes bytes of `charset` into UTF-8 text; none when the charset is unknown or the bytes are
// not valid in it.
std::optional<std::string> decodeToUTF8(const void* bytes, std::size_t length, std::string_view charset);
inline std::optional<std::string> decodeToUTF8(std::string_view bytes, std::string_view charset) {
    return decodeToUTF8(bytes.data(), bytes.size(), charset);
}

// Encodes UTF-8 text into `charset`; none when the charset is unknown, the text is not valid
// UTF-8 or one of its characters has no form in the charset.
std::optional<std::string> encodeFromUTF8(std::string_view text, std::string_view charset);

} // namespace platform
