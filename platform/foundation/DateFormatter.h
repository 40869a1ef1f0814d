#pragma once

#include "Data.h"

#include <memory>
#include <optional>
#include <string>

namespace platform {

// Formats and parses dates with an ICU date-format pattern ("EEE',' dd MMM yyyy HH':'mm':'ss 'GMT'"),
// a time zone ("GMT", or empty for the system's) and a locale ("en_US"). Not thread-safe: one
// thread at a time (callers serialise use of a shared formatter).
class DateFormatter {
public:
    DateFormatter(const std::string& pattern, const std::string& timeZone, const std::string& locale);
    ~DateFormatter();
    DateFormatter(const DateFormatter&) = delete;
    DateFormatter& operator=(const DateFormatter&) = delete;

    // False when ICU refused the pattern, zone or locale.
    bool isValid() const;
    std::string format(Date date) const;
    // The whole text must match the pattern; none otherwise.
    std::optional<Date> parse(const std::string& text) const;

private:
    struct Impl;
    std::unique_ptr<Impl> _impl;
};

} // namespace platform
