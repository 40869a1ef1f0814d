#pragma once

#include <optional>
#include <string>
#include <string_view>

namespace platform {

// Standard alphabet with "=" padding and no line breaks.
std::string base64Encode(std::string_view bytes);
// None when the text is not valid Base64 (white space is ignored).
std::optional<std::string> base64Decode(std::string_view text);

} // namespace platform
