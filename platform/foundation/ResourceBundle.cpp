#include "ResourceBundle.h"

#include "foundation/FileSystem.h"
#include "foundation/MainBundle.h"

namespace platform {

namespace {

bool isDirectory(const std::string& path) {
    const auto status = FileSystem::statusOfItemFollowingLinks(path);
    return status && status->isDirectory();
}

bool isRegularFile(const std::string& path) {
    const auto status = FileSystem::statusOfItemFollowingLinks(path);
    return status && status->isRegularFile();
}

} // namespace

std::shared_ptr<ResourceBundle> ResourceBundle::find(const std::string& name, const std::string& type) {
    return findFromDirectory(MainBundle::executableDirectory(), name, type);
}

std::shared_ptr<ResourceBundle> ResourceBundle::findFromDirectory(const std::string& executableDirectory,
                                                                  const std::string& name,
                                                                  const std::string& type) {
    if (executableDirectory.empty() || name.empty()) {
        return nullptr;
    }
    const std::string folderName = type.empty() ? name : name + "." + type;
    const std::string beside = FileSystem::appendPathComponent(executableDirectory, folderName);
    if (auto bundle = bundleWithPath(beside)) {
        return bundle;
    }
    const std::string installed = FileSystem::standardizePath(
        FileSystem::appendPathComponent(executableDirectory, "../share/lanyard/" + folderName));
    return bundleWithPath(installed);
}

std::shared_ptr<ResourceBundle> ResourceBundle::bundleWithPath(const std::string& path) {
    if (path.empty() || !isDirectory(path)) {
        return nullptr;
    }
    return std::make_shared<ResourceBundle>(FileSystem::standardizePath(path));
}

ResourceBundle::ResourceBundle(std::string path) : _path(std::move(path)) {}

std::optional<std::string> ResourceBundle::pathForResource(const std::string& name,
                                                           const std::string& type) const {
    if (name.empty() || name.find('/') != std::string::npos) {
        return std::nullopt;
    }
    const std::string fileName = type.empty() ? name : name + "." + type;
    // The top of the bundle first, then each localization.
    if (const std::string top = FileSystem::appendPathComponent(_path, fileName); isRegularFile(top)) {
        return top;
    }
    for (const char* localization : kLocalizations) {
        if (*localization == '\0') {
            continue;
        }
        const std::string path =
            FileSystem::appendPathComponent(FileSystem::appendPathComponent(_path, localization), fileName);
        if (isRegularFile(path)) {
            return path;
        }
    }
    return std::nullopt;
}

const StringsFile::Table& ResourceBundle::tableNamed(const std::string& table) const {
    // Called with _lock held.
    const auto cached = _tables.find(table);
    if (cached != _tables.end()) {
        return cached->second;
    }
    StringsFile::Table entries;
    for (const char* localization : kLocalizations) {
        const std::string path = FileSystem::appendPathComponent(
            FileSystem::appendPathComponent(_path, localization), table + ".strings");
        if (!isRegularFile(path)) {
            continue;
        }
        if (auto read = StringsFile::read(path)) {
            entries = std::move(*read);
            break;
        }
    }
    return _tables.emplace(table, std::move(entries)).first->second;
}

std::string ResourceBundle::localizedString(const std::string& key, const std::string& defaultValue,
                                            const std::string& table) const {
    if (key.empty() || table.empty()) {
        return defaultValue;
    }
    std::lock_guard lock(_lock);
    const StringsFile::Table& entries = tableNamed(table);
    const auto found = entries.find(key);
    return found == entries.end() ? defaultValue : found->second;
}

} // namespace platform
