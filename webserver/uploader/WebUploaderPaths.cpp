// The path rules of the web file manager: client paths are relative to the upload directory, use
// "/" as separator, and must stay inside it.

#include "WebUploader.h"

#include "WebServerSharedFolder.h"

#include "foundation/CaseInsensitive.h"
#include "foundation/FileSystem.h"

#include <algorithm>
#include <cerrno>

using platform::FileSystem;

std::string WebUploader::absolutePath(const std::string& relativePath) const {
    // A leading "/" of the client's path does not make it absolute.
    return FileSystem::standardizePath(FileSystem::appendPathComponent(_uploadDirectory, relativePath));
}

std::optional<platform::SharedItem> WebUploader::resolveItem(const WebServerRequest& request,
                                                             const std::string& relativePath,
                                                             bool followLastLink, Error* error) const {
    const auto folder = SharedFolderOfRequest(request, _sharedFolder);
    const std::string standardized = FileSystem::standardizePath("/" + relativePath);
    if (standardized == std::string("/") + kStagingFolderName ||
        standardized.rfind(std::string("/") + kStagingFolderName + "/", 0) == 0) {
        platform::setError(error, Error::posix(EXDEV)); // the staging folder is not the client's
        return std::nullopt;
    }
    if (!folder) {
        platform::setError(error, Error::posix(EXDEV));
        return std::nullopt;
    }
    return ResolveSharedItem(request, _sharedFolder, relativePath, followLastLink, error,
                             allowHiddenItems() ? platform::SharedFolder::HiddenNames::allowed
                                                : platform::SharedFolder::HiddenNames::refusedInLinks);
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

namespace {

std::string numberedName(const std::string& name, int number) {
    if (number == 0) {
        return name;
    }
    const std::string extension = FileSystem::pathExtension(name);
    std::string candidate = FileSystem::deletingPathExtension(name) + " (" + std::to_string(number) + ")";
    if (!extension.empty()) {
        candidate += "." + extension;
    }
    return candidate;
}

constexpr int kMaximumNumberedNames = 100000;

} // namespace

std::optional<std::string> WebUploader::_placeUnderFreeName(const platform::SharedItem& target,
                                                            const PlaceBlock& place, Error* error,
                                                            int* nextNumber) {
    for (int number = nextNumber ? *nextNumber : 0; number < kMaximumNumberedNames; ++number) {
        auto candidate = platform::SharedFolder::sibling(target, numberedName(target.name, number), error);
        if (!candidate) {
            return std::nullopt;
        }
        const int result = place(*candidate);
        if (result == 0) {
            if (nextNumber) {
                *nextNumber = number + 1;
            }
            return candidate->name;
        }
        if (result != EEXIST) {
            platform::setError(error, Error::posix(result));
            return std::nullopt;
        }
    }
    platform::setError(error, Error::posix(EEXIST));
    return std::nullopt;
}

std::string WebUploader::_uniqueNameForItem(const platform::SharedItem& target, int* nextNumber) {
    for (int number = nextNumber ? *nextNumber : 0;; ++number) {
        std::string candidate = numberedName(target.name, number);
        auto item = platform::SharedFolder::sibling(target, candidate);
        if (!item || !platform::SharedFolder::status(*item) || number >= kMaximumNumberedNames) {
            if (nextNumber) {
                *nextNumber = number + 1;
            }
            return candidate;
        }
    }
}
