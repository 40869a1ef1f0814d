#pragma once

#include <string>
#include <string_view>

// The text with "&", "<", ">", "\"" and "'" replaced by their character references, so that text
// from a client can stand in HTML content and in quoted attribute values.
std::string EscapeHTMLString(std::string_view text);
