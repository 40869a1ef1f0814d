#pragma once

#include <string>
#include <string_view>

namespace platform {

// A freshly generated random UUID in its upper-case text form (8-4-4-4-12 hex digits).
std::string makeUuidString();
// Whether a text is a UUID exactly as makeUuidString writes one (upper-case digits only).
bool isUuidString(std::string_view text);

} // namespace platform
