// KL_DateTime: conversions between calendar dates and time stamps, and the text forms.
#include "KL_DateTime.h"

#include "KL_Check.h"
#include "KL_Log.h"
#include "KL_Utils.h"

#include <cstdio>
#include <cstring>
#include <ctime>

KL_SET_LOCAL_LOGGER("keel.time");

const char* const KL_DateTime::DayNames[7] = {"Sun", "Mon", "Tue", "Wed", "Thu", "Fri", "Sat"};
const char* const KL_DateTime::DayNamesFull[7] = {"Sunday",   "Monday", "Tuesday", "Wednesday",
                                                  "Thursday", "Friday", "Saturday"};
const char* const KL_DateTime::MonthNames[12] = {"Jan", "Feb", "Mar", "Apr", "May", "Jun",
                                                 "Jul", "Aug", "Sep", "Oct", "Nov", "Dec"};

namespace {

constexpr int64_t kNanosPerSecond = 1000000000;
constexpr int64_t kSecondsPerDay = 86400;
constexpr int64_t kSecondsPerYear = 365 * kSecondsPerDay;
constexpr int64_t kSeconds1900To1970 = 2208988800LL;
constexpr int32_t kMaxZone = 720;

// Days of the year before each month (non-leap years).
constexpr int32_t kDaysBeforeMonth[12] = {0, 31, 59, 90, 120, 151, 181, 212, 243, 273, 304, 334};
// The last day of each month, counted from 0 at January 1st.
constexpr int32_t kLastDayOfMonth[2][12] = {{30, 58, 89, 119, 150, 180, 211, 242, 272, 303, 333, 364},
                                            {30, 59, 90, 120, 151, 181, 212, 243, 273, 304, 334, 365}};

bool IsLeapYear(int64_t year) {
    return (year % 4 == 0 && year % 100 != 0) || year % 400 == 0;
}

// Leap days from 1901 up to (not including) the year; 0 for years before 1901.
int64_t LeapDaysSince1901(int64_t year) {
    if (year < 1901) {
        return 0;
    }
    return (year - 1601) / 400 + (year - 1901) / 4 - (year - 1901) / 100;
}

// Division rounded towards minus infinity.
int64_t FloorDiv(int64_t value, int64_t divisor) {
    int64_t quotient = value / divisor;
    if (value % divisor < 0) {
        --quotient;
    }
    return quotient;
}

// Writes the lowest `digits` decimal digits of value, zero-padded on the left.
char* AppendNumber(char* out, uint32_t value, int digits) {
    for (int i = digits - 1; i >= 0; --i) {
        out[i] = static_cast<char>('0' + value % 10);
        value /= 10;
    }
    return out + digits;
}

char* AppendText(char* out, const char* text) {
    while (*text) {
        *out++ = *text++;
    }
    return out;
}

// " GMT", or " +hhmm" / " -hhmm".
char* AppendRfcZone(char* out, int32_t zone) {
    if (zone == 0) {
        return AppendText(out, " GMT");
    }
    *out++ = ' ';
    *out++ = zone < 0 ? '-' : '+';
    uint32_t magnitude = static_cast<uint32_t>(zone < 0 ? -zone : zone);
    out = AppendNumber(out, magnitude / 60, 2);
    return AppendNumber(out, magnitude % 60, 2);
}

char* AppendClock(char* out, const KL_DateTime& date) {
    out = AppendNumber(out, static_cast<uint32_t>(date.m_Hours), 2);
    *out++ = ':';
    out = AppendNumber(out, static_cast<uint32_t>(date.m_Minutes), 2);
    *out++ = ':';
    return AppendNumber(out, static_cast<uint32_t>(date.m_Seconds), 2);
}

char* FormatW3c(char* out, const KL_DateTime& date, int flags) {
    out = AppendNumber(out, static_cast<uint32_t>(date.m_Year), 4);
    *out++ = '-';
    out = AppendNumber(out, static_cast<uint32_t>(date.m_Month), 2);
    *out++ = '-';
    out = AppendNumber(out, static_cast<uint32_t>(date.m_Day), 2);
    *out++ = 'T';
    out = AppendClock(out, date);
    if (flags & KL_DateTime::FLAG_W3C_WITH_FRACTION) {
        *out++ = '.';
        if (flags & KL_DateTime::FLAG_W3C_WITH_NANOSECONDS) {
            out = AppendNumber(out, static_cast<uint32_t>(date.m_NanoSeconds), 9);
        } else {
            out = AppendNumber(out, static_cast<uint32_t>(date.m_NanoSeconds / 1000000), 3);
        }
    }
    if (date.m_TimeZone == 0) {
        *out++ = 'Z';
        return out;
    }
    *out++ = date.m_TimeZone < 0 ? '-' : '+';
    uint32_t magnitude = static_cast<uint32_t>(date.m_TimeZone < 0 ? -date.m_TimeZone : date.m_TimeZone);
    out = AppendNumber(out, magnitude / 60, 2);
    *out++ = ':';
    return AppendNumber(out, magnitude % 60, 2);
}

// RFC 1123 ("Thu, 01 Jan 1970 00:00:00 GMT") or RFC 1036 ("Thursday, 01-Jan-70 00:00:00 GMT").
char* FormatRfc(char* out, const KL_DateTime& date, bool rfc1036) {
    int32_t weekday = KL_DateTime::DayOfWeek(date.m_Year, date.m_Month, date.m_Day);
    out = AppendText(out, rfc1036 ? KL_DateTime::DayNamesFull[weekday] : KL_DateTime::DayNames[weekday]);
    char separator = rfc1036 ? '-' : ' ';
    *out++ = ',';
    *out++ = ' ';
    out = AppendNumber(out, static_cast<uint32_t>(date.m_Day), 2);
    *out++ = separator;
    out = AppendText(out, KL_DateTime::MonthNames[date.m_Month - 1]);
    *out++ = separator;
    if (rfc1036) {
        out = AppendNumber(out, static_cast<uint32_t>(date.m_Year % 100), 2);
    } else {
        out = AppendNumber(out, static_cast<uint32_t>(date.m_Year), 4);
    }
    *out++ = ' ';
    out = AppendClock(out, date);
    return AppendRfcZone(out, date.m_TimeZone);
}

} // namespace

