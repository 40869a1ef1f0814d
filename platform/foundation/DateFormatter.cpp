#include "DateFormatter.h"

#include <unicode/locid.h>
#include <unicode/smpdtfmt.h>
#include <unicode/timezone.h>
#include <unicode/unistr.h>

#include <chrono>
#include <cmath>
#include <cstdint>

namespace platform {

struct DateFormatter::Impl {
    std::unique_ptr<icu::SimpleDateFormat> format;
    icu::UnicodeString trailingLiteral;
};

namespace {

// The literal text after the pattern's last field ("+00:00" of "...ss'+00:00'"). ICU takes a text
// that stops before (or inside) that literal as complete, so parse checks it separately.
icu::UnicodeString trailingLiteral(const icu::UnicodeString& pattern) {
    icu::UnicodeString literal;
    bool quoted = false;
    for (int32_t i = 0; i < pattern.length(); ++i) {
        const char16_t c = pattern.charAt(i);
        if (c == u'\'') {
            if (i + 1 < pattern.length() && pattern.charAt(i + 1) == u'\'') {
                literal.append(c);
                ++i;
            } else {
                quoted = !quoted;
            }
        } else if (!quoted && ((c >= u'A' && c <= u'Z') || (c >= u'a' && c <= u'z'))) {
            literal.remove();
        } else {
            literal.append(c);
        }
    }
    return literal;
}

std::unique_ptr<icu::TimeZone> makeTimeZone(const std::string& zone) {
    if (zone.empty()) {
        return std::unique_ptr<icu::TimeZone>(icu::TimeZone::createDefault());
    }
    std::unique_ptr<icu::TimeZone> tz(icu::TimeZone::createTimeZone(icu::UnicodeString::fromUTF8(zone)));
    // ICU hands back its "unknown" zone rather than failing for names it does not know.
    if (!tz || *tz == icu::TimeZone::getUnknown()) {
        return nullptr;
    }
    return tz;
}

std::unique_ptr<icu::SimpleDateFormat> makeFormat(const std::string& pattern, const std::string& timeZone,
                                                  const std::string& locale) {
    icu::Locale icuLocale(locale.c_str());
    if (icuLocale.isBogus()) {
        return nullptr;
    }
    std::unique_ptr<icu::TimeZone> tz = makeTimeZone(timeZone);
    if (!tz) {
        return nullptr;
    }
    UErrorCode status = U_ZERO_ERROR;
    auto format =
        std::make_unique<icu::SimpleDateFormat>(icu::UnicodeString::fromUTF8(pattern), icuLocale, status);
    if (U_FAILURE(status)) {
        return nullptr;
    }
    format->adoptTimeZone(tz.release());
    // Strict: no skipped or partly matched literals, no alternative patterns, no loose fields.
    format->setLenient(false);
    format->setBooleanAttribute(UDAT_PARSE_PARTIAL_LITERAL_MATCH, false, status);
    format->setBooleanAttribute(UDAT_PARSE_MULTIPLE_PATTERNS_FOR_MATCH, false, status);
    if (U_FAILURE(status)) {
        return nullptr;
    }
    return format;
}

} // namespace

DateFormatter::DateFormatter(const std::string& pattern, const std::string& timeZone,
                             const std::string& locale)
    : _impl(std::make_unique<Impl>()) {
    _impl->format = makeFormat(pattern, timeZone, locale);
    _impl->trailingLiteral = trailingLiteral(icu::UnicodeString::fromUTF8(pattern));
}

DateFormatter::~DateFormatter() = default;

bool DateFormatter::isValid() const {
    return _impl->format != nullptr;
}

std::string DateFormatter::format(Date date) const {
    if (!_impl->format) {
        return {};
    }
    const auto millis = std::chrono::floor<std::chrono::milliseconds>(date.time_since_epoch()).count();
    icu::UnicodeString text;
    _impl->format->format(static_cast<UDate>(millis), text);
    std::string result;
    text.toUTF8String(result);
    return result;
}

std::optional<Date> DateFormatter::parse(const std::string& text) const {
    if (!_impl->format) {
        return std::nullopt;
    }
    const icu::UnicodeString input = icu::UnicodeString::fromUTF8(text);
    icu::ParsePosition position(0);
    const UDate parsed = _impl->format->parse(input, position);
    if (position.getErrorIndex() >= 0 || position.getIndex() != input.length() ||
        !input.endsWith(_impl->trailingLiteral)) {
        return std::nullopt;
    }
    if (!std::isfinite(parsed)) {
        return std::nullopt;
    }
    const auto millis = std::chrono::milliseconds(static_cast<std::int64_t>(parsed));
    return Date(std::chrono::duration_cast<Date::duration>(millis));
}

} // namespace platform
