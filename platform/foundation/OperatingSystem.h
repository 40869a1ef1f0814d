#pragma once

#include <map>
#include <string>
#include <string_view>

namespace platform {

// The name and version of the running system, as its os-release file tells them (where macOS
// would say "OS X" and its version).
class OperatingSystem {
public:
    // The KEY=VALUE lines of an os-release text, values unquoted (shell-style '...' and "..."
    // with backslash escapes); comments and malformed lines are skipped.
    static std::map<std::string, std::string> parseOsRelease(std::string_view text);

    // NAME of the fields, else "Linux".
    static std::string nameFromFields(const std::map<std::string, std::string>& fields);
    // VERSION_ID of the fields, else VERSION, else "".
    static std::string versionFromFields(const std::map<std::string, std::string>& fields);
    // PRETTY_NAME of the fields, else the name and the version joined by a blank.
    static std::string prettyNameFromFields(const std::map<std::string, std::string>& fields);

    // The same of /etc/os-release, else /usr/lib/os-release; with neither, the kernel's name and
    // release (uname).
    static std::string name();
    static std::string version();
    static std::string prettyName();
};

} // namespace platform