KL_DateTime::KL_DateTime(const KL_TimeStamp& timestamp, bool local) {
    if (KL_FAILED(FromTimeStamp(timestamp, local))) {
        *this = KL_DateTime();
    }
}

KL_Result KL_DateTime::Validate() const {
    if (static_cast<uint32_t>(m_Year - 1901) > 361 || m_Month < 1 || m_Month > 12 || m_Day < 1 ||
        m_Day > 31 || m_Hours < 0 || m_Hours > 23 || m_Minutes < 0 || m_Minutes > 59 || m_Seconds < 0 ||
        m_Seconds > 59 || m_NanoSeconds < 0 || m_NanoSeconds > 999999999 || m_TimeZone < -kMaxZone ||
        m_TimeZone > kMaxZone) {
        return KL_ERROR_OUT_OF_RANGE;
    }
    return KL_SUCCESS;
}

int64_t KL_DateTime::DaysSince1900(int32_t year, int32_t month, int32_t day) {
    int64_t days = (static_cast<int64_t>(year) - 1900) * 365 + LeapDaysSince1901(year) +
                   kDaysBeforeMonth[month >= 1 && month <= 12 ? month - 1 : 0] + day - 1;
    if (IsLeapYear(year) && month >= 3) {
        ++days;
    }
    return days;
}

int32_t KL_DateTime::DayOfWeek(int32_t year, int32_t month, int32_t day) {
    // 1900-01-01 was a Monday.
    int64_t weekday = (DaysSince1900(year, month, day) + 1) % 7;
    return static_cast<int32_t>(weekday < 0 ? weekday + 7 : weekday);
}

