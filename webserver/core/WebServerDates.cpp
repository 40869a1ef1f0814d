// Dates of HTTP headers (RFC 822 / RFC 1123: "Sun, 06 Nov 1994 08:49:37 GMT") and of WebDAV
// properties (ISO 8601: "2014-03-01T12:00:00+00:00"), always in GMT with English names. Written
// out by hand rather than through a locale-aware formatter: these are the hottest date paths of the
// server (one per response, two per entry of a WebDAV listing) and their texts never vary.

#include "WebServerFunctions.h"

#include <algorithm>
#include <cstdio>
#include <cstring>
#include <ctime>

namespace {

constexpr const char* kDayNames[] = {"Sun", "Mon", "Tue", "Wed", "Thu", "Fri", "Sat"};
constexpr const char* kMonthNames[] = {"Jan", "Feb", "Mar", "Apr", "May", "Jun",
                                       "Jul", "Aug", "Sep", "Oct", "Nov", "Dec"};

// The GMT calendar fields of a date, computed without the C library (whose gmtime_r takes the
// process's time-zone lock on every call).
bool brokenDown(Date date, std::tm& tm) {
    using namespace std::chrono;
    const auto seconds = floor<std::chrono::seconds>(date);
    const auto days = floor<std::chrono::days>(seconds);
    const year_month_day ymd(days);
    const hh_mm_ss<std::chrono::seconds> time(seconds - days);
    if (!ymd.ok()) {
        return false;
    }
    tm = std::tm{};
    tm.tm_year = static_cast<int>(ymd.year()) - 1900;
    tm.tm_mon = static_cast<int>(static_cast<unsigned>(ymd.month())) - 1;
    tm.tm_mday = static_cast<int>(static_cast<unsigned>(ymd.day()));
    tm.tm_wday = static_cast<int>(weekday(days).c_encoding());
    tm.tm_hour = static_cast<int>(time.hours().count());
    tm.tm_min = static_cast<int>(time.minutes().count());
    tm.tm_sec = static_cast<int>(time.seconds().count());
    return true;
}

// Reads exactly `digits` decimal digits at `pos`.
bool readNumber(const std::string& text, std::size_t& pos, int digits, int& value) {
    if (pos + static_cast<std::size_t>(digits) > text.size()) {
        return false;
    }
    value = 0;
    for (int i = 0; i < digits; ++i) {
        const char c = text[pos++];
        if (c < '0' || c > '9') {
            return false;
        }
        value = value * 10 + (c - '0');
    }
    return true;
}

bool readLiteral(const std::string& text, std::size_t& pos, const char* literal) {
    const std::size_t length = std::strlen(literal);
    if (text.compare(pos, length, literal) != 0) {
        return false;
    }
    pos += length;
    return true;
}

// Reads one of the names (compared without regard to case); its index goes to `index`.
template <std::size_t N>
bool readName(const std::string& text, std::size_t& pos, const char* const (&names)[N], int& index) {
    if (pos + 3 > text.size()) {
        return false;
    }
    for (std::size_t i = 0; i < N; ++i) {
        if (platform::equalsIgnoringCase(std::string_view(text).substr(pos, 3), names[i])) {
            index = static_cast<int>(i);
            pos += 3;
            return true;
        }
    }
    return false;
}

bool isLeapYear(int year) {
    return (year % 4 == 0 && year % 100 != 0) || year % 400 == 0;
}

// The years a date may have: the clock's nanosecond time points reach from 1678 to 2262, and a
// date beyond them (a hostile "3988") would overflow; such a date is taken as unparseable.
constexpr int kFirstYear = 1900;
constexpr int kLastYear = 2200;

// The date of a GMT calendar time; none when a field is out of range.
std::optional<Date> makeDate(int year, int month, int day, int hour, int minute, int second) {
    static constexpr int kDaysInMonth[] = {31, 28, 31, 30, 31, 30, 31, 31, 30, 31, 30, 31};
    if (year < kFirstYear || year > kLastYear || month < 0 || month > 11 || day < 1 || hour > 23 ||
        minute > 59 || second > 59) {
        return std::nullopt;
    }
    const int monthDays = kDaysInMonth[month] + (month == 1 && isLeapYear(year) ? 1 : 0);
    if (day > monthDays) {
        return std::nullopt;
    }
    using namespace std::chrono;
    const sys_days days{std::chrono::year(year) / std::chrono::month(static_cast<unsigned>(month + 1)) /
                        std::chrono::day(static_cast<unsigned>(day))};
    return time_point_cast<Date::duration>(days + hours(hour) + minutes(minute) + seconds(second));
}

// Writes `value` as exactly `digits` decimal digits at `position` (years beyond 9999 cannot occur:
// the clock ends in 2262).
void putDigits(std::string& text, std::size_t position, int value, int digits) {
    for (int i = digits - 1; i >= 0; --i) {
        text[position + static_cast<std::size_t>(i)] = static_cast<char>('0' + value % 10);
        value /= 10;
    }
}

} // namespace

