#include "OperatingSystem.h"

#include "EnvironmentFile.h"

#include <fstream>
#include <optional>
#include <sstream>
#include <sys/utsname.h>

namespace platform {

namespace {

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
    return parseEnvironmentFile(text);
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
