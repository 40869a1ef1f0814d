// klprobe date / parsedate: time stamps written and parsed in the four date forms.
#include "KL_DateTime.h"
#include "KL_TimeStamp.h"
#include "Probe.h"

#include <cstdio>
#include <cstdlib>

namespace {

bool FormatFromName(const std::string& name, KL_DateTime::Format& format) {
    static const struct {
        const char* name;
        KL_DateTime::Format format;
    } kFormats[] = {{"ansi", KL_DateTime::FORMAT_ANSI},
                    {"w3c", KL_DateTime::FORMAT_W3C},
                    {"rfc1123", KL_DateTime::FORMAT_RFC_1123},
                    {"rfc1036", KL_DateTime::FORMAT_RFC_1036}};
    for (const auto& entry : kFormats) {
        if (name == entry.name) {
            format = entry.format;
            return true;
        }
    }
    return false;
}

// "[-]SECONDS[.FRACTION]" (at most nine fraction digits) as exact nanoseconds; `overflow` is
// set when the value does not fit.
bool ParseSeconds(const std::string& text, int64_t& nanos, bool& overflow) {
    overflow = false;
    size_t i = 0;
    bool negative = i < text.size() && text[i] == '-';
    if (negative) {
        ++i;
    }
    int64_t seconds = 0;
    size_t digits = 0;
    for (; i < text.size() && text[i] >= '0' && text[i] <= '9'; ++i, ++digits) {
        if (__builtin_mul_overflow(seconds, 10, &seconds) ||
            __builtin_add_overflow(seconds, text[i] - '0', &seconds)) {
            overflow = true;
            return false;
        }
    }
    int64_t fraction = 0;
    int scale = 9;
    if (i < text.size() && text[i] == '.') {
        for (++i; i < text.size() && text[i] >= '0' && text[i] <= '9' && scale > 0; ++i, --scale, ++digits) {
            fraction = fraction * 10 + (text[i] - '0');
        }
    }
    if (digits == 0 || i != text.size()) {
        return false;
    }
    for (; scale > 0; --scale) {
        fraction *= 10;
    }
    if (__builtin_mul_overflow(seconds, int64_t{1000000000}, &nanos) ||
        __builtin_add_overflow(nanos, fraction, &nanos)) {
        overflow = true;
        return false;
    }
    if (negative) {
        nanos = -nanos;
    }
    return true;
}

bool ParseInt(const std::string& text, long& value) {
    char* end = nullptr;
    value = std::strtol(text.c_str(), &end, 10);
    return !text.empty() && *end == '\0';
}

} // namespace

#define DATE_USAGE "date SECONDS ansi|w3c|rfc1123|rfc1036 [--flags N] [--zone MINUTES] [--local]"

KLPROBE_COMMAND(date, DATE_USAGE) {
    int64_t nanos = 0;
    bool overflow = false;
    KL_DateTime::Format format;
    if (args.size() < 2 || !FormatFromName(args[1], format)) {
        return klprobe::Usage(DATE_USAGE);
    }
    if (!ParseSeconds(args[0], nanos, overflow)) {
        return overflow ? klprobe::Fail(KL_ERROR_OUT_OF_RANGE) : klprobe::Usage(DATE_USAGE);
    }
    long flags = 0;
    long zone = 0;
    bool changeZone = false;
    bool local = false;
    for (size_t i = 2; i < args.size(); ++i) {
        if (args[i] == "--local") {
            local = true;
        } else if (args[i] == "--flags" && i + 1 < args.size() && ParseInt(args[i + 1], flags)) {
            ++i;
        } else if (args[i] == "--zone" && i + 1 < args.size() && ParseInt(args[i + 1], zone)) {
            changeZone = true;
            ++i;
        } else {
            return klprobe::Usage(DATE_USAGE);
        }
    }
    KL_DateTime date;
    KL_Result result = date.FromTimeStamp(KL_TimeStamp::FromNanos(nanos), local);
    if (KL_SUCCEEDED(result) && changeZone) {
        result = date.ChangeTimeZone(static_cast<int32_t>(zone));
    }
    if (KL_FAILED(result)) {
        return klprobe::Fail(result);
    }
    KL_String text = date.ToString(format, static_cast<int>(flags));
    if (text.IsEmpty()) {
        return klprobe::Fail(KL_ERROR_OUT_OF_RANGE);
    }
    std::printf("%s\n", text.GetChars());
    return 0;
}

KLPROBE_COMMAND(parsedate, "parsedate ansi|w3c|rfc1123|rfc1036 TEXT") {
    KL_DateTime::Format format;
    if (args.size() != 2 || !FormatFromName(args[0], format)) {
        return klprobe::Usage("parsedate ansi|w3c|rfc1123|rfc1036 TEXT");
    }
    KL_DateTime date;
    KL_TimeStamp timestamp;
    KL_Result result = date.FromString(args[1].c_str(), format);
    if (KL_SUCCEEDED(result)) {
        result = date.ToTimeStamp(timestamp);
    }
    if (KL_FAILED(result)) {
        return klprobe::Fail(result);
    }
    std::printf("%lld\n", static_cast<long long>(timestamp.ToNanos()));
    return 0;
}