std::string FormatRFC822Date(Date date) {
    std::tm tm{};
    if (!brokenDown(date, tm)) {
        return std::string();
    }
    // "Sun, 06 Nov 1994 08:49:37 GMT", written digit by digit (no formatter per date).
    std::string text = "Sun, 00 Jan 0000 00:00:00 GMT";
    std::memcpy(text.data(), kDayNames[tm.tm_wday], 3);
    putDigits(text, 5, tm.tm_mday, 2);
    std::memcpy(text.data() + 8, kMonthNames[tm.tm_mon], 3);
    putDigits(text, 12, tm.tm_year + 1900, 4);
    putDigits(text, 17, tm.tm_hour, 2);
    putDigits(text, 20, tm.tm_min, 2);
    putDigits(text, 23, tm.tm_sec, 2);
    return text;
}

std::optional<Date> ParseRFC822Date(const std::string& text) {
    std::size_t pos = 0;
    int weekday = 0, day = 0, month = 0, year = 0, hour = 0, minute = 0, second = 0;
    if (!readName(text, pos, kDayNames, weekday) || !readLiteral(text, pos, ", ") ||
        !readNumber(text, pos, 2, day) || !readLiteral(text, pos, " ") ||
        !readName(text, pos, kMonthNames, month) || !readLiteral(text, pos, " ") ||
        !readNumber(text, pos, 4, year) || !readLiteral(text, pos, " ") || !readNumber(text, pos, 2, hour) ||
        !readLiteral(text, pos, ":") || !readNumber(text, pos, 2, minute) || !readLiteral(text, pos, ":") ||
        !readNumber(text, pos, 2, second) || !readLiteral(text, pos, " GMT") || pos != text.size()) {
        return std::nullopt;
    }
    return makeDate(year, month, day, hour, minute, second);
}

