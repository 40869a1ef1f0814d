#pragma once

#include "foundation/StringsFile.h"

#include <map>
#include <memory>
#include <mutex>
#include <optional>
#include <string>

namespace platform {

// A folder of resources that a program ships beside its executable: page templates, scripts,
// images and localized strings tables (LANGUAGE.lproj/TABLE.strings).
//
// A bundle named N of type "bundle" is the folder N.bundle beside the executable, else
// ../share/lanyard/N.bundle relative to the executable's folder (an installed program).
// Thread-safe.
class ResourceBundle {
public:
    // The bundle of that name beside the running executable (or in the install tree); none when
    // neither folder exists.
    static std::shared_ptr<ResourceBundle> find(const std::string& name, const std::string& type = "bundle");
    // The same search from another executable folder.
    static std::shared_ptr<ResourceBundle> findFromDirectory(const std::string& executableDirectory,
                                                             const std::string& name,
                                                             const std::string& type = "bundle");
    // The bundle at a folder; none when it is not a folder.
    static std::shared_ptr<ResourceBundle> bundleWithPath(const std::string& path);

    explicit ResourceBundle(std::string path);

    // The bundle's folder, and the folder of its resources (the same folder: bundles are flat).
    const std::string& bundlePath() const { return _path; }
    const std::string& resourcePath() const { return _path; }

    // The regular file NAME.TYPE (NAME alone when the type is empty) in the resource folder, else
    // in the localization folders; none when there is none.
    std::optional<std::string> pathForResource(const std::string& name, const std::string& type) const;

    // The text for `key` in the strings table (Localizable.strings unless named) of the first
    // localization that has the table: English, then Base, then a table at the top of the
    // bundle. The default when the key is missing (or no table can be read).
    std::string localizedString(const std::string& key, const std::string& defaultValue,
                                const std::string& table = "Localizable") const;

    // Localization folders, in the order they are asked.
    static constexpr const char* kLocalizations[] = {"en.lproj", "Base.lproj", ""};

private:
    const StringsFile::Table& tableNamed(const std::string& table) const;

    std::string _path;
    mutable std::mutex _lock;
    mutable std::map<std::string, StringsFile::Table> _tables; // read on first use
};

} // namespace platform
