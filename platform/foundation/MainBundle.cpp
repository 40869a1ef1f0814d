#include "MainBundle.h"

#include <mutex>
#include <unistd.h>
#include <vector>

namespace platform {

namespace {

std::mutex& infoMutex() {
    static std::mutex mutex;
    return mutex;
}

BundleInfo& declaredInfo() {
    static BundleInfo info;
    return info;
}

} // namespace

void MainBundle::setInfo(BundleInfo info) {
    std::lock_guard lock(infoMutex());
    declaredInfo() = std::move(info);
}

std::optional<std::string> MainBundle::infoValue(const std::string& key) {
    std::lock_guard lock(infoMutex());
    const BundleInfo& info = declaredInfo();
    if (key == "CFBundleDisplayName") {
        return info.displayName;
    }
    if (key == "CFBundleName") {
        return info.name;
    }
    if (key == "CFBundleShortVersionString") {
        return info.shortVersion;
    }
    if (key == "CFBundleIdentifier") {
        return info.identifier;
    }
    return std::nullopt;
}

std::string MainBundle::executablePath() {
    std::vector<char> buffer(256);
    for (;;) {
        const ssize_t length = ::readlink("/proc/self/exe", buffer.data(), buffer.size());
        if (length < 0) {
            return {};
        }
        if (static_cast<std::size_t>(length) < buffer.size()) {
            return std::string(buffer.data(), static_cast<std::size_t>(length));
        }
        // The link may have been cut short: try again with more room.
        buffer.resize(buffer.size() * 2);
    }
}

std::string MainBundle::executableName() {
    const std::string path = executablePath();
    const std::size_t slash = path.rfind('/');
    return slash == std::string::npos ? path : path.substr(slash + 1);
}

std::string MainBundle::executableDirectory() {
    const std::string path = executablePath();
    const std::size_t slash = path.rfind('/');
    if (slash == std::string::npos) {
        return {};
    }
    return slash == 0 ? std::string("/") : path.substr(0, slash);
}

} // namespace platform