namespace {

constexpr const char* kFullDayNames[] = {"Sunday",   "Monday", "Tuesday", "Wednesday",
                                         "Thursday", "Friday", "Saturday"};

// "hh:mm:ss".
bool readTime(const std::string& text, std::size_t& pos, int& hour, int& minute, int& second) {
    return readNumber(text, pos, 2, hour) && readLiteral(text, pos, ":") &&
           readNumber(text, pos, 2, minute) && readLiteral(text, pos, ":") &&
           readNumber(text, pos, 2, second);
}

// A two-digit year of the obsolete form: the year with those last digits that lies at most 50
// years ahead; one more than 50 years ahead is the one a century earlier (RFC 9110 §5.6.7).
int fullYear(int twoDigits) {
    using namespace std::chrono;
    const int now = static_cast<int>(year_month_day(floor<days>(system_clock::now())).year());
    const int year = now - now % 100 + twoDigits;
    if (year > now + 50) {
        return year - 100;
    }
    return year + 100 <= now + 50 ? year + 100 : year;
}

// "Sunday, 06-Nov-94 08:49:37 GMT".
std::optional<Date> parseRFC850Date(const std::string& text) {
    const std::size_t comma = text.find(',');
    if (comma == std::string::npos ||
        std::none_of(std::begin(kFullDayNames), std::end(kFullDayNames), [&](const char* name) {
            return platform::equalsIgnoringCase(std::string_view(text).substr(0, comma), name);
        })) {
        return std::nullopt;
    }
    std::size_t pos = comma;
    int day = 0, month = 0, year = 0, hour = 0, minute = 0, second = 0;
    if (!readLiteral(text, pos, ", ") || !readNumber(text, pos, 2, day) || !readLiteral(text, pos, "-") ||
        !readName(text, pos, kMonthNames, month) || !readLiteral(text, pos, "-") ||
        !readNumber(text, pos, 2, year) || !readLiteral(text, pos, " ") ||
        !readTime(text, pos, hour, minute, second) || !readLiteral(text, pos, " GMT") || pos != text.size()) {
        return std::nullopt;
    }
    return makeDate(fullYear(year), month, day, hour, minute, second);
}

// "Sun Nov  6 08:49:37 1994": the day of the month is two digits or a blank and one digit.
std::optional<Date> parseAsctimeDate(const std::string& text) {
    std::size_t pos = 0;
    int weekday = 0, month = 0, day = 0, year = 0, hour = 0, minute = 0, second = 0;
    if (!readName(text, pos, kDayNames, weekday) || !readLiteral(text, pos, " ") ||
        !readName(text, pos, kMonthNames, month) || !readLiteral(text, pos, " ")) {
        return std::nullopt;
    }
    if (pos < text.size() && text[pos] == ' ') {
        ++pos;
        if (!readNumber(text, pos, 1, day)) {
            return std::nullopt;
        }
    } else if (!readNumber(text, pos, 2, day)) {
        return std::nullopt;
    }
    if (!readLiteral(text, pos, " ") || !readTime(text, pos, hour, minute, second) ||
        !readLiteral(text, pos, " ") || !readNumber(text, pos, 4, year) || pos != text.size()) {
        return std::nullopt;
    }
    return makeDate(year, month, day, hour, minute, second);
}

} // namespace

std::optional<Date> ParseHTTPDate(const std::string& text) {
    if (auto date = ParseRFC822Date(text)) {
        return date;
    }
    if (auto date = parseRFC850Date(text)) {
        return date;
    }
    return parseAsctimeDate(text);
}

std::string FormatISO8601Date(Date date) {
    std::tm tm{};
    if (!brokenDown(date, tm)) {
        return std::string();
    }
    // "2014-03-01T12:00:00+00:00"
    std::string text = "0000-00-00T00:00:00+00:00";
    putDigits(text, 0, tm.tm_year + 1900, 4);
    putDigits(text, 5, tm.tm_mon + 1, 2);
    putDigits(text, 8, tm.tm_mday, 2);
    putDigits(text, 11, tm.tm_hour, 2);
    putDigits(text, 14, tm.tm_min, 2);
    putDigits(text, 17, tm.tm_sec, 2);
    return text;
}

std::optional<Date> ParseISO8601Date(const std::string& text) {
    std::size_t pos = 0;
    int year = 0, month = 0, day = 0, hour = 0, minute = 0, second = 0;
    if (!readNumber(text, pos, 4, year) || !readLiteral(text, pos, "-") || !readNumber(text, pos, 2, month) ||
        !readLiteral(text, pos, "-") || !readNumber(text, pos, 2, day) || !readLiteral(text, pos, "T") ||
        !readNumber(text, pos, 2, hour) || !readLiteral(text, pos, ":") ||
        !readNumber(text, pos, 2, minute) || !readLiteral(text, pos, ":") ||
        !readNumber(text, pos, 2, second) || !readLiteral(text, pos, "+00:00") || pos != text.size()) {
        return std::nullopt;
    }
    return makeDate(year, month - 1, day, hour, minute, second);
}
