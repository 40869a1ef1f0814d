#pragma once

#include <optional>
#include <string>

namespace platform {

// The information values an executable declares about itself (the application declares its name,
// version and identifier; a test program may declare none). Every value defaults to none, so a
// designated initializer may name only some.
struct BundleInfo {
    std::optional<std::string> displayName{}, name{}, shortVersion{}, identifier{};
};

// The main bundle of this process: its declared information values and where its executable lives.
// Thread-safe.
class MainBundle {
public:
    // Replaces the declared information values.
    static void setInfo(BundleInfo info);
    // The value for "CFBundleDisplayName", "CFBundleName", "CFBundleShortVersionString" or
    // "CFBundleIdentifier"; none when it was not declared or the key is not one of those.
    static std::optional<std::string> infoValue(const std::string& key);

    // The absolute path of the running executable (from /proc/self/exe); "" when unreadable.
    static std::string executablePath();
    // The executable's file name ("lanyard").
    static std::string executableName();
    // The folder that holds the executable, without a trailing "/".
    static std::string executableDirectory();
};

} // namespace platform
