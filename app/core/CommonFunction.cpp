#include "CommonFunction.h"

#include "AppText.h"

#include <foundation/Base64.h>
#include <foundation/DateFormatter.h>
#include <foundation/RegularExpression.h>

#include <unicode/calendar.h>
#include <unicode/locid.h>

#include <QString>
#include <QStringList>

#include <arpa/inet.h>
#include <ifaddrs.h>
#include <net/if.h>
#include <netinet/in.h>

#include <chrono>
#include <cmath>
#include <memory>
#include <vector>

namespace lanyard {

namespace {

using Date = CommonFunction::Date;

std::string defaultLocale() {
    return icu::Locale::getDefault().getName();
}

// A new formatter per call, in the system's time zone and locale.
std::string formatDate(Date date, const std::string& pattern) {
    const platform::DateFormatter formatter(pattern, "", defaultLocale());
    return formatter.format(date);
}

double udateOf(Date date) {
    return static_cast<double>(
        std::chrono::duration_cast<std::chrono::milliseconds>(date.time_since_epoch()).count());
}

// The date moved by `amount` of the calendar field, keeping its sub-millisecond part.
Date addCalendarField(Date date, UCalendarDateFields field, std::int32_t amount) {
    UErrorCode status = U_ZERO_ERROR;
    const std::unique_ptr<icu::Calendar> calendar(icu::Calendar::createInstance(status));
    if (U_FAILURE(status)) {
        return date;
    }
    const double start = udateOf(date);
    calendar->setTime(start, status);
    calendar->add(field, amount, status);
    const double end = calendar->getTime(status);
    if (U_FAILURE(status)) {
        return date;
    }
    const auto delta = std::chrono::milliseconds(static_cast<std::int64_t>(end - start));
    return date + std::chrono::duration_cast<Date::duration>(delta);
}

bool matchesPattern(const std::string& pattern, const std::string& text) {
    const auto regex = platform::RegularExpression::create(pattern, {.caseInsensitive = true});
    return regex && regex->search(text);
}

bool isEmailPiece(const QString& piece) {
    if (piece.isEmpty()) {
        return false;
    }
    for (const QChar c : piece) {
        if (!(c.isLetterOrNumber() || c.isMark() || c == u'_' || c == u'-')) {
            return false;
        }
    }
    return true;
}

bool allEmailPieces(const QString& part) {
    for (const QString& piece : part.split(u'.')) {
        if (!isEmailPiece(piece)) {
            return false;
        }
    }
    return true;
}

} // namespace

bool CommonFunction::isLanInterfaceName(const std::string& name) {
    if (name == "en0" || name == "en1") {
        return true;
    }
    return name.starts_with("en") || name.starts_with("eth") || name.starts_with("wl");
}

std::optional<std::string> CommonFunction::getHostName() {
    ifaddrs* list = nullptr;
    if (getifaddrs(&list) != 0) {
        return std::nullopt;
    }
    std::optional<std::string> address;
    for (const ifaddrs* entry = list; entry && !address; entry = entry->ifa_next) {
        if (!entry->ifa_addr || entry->ifa_addr->sa_family != AF_INET || !entry->ifa_name) {
            continue;
        }
        if ((entry->ifa_flags & IFF_LOOPBACK) || !isLanInterfaceName(entry->ifa_name)) {
            continue;
        }
        const auto* ipv4 = reinterpret_cast<const sockaddr_in*>(entry->ifa_addr);
        char text[INET_ADDRSTRLEN] = {};
        if (inet_ntop(AF_INET, &ipv4->sin_addr, text, sizeof(text))) {
            address = text;
        }
    }
    freeifaddrs(list);
    return address;
}

std::string CommonFunction::getCurrentTime(const std::string& format) {
    return formatDate(std::chrono::system_clock::now(), format);
}

std::string CommonFunction::getStrTime(Date date, const std::string& fmt) {
    return formatDate(date, fmt);
}

std::string CommonFunction::stringFromDouble(const std::string& fmt, double seconds) {
    // Beyond a few hundred thousand years the nanosecond clock overflows.
    constexpr double kLimit = 1e13;
    if (!std::isfinite(seconds) || std::fabs(seconds) > kLimit) {
        return {};
    }
    const auto offset = std::chrono::duration_cast<Date::duration>(std::chrono::duration<double>(seconds));
    return formatDate(Date(offset), fmt);
}

std::optional<Date> CommonFunction::dateFromString(const std::string& text, const std::string& format) {
    const platform::DateFormatter formatter(format, "", defaultLocale());
    return formatter.parse(text);
}

Date CommonFunction::dateAfterDay(Date date, std::int32_t dayafter) {
    return addCalendarField(date, UCAL_DATE, dayafter);
}

Date CommonFunction::dateAfterMin(Date date, std::int32_t dayafter) {
    return addCalendarField(date, UCAL_MINUTE, dayafter);
}

Date CommonFunction::dateAfterSec(Date date, std::int32_t dayafter) {
    return addCalendarField(date, UCAL_SECOND, dayafter);
}

std::int64_t CommonFunction::daysAgo(Date date) {
    return daysAgo(date, std::chrono::system_clock::now());
}

std::int64_t CommonFunction::daysAgo(Date date, Date todate) {
    UErrorCode status = U_ZERO_ERROR;
    const std::unique_ptr<icu::Calendar> calendar(icu::Calendar::createInstance(status));
    if (U_FAILURE(status)) {
        return 0;
    }
    calendar->setTime(udateOf(date), status);
    const std::int32_t days = calendar->fieldDifference(udateOf(todate), UCAL_DATE, status);
    return U_FAILURE(status) ? 0 : days;
}

std::int64_t CommonFunction::daysAgoAgainstMidnight(Date date) {
    const std::string dayFormat = "yyyy-MM-dd";
    const std::optional<Date> midnight = dateFromString(getStrTime(date, dayFormat), dayFormat);
    if (!midnight) {
        return 0;
    }
    const auto elapsed = std::chrono::system_clock::now() - *midnight;
    const std::int64_t seconds = std::chrono::duration_cast<std::chrono::seconds>(elapsed).count();
    return seconds / 86400;
}

bool CommonFunction::isNumbericString(const std::string& text) {
    return matchesPattern(R"(^(?:|0|[1-9]\d{0,})(?:\.\d*)?$)", text);
}

bool CommonFunction::isIPString(const std::string& text) {
    return matchesPattern(R"(\b(?:\d{1,3}\.){3}\d{1,3}\b)", text);
}

bool CommonFunction::isPhoneNum(const std::string& text) {
    return matchesPattern(R"(^(13[0-9]|15[0-9]|18[0-9]|14(4|3))[0-9]{8}$)", text);
}

bool CommonFunction::isTranNum(const std::string& text) {
    return matchesPattern(R"(^(C|K|T|Z|G|D|Y|L|A|Q|N|X|V|[1-9]){1}[0-9]{1,4}$)", text);
}

bool CommonFunction::isCardNum(const std::string& text) {
    const std::string upper = uppercasedText(text);
    if (!matchesPattern(R"([0-9]{17}(x|X|[0-9]){1}$)", upper) || upper.size() < 18) {
        return false;
    }
    static constexpr int kWeights[17] = {7, 9, 10, 5, 8, 4, 2, 1, 6, 3, 7, 9, 10, 5, 8, 4, 2};
    static constexpr char kCheck[] = "10X98765432";
    int sum = 0;
    for (std::size_t i = 0; i < 17; ++i) {
        sum += (static_cast<unsigned char>(upper[i]) - '0') * kWeights[i];
    }
    // Only a text that starts with the number can carry a valid check character.
    const int r = sum % 11;
    return r >= 0 && upper[17] == kCheck[r];
}

bool CommonFunction::isEmail(const std::string& text) {
    const QString email = QString::fromStdString(text);
    const qsizetype at = email.indexOf(u'@');
    if (at < 0 || !email.contains(u'.')) {
        return false;
    }
    return allEmailPieces(email.left(at)) && allEmailPieces(email.mid(at + 1));
}

std::optional<std::string> CommonFunction::encodeBase64String(const std::optional<std::string>& text) {
    if (!text || text->empty()) {
        return text;
    }
    return platform::base64Encode(*text);
}

std::optional<std::string> CommonFunction::decodeBase64String(const std::optional<std::string>& text) {
    if (!text || text->empty()) {
        return text;
    }
    // Strict: white space and every other character outside the alphabet make it fail.
    for (const char c : *text) {
        const bool alphabet = (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z') || (c >= '0' && c <= '9') ||
                              c == '+' || c == '/' || c == '=';
        if (!alphabet) {
            return std::nullopt;
        }
    }
    std::optional<std::string> bytes = platform::base64Decode(*text);
    if (!bytes || !isValidUtf8(*bytes)) {
        return std::nullopt;
    }
    return bytes;
}

} // namespace lanyard
