#include "foundation/MimeTypes.h"

#include "foundation/CaseInsensitive.h"

#include <algorithm>
#include <cstring>

namespace platform {

std::optional<std::string> mimeTypeForExtension(std::string_view extension) {
    if (extension.empty()) {
        return std::nullopt;
    }
    const std::string key = asciiLowercase(extension);
    const auto table = mimeTypeTable();
    const auto it = std::lower_bound(table.begin(), table.end(), key,
                                     [](const MimeTypeEntry& entry, const std::string& wanted) {
                                         return std::strcmp(entry.extension, wanted.c_str()) < 0;
                                     });
    if (it == table.end() || key != it->extension) {
        return std::nullopt;
    }
    return std::string(it->type);
}

} // namespace platform
