#include "OperatingSystem.h"

#include <fstream>
#include <optional>
#include <sstream>
#include <sys/utsname.h>

namespace platform {

namespace {

std::string_view trim(std::string_view text) {
    const auto first = text.find_first_not_of(" \t\r");
    if (first == std::string_view::npos) {
        return {};
    }
    const auto last = text.find_last_not_of(" \t\r");
    return text.substr(first, last - first + 1);
}

// Shell quoting removed: '...' literally, "..." with backslash escapes, bare text with escapes.
std::string unquote(std::string_view value) {
    std::string result;
    char quote = 0;
    for (std::size_t i = 0; i < value.size(); ++i) {
        const char c = value[i];
        if (quote == 0 && (c == '"' || c == '\'')) {
            quote = c;
        } else if (quote != 0 && c == quote) {
            quote = 0;
        } else if (c == '\\' && quote != '\'' && i + 1 < value.size()) {
            result.push_back(value[++i]);
        } else {
            result.push_back(c);
        }
    }
    return result;
}

bool isKey(std::string_view key) {
    if (key.empty()) {
        return false;
    }
    for (char c : key) {
        if (!((c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z') || (c >= '0' && c <= '9') || c == '_')) {
            return false;
        }
    }
    return true;
}

std::optional<std::string> readFile(const char* path) {
    std::ifstream stream(path);
    if (!stream) {
        return std::nullopt;
    }
    std::ostringstream contents;
    contents << stream.rdbuf();
    return contents.str();
}

// The fields of the system's os-release file; none when there is none.
std::optional<std::map<std::string, std::string>> systemFields() {
    for (const char* path : {"/etc/os-release", "/usr/lib/os-release"}) {
        if (auto text = readFile(path)) {
            return OperatingSystem::parseOsRelease(*text);
        }
    }
    return std::nullopt;
}

std::string value(const std::map<std::string, std::string>& fields, const char* key) {
    const auto found = fields.find(key);
    return found == fields.end() ? std::string() : found->second;
}

struct Uname {
    std::string sysname, release;
};

Uname kernel() {
    utsname names{};
    if (::uname(&names) != 0) {
        return {"Linux", ""};
    }
    return {names.sysname, names.release};
}

} // namespace

std::map<std::string, std::string> OperatingSystem::parseOsRelease(std::string_view text) {
    std::map<std::string, std::string> fields;
    while (!text.empty()) {
        const auto end = text.find('\n');
        const std::string_view line = trim(text.substr(0, end));
        text = end == std::string_view::npos ? std::string_view() : text.substr(end + 1);
        if (line.empty() || line.front() == '#') {
            continue;
        }
        const auto equals = line.find('=');
        if (equals == std::string_view::npos || !isKey(line.substr(0, equals))) {
            continue;
        }
        fields[std::string(line.substr(0, equals))] = unquote(line.substr(equals + 1));
    }
    return fields;
}

std::string OperatingSystem::nameFromFields(const std::map<std::string, std::string>& fields) {
    const std::string name = value(fields, "NAME");
    return name.empty() ? "Linux" : name;
}

std::string OperatingSystem::versionFromFields(const std::map<std::string, std::string>& fields) {
    const std::string versionId = value(fields, "VERSION_ID");
    return versionId.empty() ? value(fields, "VERSION") : versionId;
}

std::string OperatingSystem::prettyNameFromFields(const std::map<std::string, std::string>& fields) {
    const std::string pretty = value(fields, "PRETTY_NAME");
    if (!pretty.empty()) {
        return pretty;
    }
    const std::string version = versionFromFields(fields);
    return version.empty() ? nameFromFields(fields) : nameFromFields(fields) + " " + version;
}

std::string OperatingSystem::name() {
    const auto fields = systemFields();
    return fields ? nameFromFields(*fields) : kernel().sysname;
}

std::string OperatingSystem::version() {
    const auto fields = systemFields();
    return fields ? versionFromFields(*fields) : kernel().release;
}

std::string OperatingSystem::prettyName() {
    if (const auto fields = systemFields()) {
        return prettyNameFromFields(*fields);
    }
    const Uname names = kernel();
    return names.release.empty() ? names.sysname : names.sysname + " " + names.release;
}

} // namespace platform