KL_Result KL_DateTime::ToTimeStamp(KL_TimeStamp& timestamp) const {
    timestamp = KL_TimeStamp();
    KL_CHECK_FINE(Validate());
    // Whole seconds first: they always fit; only the scaling to nanoseconds can overflow
    // (after 2262-04-11 23:47:16.854775807 UTC).
    int64_t seconds = DaysSince1900(m_Year, m_Month, m_Day) * kSecondsPerDay + m_Hours * 3600LL +
                      (static_cast<int64_t>(m_Minutes) - m_TimeZone) * 60 + m_Seconds - kSeconds1900To1970;
    int64_t nanos = 0;
    if (__builtin_mul_overflow(seconds, kNanosPerSecond, &nanos) ||
        __builtin_add_overflow(nanos, static_cast<int64_t>(m_NanoSeconds), &nanos)) {
        return KL_ERROR_OUT_OF_RANGE;
    }
    timestamp = KL_TimeStamp::FromNanos(nanos);
    return KL_SUCCESS;
}

KL_Result KL_DateTime::FromTimeStamp(const KL_TimeStamp& timestamp, bool local) {
    // Seconds rounded towards minus infinity, so the nanoseconds stay within 0..999,999,999
    // before 1970 as after it.
    int64_t seconds = FloorDiv(timestamp.ToNanos(), kNanosPerSecond);
    int64_t nanos = timestamp.ToNanos() % kNanosPerSecond;
    if (nanos < 0) {
        nanos += kNanosPerSecond;
    }
    if (seconds < INT32_MIN) {
        return KL_ERROR_OUT_OF_RANGE;
    }
    int32_t zone = local ? GetLocalTimeZone() : 0;
    seconds += static_cast<int64_t>(zone) * 60;

    int64_t since1900 = seconds + kSeconds1900To1970;
    int64_t year = 1900 + since1900 / kSecondsPerYear;
    int64_t rest = since1900 - (year - 1900) * kSecondsPerYear - LeapDaysSince1901(year) * kSecondsPerDay;
    while (rest < 0) {
        --year;
        rest += (IsLeapYear(year) ? 366 : 365) * kSecondsPerDay;
    }
    int32_t dayOfYear = static_cast<int32_t>(rest / kSecondsPerDay);
    const int32_t* lastDays = kLastDayOfMonth[IsLeapYear(year) ? 1 : 0];
    int32_t month = 0;
    while (month < 11 && dayOfYear > lastDays[month]) {
        ++month;
    }
    int32_t secondOfDay = static_cast<int32_t>(rest % kSecondsPerDay);

    m_Year = static_cast<int32_t>(year);
    m_Month = month + 1;
    m_Day = dayOfYear - (month == 0 ? -1 : lastDays[month - 1]);
    m_Hours = secondOfDay / 3600;
    m_Minutes = secondOfDay / 60 % 60;
    m_Seconds = secondOfDay % 60;
    m_NanoSeconds = static_cast<int32_t>(nanos);
    m_TimeZone = zone;
    return KL_SUCCESS;
}

KL_Result KL_DateTime::ChangeTimeZone(int32_t zone) {
    if (zone < -kMaxZone || zone > kMaxZone) {
        return KL_ERROR_OUT_OF_RANGE;
    }
    KL_TimeStamp timestamp;
    KL_CHECK_FINE(ToTimeStamp(timestamp));
    int64_t nanos = 0;
    if (__builtin_add_overflow(timestamp.ToNanos(), static_cast<int64_t>(zone) * 60 * kNanosPerSecond,
                               &nanos)) {
        return KL_ERROR_OUT_OF_RANGE;
    }
    KL_DateTime changed;
    KL_CHECK_FINE(changed.FromTimeStamp(KL_TimeStamp::FromNanos(nanos), false));
    changed.m_TimeZone = zone;
    *this = changed;
    return KL_SUCCESS;
}

int32_t KL_DateTime::GetLocalTimeZone() {
    time_t epoch = 0;
    struct tm local = {};
    if (localtime_r(&epoch, &local) == nullptr) {
        return 0;
    }
    return static_cast<int32_t>(local.tm_gmtoff / 60);
}

