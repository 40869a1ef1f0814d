// The path-text half of FileSystem: nothing here touches the disk.

#include "foundation/FileSystem.h"

namespace platform {

namespace {

std::vector<std::string_view> splitComponents(std::string_view path) {
    std::vector<std::string_view> components;
    std::size_t pos = 0;
    while (pos < path.size()) {
        const std::size_t slash = path.find('/', pos);
        const std::size_t end = slash == std::string_view::npos ? path.size() : slash;
        if (end > pos) {
            components.push_back(path.substr(pos, end - pos));
        }
        pos = end + 1;
    }
    return components;
}

std::string_view trimTrailingSlashes(std::string_view path) {
    while (path.size() > 1 && path.back() == '/') {
        path.remove_suffix(1);
    }
    return path;
}

// The offset of the last component's first character in a path without trailing "/".
std::size_t lastComponentStart(std::string_view trimmed) {
    const std::size_t slash = trimmed.rfind('/');
    return slash == std::string_view::npos ? 0 : slash + 1;
}

// The offset of the extension's dot in the last component, or npos.
std::size_t extensionDot(std::string_view trimmed) {
    const std::size_t start = lastComponentStart(trimmed);
    const std::size_t dot = trimmed.rfind('.');
    if (dot == std::string_view::npos || dot <= start || dot + 1 == trimmed.size()) {
        return std::string_view::npos;
    }
    return dot;
}

} // namespace

std::string FileSystem::standardizePath(std::string_view path) {
    if (path.empty()) {
        return std::string();
    }
    const bool absolute = path.front() == '/';
    std::vector<std::string_view> kept;
    for (std::string_view component : splitComponents(path)) {
        if (component == ".") {
            continue;
        }
        if (component == "..") {
            if (!kept.empty() && kept.back() != "..") {
                kept.pop_back();
            } else if (!absolute) {
                kept.push_back(component); // a relative path keeps what it cannot resolve
            }
            continue;
        }
        kept.push_back(component);
    }
    if (kept.empty()) {
        return absolute ? std::string("/") : std::string(".");
    }
    std::size_t length = absolute ? 1 : 0;
    for (std::string_view component : kept) {
        length += component.size() + 1;
    }
    std::string result(length - 1, '/');
    std::size_t offset = absolute ? 1 : 0;
    for (std::string_view component : kept) {
        component.copy(result.data() + offset, component.size());
        offset += component.size() + 1;
    }
    return result;
}

std::string FileSystem::appendPathComponent(std::string_view base, std::string_view component) {
    while (!component.empty() && component.front() == '/') {
        component.remove_prefix(1);
    }
    if (component.empty()) {
        return std::string(base);
    }
    if (base.empty()) {
        return std::string(component);
    }
    std::string result(base);
    while (result.size() > 1 && result.back() == '/') {
        result.pop_back();
    }
    if (result.back() != '/') {
        result += '/';
    }
    result.append(component);
    return result;
}

std::string FileSystem::lastPathComponent(std::string_view path) {
    const std::string_view trimmed = trimTrailingSlashes(path);
    if (trimmed == "/") {
        return "/";
    }
    return std::string(trimmed.substr(lastComponentStart(trimmed)));
}

std::string FileSystem::deletingLastPathComponent(std::string_view path) {
    const std::string_view trimmed = trimTrailingSlashes(path);
    if (trimmed == "/" || trimmed.empty()) {
        return std::string(trimmed);
    }
    const std::size_t slash = trimmed.rfind('/');
    if (slash == std::string_view::npos) {
        return std::string();
    }
    return std::string(trimTrailingSlashes(trimmed.substr(0, slash == 0 ? 1 : slash)));
}

std::string FileSystem::pathExtension(std::string_view path) {
    const std::string_view trimmed = trimTrailingSlashes(path);
    const std::size_t dot = extensionDot(trimmed);
    return dot == std::string_view::npos ? std::string() : std::string(trimmed.substr(dot + 1));
}

std::string FileSystem::deletingPathExtension(std::string_view path) {
    const std::string_view trimmed = trimTrailingSlashes(path);
    const std::size_t dot = extensionDot(trimmed);
    return std::string(dot == std::string_view::npos ? trimmed : trimmed.substr(0, dot));
}

bool FileSystem::isPathInsideOrEqual(std::string_view child, std::string_view parent) {
    const std::string standardChild = standardizePath(child);
    const std::string standardParent = standardizePath(parent);
    if (standardChild.empty() || standardParent.empty()) {
        return false;
    }
    if (standardChild == standardParent) {
        return true;
    }
    if (standardParent == ".") {
        // Every relative path that does not climb out lies below ".".
        return standardChild.front() != '/' && standardChild != ".." &&
               standardChild.compare(0, 3, "../") != 0;
    }
    if (standardChild.size() <= standardParent.size() ||
        standardChild.compare(0, standardParent.size(), standardParent) != 0) {
        return false;
    }
    // The match must end at a component boundary: "/srv/Share2" is not below "/srv/Share".
    return standardParent.back() == '/' || standardChild[standardParent.size()] == '/';
}

bool FileSystem::isPathInside(std::string_view child, std::string_view parent) {
    return standardizePath(child) != standardizePath(parent) && isPathInsideOrEqual(child, parent);
}

} // namespace platform
