#pragma once

#include <string>

namespace platform {

// A freshly generated random UUID in its upper-case text form (8-4-4-4-12 hex digits).
std::string makeUuidString();

} // namespace platform
