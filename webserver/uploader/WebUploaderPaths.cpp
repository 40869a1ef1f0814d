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
    return FileSystem::isPathConfined(path, _uploadDirectory);
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
