#include "AppText.h"

#include "foundation/Text.h"

#include <QString>

#include <cctype>
#include <limits>

namespace lanyard {

std::int64_t longLongValueOfText(std::string_view text) {
    return platform::leadingInteger(text);
}

std::int32_t intValueOfText(std::string_view text) {
    const std::int64_t value = longLongValueOfText(text);
    if (value > std::numeric_limits<std::int32_t>::max()) {
        return std::numeric_limits<std::int32_t>::max();
    }
    if (value < std::numeric_limits<std::int32_t>::min()) {
        return std::numeric_limits<std::int32_t>::min();
    }
    return static_cast<std::int32_t>(value);
}

bool isValidUtf8(std::string_view text) {
    return platform::isValidUTF8(text);
}

std::string lowercasedText(std::string_view text) {
    return QString::fromUtf8(text.data(), static_cast<qsizetype>(text.size())).toLower().toStdString();
}

std::string uppercasedText(std::string_view text) {
    return QString::fromUtf8(text.data(), static_cast<qsizetype>(text.size())).toUpper().toStdString();
}

} // namespace lanyard
