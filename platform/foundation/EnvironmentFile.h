#pragma once

#include <map>
#include <string>
#include <string_view>

namespace platform {

// The variables of a shell-style KEY=VALUE file such as /etc/os-release or /etc/machine-info:
// comments and malformed lines are skipped, values lose their quoting ('single', "double" with
// backslash escapes, or bare text with escapes); a key given twice keeps its last value.
std::map<std::string, std::string> parseEnvironmentFile(std::string_view text);

} // namespace platform
