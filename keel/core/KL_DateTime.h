// KL_DateTime: a calendar date and time of day with the offset of its zone, converted to and
// from KL_TimeStamp and written and parsed in four text forms (asctime, W3C/ISO 8601,
// RFC 1123 and RFC 1036).
//
// Valid dates lie between 1901 and 2262; the day is checked against 1..31 only (February 30
// passes). The zone is the offset of the local time from UTC in minutes, east positive.
#pragma once

#include "KL_Result.h"
#include "KL_String.h"
#include "KL_TimeStamp.h"

#include <cstdint>

class KL_DateTime {
public:
    enum Format : int {
        FORMAT_ANSI = 0,
        FORMAT_W3C = 1,
        FORMAT_RFC_1123 = 2,
        FORMAT_RFC_1036 = 3,
    };
    // Flags of the W3C form.
    static constexpr int FLAG_W3C_WITH_FRACTION = 0x01;
    static constexpr int FLAG_W3C_WITH_NANOSECONDS = 0x02;

    static const char* const DayNames[7];     // "Sun" .. "Sat"
    static const char* const DayNamesFull[7]; // "Sunday" .. "Saturday"
    static const char* const MonthNames[12];  // "Jan" .. "Dec"

    // 1970-01-01 00:00:00.000000000, zone 0.
    KL_DateTime() = default;
    // The instant in UTC or, when local, in the zone of GetLocalTimeZone. A stamp that cannot
    // be converted leaves the default date.
    KL_DateTime(const KL_TimeStamp& timestamp, bool local);

    KL_Result FromTimeStamp(const KL_TimeStamp& timestamp, bool local = false);
    // Out is 0 on failure.
    KL_Result ToTimeStamp(KL_TimeStamp& timestamp) const;
    KL_Result ChangeTimeZone(int32_t zone);
    // An empty string for an invalid date or an unknown format.
    KL_String ToString(Format format = FORMAT_ANSI, int flags = 0) const;
    // On failure the fields keep their values.
    KL_Result FromString(const char* text, Format format = FORMAT_ANSI);

    // The offset of the local zone in minutes at 1970-01-01 00:00:00 UTC (used for every date).
    static int32_t GetLocalTimeZone();

    // Whether every field lies in its range: KL_SUCCESS or KL_ERROR_OUT_OF_RANGE.
    KL_Result Validate() const;
    // Days since 1900-01-01 (0 for that day) and the day of the week (0 = Sunday) of a date
    // whose fields are valid.
    static int64_t DaysSince1900(int32_t year, int32_t month, int32_t day);
    static int32_t DayOfWeek(int32_t year, int32_t month, int32_t day);

    bool operator==(const KL_DateTime& other) const = default;

    int32_t m_Year = 1970;
    int32_t m_Month = 1;
    int32_t m_Day = 1;
    int32_t m_Hours = 0;
    int32_t m_Minutes = 0;
    int32_t m_Seconds = 0;
    int32_t m_NanoSeconds = 0;
    int32_t m_TimeZone = 0;
};
