#pragma once

#include <foundation/Data.h>

#include <cstdint>
#include <optional>
#include <string>

namespace lanyard {

// Utilities of the application: the LAN address that gates every service start, dates and times,
// text validators and Base64. Dates use the system's time zone and locale; formats are ICU
// date-format patterns ("yyyy-MM-dd hh:mm:ss", where "hh" is the hour on the 12-hour clock).
class CommonFunction {
public:
    using Date = platform::Date;

    // The first IPv4 address, in the system's list of interface addresses, of an interface that is
    // not a loopback interface and whose name qualifies (isLanInterfaceName); none when none does.
    static std::optional<std::string> getHostName();
    // "en0" and "en1", and the Linux names of Ethernet and Wi-Fi interfaces: en*, eth*, wl*.
    static bool isLanInterfaceName(const std::string& name);

    static std::string getCurrentTime(const std::string& format);
    static std::string getStrTime(Date date, const std::string& fmt);
    // The moment `seconds` after 1970-01-01 00:00 UTC; "" when it is not a finite, representable time.
    static std::string stringFromDouble(const std::string& fmt, double seconds);
    static std::optional<Date> dateFromString(const std::string& text, const std::string& format);

    // The date plus n days / minutes / seconds by calendar arithmetic.
    static Date dateAfterDay(Date date, std::int32_t dayafter);
    static Date dateAfterMin(Date date, std::int32_t dayafter);
    static Date dateAfterSec(Date date, std::int32_t dayafter);

    // Whole calendar days from the date to now / to the second date.
    static std::int64_t daysAgo(Date date);
    static std::int64_t daysAgo(Date date, Date todate);
    // Whole days (of 86400 s) from the local midnight that starts the date's day to now: 0 for any
    // moment of today, 1 for yesterday.
    static std::int64_t daysAgoAgainstMidnight(Date date);

    static bool isNumbericString(const std::string& text);
    static bool isIPString(const std::string& text);
    static bool isPhoneNum(const std::string& text);
    static bool isTranNum(const std::string& text);
    // An 18-character identity number with its ISO 7064 MOD 11-2 check character.
    static bool isCardNum(const std::string& text);
    static bool isEmail(const std::string& text);

    // Standard Base64 of the UTF-8 bytes; "" stays "".
    static std::optional<std::string> encodeBase64String(const std::optional<std::string>& text);
    // None when the text is not strict Base64 or the bytes are not UTF-8; "" stays "".
    static std::optional<std::string> decodeBase64String(const std::optional<std::string>& text);
};

} // namespace lanyard