KL_String KL_DateTime::ToString(Format format, int flags) const {
    if (KL_FAILED(Validate())) {
        return KL_String();
    }
    char text[80];
    char* end = text;
    switch (format) {
    case FORMAT_ANSI: {
        int32_t weekday = DayOfWeek(m_Year, m_Month, m_Day);
        int written = std::snprintf(text, sizeof text, "%.3s %.3s%3d %.2d:%.2d:%.2d %d", DayNames[weekday],
                                    MonthNames[m_Month - 1], m_Day, m_Hours, m_Minutes, m_Seconds, m_Year);
        end = text + (written > 0 ? written : 0);
        break;
    }
    case FORMAT_W3C:
        end = FormatW3c(text, *this, flags);
        break;
    case FORMAT_RFC_1123:
    case FORMAT_RFC_1036:
        end = FormatRfc(text, *this, format == FORMAT_RFC_1036);
        break;
    default:
        return KL_String();
    }
    return KL_String(text, static_cast<KL_Size>(end - text));
}

// Parsing.
namespace {

// Parses text[start, start + length) strictly as a signed 32-bit integer.
KL_Result ParseField(const char* text, size_t start, size_t length, int32_t& value) {
    char field[16];
    if (length == 0 || length >= sizeof field) {
        return KL_ERROR_INVALID_SYNTAX;
    }
    for (size_t i = 0; i < length; ++i) {
        field[i] = text[start + i];
    }
    field[length] = '\0';
    return KL_ParseInteger32(field, value, false);
}

int FindName(const char* text, size_t length, const char* const* names, int count) {
    for (int i = 0; i < count; ++i) {
        if (std::strlen(names[i]) == length && std::memcmp(names[i], text, length) == 0) {
            return i;
        }
    }
    return -1;
}

bool IsDigit(char c) {
    return c >= '0' && c <= '9';
}

bool TwoDigits(const char* text, int32_t& value) {
    if (!IsDigit(text[0]) || !IsDigit(text[1])) {
        return false;
    }
    value = (text[0] - '0') * 10 + (text[1] - '0');
    return true;
}

// The weekday named in the text must be the date's own.
KL_Result CheckDayName(const KL_DateTime& date, int dayName) {
    if (dayName != KL_DateTime::DayOfWeek(date.m_Year, date.m_Month, date.m_Day)) {
        return KL_ERROR_INVALID_PARAMETERS;
    }
    return KL_SUCCESS;
}

// "Wed Jan  1 00:00:00 2200" (asctime).
KL_Result ParseAnsi(const char* text, size_t length, KL_DateTime& date) {
    if (length != 24) {
        return KL_ERROR_INVALID_SYNTAX;
    }
    if (text[3] != ' ' || text[7] != ' ' || text[10] != ' ' || text[19] != ' ' || text[13] != ':' ||
        text[16] != ':') {
        return KL_ERROR_INVALID_SYNTAX;
    }
    char day[2] = {text[8] == ' ' ? '0' : text[8], text[9]};
    int month = FindName(text + 4, 3, KL_DateTime::MonthNames, 12);
    date.m_Month = month + 1;
    KL_CHECK_FINE(ParseField(day, 0, 2, date.m_Day));
    KL_CHECK_FINE(ParseField(text, 11, 2, date.m_Hours));
    KL_CHECK_FINE(ParseField(text, 14, 2, date.m_Minutes));
    KL_CHECK_FINE(ParseField(text, 17, 2, date.m_Seconds));
    KL_CHECK_FINE(ParseField(text, 20, 4, date.m_Year));
    date.m_NanoSeconds = 0;
    date.m_TimeZone = 0;
    KL_CHECK_FINE(date.Validate());
    return CheckDayName(date, FindName(text, 3, KL_DateTime::DayNames, 7));
}

// The W3C zone designator at the end of the text: "Z", "+hh:mm", "-hh:mm" or none. `end` is
// set to where the designator begins.
KL_Result ParseW3cZone(const char* text, size_t length, size_t& end, KL_DateTime& date) {
    end = length;
    if (text[length - 1] == 'Z') {
        date.m_TimeZone = 0;
        end = length - 1;
        return KL_SUCCESS;
    }
    char sign = text[length - 6];
    if (sign != '+' && sign != '-') {
        return KL_SUCCESS;
    }
    int32_t hours = 0;
    int32_t minutes = 0;
    if (text[length - 3] != ':' || !TwoDigits(text + length - 5, hours) ||
        !TwoDigits(text + length - 2, minutes) || hours > 59 || minutes > 59) {
        return KL_ERROR_INVALID_SYNTAX;
    }
    date.m_TimeZone = (sign == '-' ? -1 : 1) * (hours * 60 + minutes);
    end = length - 6;
    return KL_SUCCESS;
}

// "2200-01-01", or "2200-01-01T00:00[:00[.fraction]][zone]".
KL_Result ParseW3c(const char* text, size_t length, KL_DateTime& date) {
    if ((length != 10 && length < 17) || text[4] != '-' || text[7] != '-') {
        return KL_ERROR_INVALID_SYNTAX;
    }
    KL_CHECK_FINE(ParseField(text, 0, 4, date.m_Year));
    KL_CHECK_FINE(ParseField(text, 5, 2, date.m_Month));
    KL_CHECK_FINE(ParseField(text, 8, 2, date.m_Day));
    if (length == 10) {
        return date.Validate();
    }
    if (text[10] != 'T' || text[13] != ':') {
        return KL_ERROR_INVALID_SYNTAX;
    }
    KL_CHECK_FINE(ParseField(text, 11, 2, date.m_Hours));
    KL_CHECK_FINE(ParseField(text, 14, 2, date.m_Minutes));
    size_t end = length;
    KL_CHECK_FINE(ParseW3cZone(text, length, end, date));
    size_t position = 16;
    date.m_Seconds = 0;
    date.m_NanoSeconds = 0;
    if (text[16] == ':') {
        if (length < 20) {
            return KL_ERROR_INVALID_SYNTAX;
        }
        KL_CHECK_FINE(ParseField(text, 17, 2, date.m_Seconds));
        position = 19;
        if (position < end && text[position] == '.') {
            // Nine digits at most are kept, padded with "0" on the right.
            int32_t nanos = 0;
            size_t digits = 0;
            for (++position; position < end && IsDigit(text[position]); ++position, ++digits) {
                if (digits < 9) {
                    nanos = nanos * 10 + (text[position] - '0');
                }
            }
            if (digits == 0) {
                return KL_ERROR_INVALID_SYNTAX;
            }
            for (; digits < 9; ++digits) {
                nanos *= 10;
            }
            date.m_NanoSeconds = nanos;
        }
    }
    // Nothing may stand between the time and the zone designator.
    if (position != end) {
        return KL_ERROR_INVALID_SYNTAX;
    }
    return date.Validate();
}

// The zone of the RFC forms: a name, a military letter or "+hhmm" / "-hhmm".
KL_Result ParseRfcZone(const char* zone, size_t length, int32_t& minutes) {
    static const struct {
        const char* name;
        int32_t minutes;
    } kNames[] = {{"GMT", 0},    {"UT", 0},     {"Z", 0},      {"EDT", -240}, {"EST", -300}, {"CDT", -300},
                  {"CST", -360}, {"MDT", -360}, {"MST", -420}, {"PDT", -420}, {"PST", -480}};
    for (const auto& entry : kNames) {
        if (std::strlen(entry.name) == length && std::memcmp(entry.name, zone, length) == 0) {
            minutes = entry.minutes;
            return KL_SUCCESS;
        }
    }
    if (length == 1) {
        char letter = zone[0];
        if (letter >= 'A' && letter <= 'I') {
            minutes = -60 * (letter - 'A' + 1);
        } else if (letter >= 'K' && letter <= 'M') {
            minutes = -60 * (letter - 'A');
        } else if (letter >= 'N' && letter <= 'Y') {
            minutes = 60 * (letter - 'M');
        } else {
            return KL_ERROR_INVALID_SYNTAX;
        }
        return KL_SUCCESS;
    }
    int32_t hh = 0;
    int32_t mm = 0;
    if (length != 5 || (zone[0] != '+' && zone[0] != '-') || !TwoDigits(zone + 1, hh) ||
        !TwoDigits(zone + 3, mm) || hh > 59 || mm > 59) {
        return KL_ERROR_INVALID_SYNTAX;
    }
    minutes = (zone[0] == '-' ? -1 : 1) * (hh * 60 + mm);
    return KL_SUCCESS;
}

// "Wed, 01 Jan 2200 00:00:00 GMT" or "Wednesday, 01-Jan-00 00:00:00 GMT" (either year width in
// either form).
KL_Result ParseRfc(const char* text, size_t length, bool rfc1036, KL_DateTime& date) {
    if (length < 26) {
        return KL_ERROR_INVALID_SYNTAX;
    }
    const char* comma = static_cast<const char*>(std::memchr(text, ',', length));
    const char* lastSpace = text + length;
    while (lastSpace > text && lastSpace[-1] != ' ') {
        --lastSpace;
    }
    if (comma == nullptr || lastSpace == text || lastSpace <= comma + 1) {
        return KL_ERROR_INVALID_SYNTAX;
    }
    // The middle runs from the space after the comma to the space before the zone, both included.
    const char* middle = comma + 1;
    size_t middleLength = static_cast<size_t>(lastSpace - middle);
    size_t yearDigits = middleLength == 22 ? 4 : middleLength == 20 ? 2 : 0;
    char separator = rfc1036 ? '-' : ' ';
    if (yearDigits == 0 || middle[0] != ' ' || middle[3] != separator || middle[7] != separator) {
        return KL_ERROR_INVALID_SYNTAX;
    }
    size_t clock = 8 + yearDigits + 1;
    if (middle[clock - 1] != ' ' || middle[clock + 2] != ':' || middle[clock + 5] != ':') {
        return KL_ERROR_INVALID_SYNTAX;
    }
    int32_t zone = 0;
    KL_CHECK_FINE(ParseRfcZone(lastSpace, static_cast<size_t>(text + length - lastSpace), zone));
    KL_CHECK_FINE(ParseField(middle, 1, 2, date.m_Day));
    date.m_Month = FindName(middle + 4, 3, KL_DateTime::MonthNames, 12) + 1;
    KL_CHECK_FINE(ParseField(middle, 8, yearDigits, date.m_Year));
    if (yearDigits == 2) {
        date.m_Year += 1900;
    }
    KL_CHECK_FINE(ParseField(middle, clock, 2, date.m_Hours));
    KL_CHECK_FINE(ParseField(middle, clock + 3, 2, date.m_Minutes));
    KL_CHECK_FINE(ParseField(middle, clock + 6, 2, date.m_Seconds));
    date.m_NanoSeconds = 0;
    date.m_TimeZone = zone;
    KL_CHECK_FINE(date.Validate());
    size_t nameLength = static_cast<size_t>(comma - text);
    return CheckDayName(
        date, FindName(text, nameLength, rfc1036 ? KL_DateTime::DayNamesFull : KL_DateTime::DayNames, 7));
}

} // namespace

KL_Result KL_DateTime::FromString(const char* text, Format format) {
    if (text == nullptr || text[0] == '\0') {
        return KL_ERROR_INVALID_PARAMETERS;
    }
    size_t length = std::strlen(text);
    KL_DateTime parsed(*this);
    KL_Result result = KL_ERROR_INVALID_PARAMETERS;
    switch (format) {
    case FORMAT_ANSI:
        result = ParseAnsi(text, length, parsed);
        break;
    case FORMAT_W3C:
        result = ParseW3c(text, length, parsed);
        break;
    case FORMAT_RFC_1123:
    case FORMAT_RFC_1036:
        result = ParseRfc(text, length, format == FORMAT_RFC_1036, parsed);
        break;
    }
    if (KL_SUCCEEDED(result)) {
        *this = parsed;
    }
    return result;
}
