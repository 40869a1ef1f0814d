// The path rules of the web file manager: client paths are relative to the upload directory, use
// "/" as separator, and must stay inside it.

#include "WebUploader.h"

#include "foundation/CaseInsensitive.h"
#include "foundation/FileSystem.h"

#include <algorithm>

using platform::FileSystem;

std::string WebUploader::absolutePath(const std::string& relativePath) const {
    // A leading "/" of the client's path does not make it absolute.
    return FileSystem::standardizePath(FileSystem::appendPathComponent(_uploadDirectory, relativePath));
}

bool WebUploader::_checkSandboxedPath(const std::string& path) const {
    if (path.find('\0') != std::string::npos) {
        return false;
    }
    const std::string standardized = FileSystem::standardizePath(path);
    if (!FileSystem::isPathInsideOrEqual(standardized, _uploadDirectory)) {
        return false;
    }
    if (standardized == _uploadDirectory) {
        return true;
    }
    // A folder on the way may be a symbolic link to somewhere else: what the parent folder
    // resolves to must still lie inside the (resolved) upload directory. The item itself may be a
    // link; the operations never follow one.
    const auto parent = FileSystem::resolvePath(FileSystem::deletingLastPathComponent(standardized));
    if (!parent) {
        return true; // nothing exists there: the operation itself fails
    }
    const auto root = FileSystem::resolvePath(_uploadDirectory);
    return root && FileSystem::isPathInsideOrEqual(*parent, *root);
}

bool WebUploader::_checkFileExtension(const std::string& fileName) const {
    std::lock_guard lock(_propertiesLock);
    if (!_allowedExtensions) {
        return true;
    }
    const std::string extension = platform::asciiLowercase(FileSystem::pathExtension(fileName));
    return std::find(_allowedExtensions->begin(), _allowedExtensions->end(), extension) !=
           _allowedExtensions->end();
}

bool WebUploader::isHiddenName(const std::string& name) const {
    return !name.empty() && name[0] == '.' && !allowHiddenItems();
}

bool WebUploader::hasHiddenComponent(const std::string& absolutePath) const {
    if (allowHiddenItems()) {
        return false;
    }
    const std::string standardized = FileSystem::standardizePath(absolutePath);
    if (!FileSystem::isPathInside(standardized, _uploadDirectory)) {
        return false;
    }
    const std::size_t start = _uploadDirectory == "/" ? 1 : _uploadDirectory.size() + 1;
    for (std::size_t position = start; position < standardized.size();) {
        if (standardized[position] == '.') {
            return true;
        }
        const std::size_t slash = standardized.find('/', position);
        if (slash == std::string::npos) {
            break;
        }
        position = slash + 1;
    }
    return false;
}

std::string WebUploader::_uniquePathForPath(const std::string& path) {
    if (!FileSystem::itemExists(path)) {
        return path;
    }
    const std::string directory = FileSystem::deletingLastPathComponent(path);
    const std::string name = FileSystem::lastPathComponent(path);
    const std::string extension = FileSystem::pathExtension(name);
    const std::string base = FileSystem::deletingPathExtension(name);
    for (int number = 1;; ++number) {
        std::string candidate = base + " (" + std::to_string(number) + ")";
        if (!extension.empty()) {
            candidate += "." + extension;
        }
        std::string candidatePath = FileSystem::appendPathComponent(directory, candidate);
        if (!FileSystem::itemExists(candidatePath)) {
            return candidatePath;
        }
    }
}
