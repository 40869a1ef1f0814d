#include "RegularExpression.h"

#include <unicode/regex.h>
#include <unicode/unistr.h>

#include <algorithm>

namespace platform {

struct RegularExpression::Impl {
    std::unique_ptr<icu::RegexPattern> pattern;
    std::size_t groupCount = 0;
};

namespace {

std::string toUtf8(const icu::UnicodeString& text) {
    std::string result;
    text.toUTF8String(result);
    return result;
}

// A matcher of its own over `input`, which must outlive it.
std::unique_ptr<icu::RegexMatcher> makeMatcher(const icu::RegexPattern& pattern,
                                               const icu::UnicodeString& input) {
    UErrorCode status = U_ZERO_ERROR;
    std::unique_ptr<icu::RegexMatcher> matcher(pattern.matcher(input, status));
    if (U_FAILURE(status)) {
        return nullptr;
    }
    return matcher;
}

} // namespace

std::shared_ptr<RegularExpression> RegularExpression::create(const std::string& pattern, Options options) {
    UErrorCode status = U_ZERO_ERROR;
    UParseError parseError{};
    const uint32_t flags = options.caseInsensitive ? UREGEX_CASE_INSENSITIVE : 0;
    std::unique_ptr<icu::RegexPattern> compiled(
        icu::RegexPattern::compile(icu::UnicodeString::fromUTF8(pattern), flags, parseError, status));
    if (U_FAILURE(status) || !compiled) {
        return nullptr;
    }
    // The pattern itself does not tell its group count; a matcher over nothing does.
    const icu::UnicodeString empty;
    auto probe = makeMatcher(*compiled, empty);
    if (!probe) {
        return nullptr;
    }
    auto impl = std::make_unique<Impl>();
    impl->groupCount = static_cast<std::size_t>(std::max(probe->groupCount(), int32_t{0}));
    probe.reset();
    impl->pattern = std::move(compiled);
    return std::make_shared<RegularExpression>(std::move(impl));
}

RegularExpression::RegularExpression(std::unique_ptr<Impl> impl) : _impl(std::move(impl)) {}

RegularExpression::~RegularExpression() = default;

bool RegularExpression::search(const std::string& text) const {
    const icu::UnicodeString input = icu::UnicodeString::fromUTF8(text);
    auto matcher = makeMatcher(*_impl->pattern, input);
    return matcher && matcher->find();
}

bool RegularExpression::matchesWhole(const std::string& text) const {
    const icu::UnicodeString input = icu::UnicodeString::fromUTF8(text);
    auto matcher = makeMatcher(*_impl->pattern, input);
    if (!matcher) {
        return false;
    }
    UErrorCode status = U_ZERO_ERROR;
    const bool matched = matcher->matches(status);
    return U_SUCCESS(status) && matched;
}

std::vector<std::vector<std::optional<std::string>>>
RegularExpression::allMatchCaptures(const std::string& text) const {
    std::vector<std::vector<std::optional<std::string>>> result;
    const icu::UnicodeString input = icu::UnicodeString::fromUTF8(text);
    auto matcher = makeMatcher(*_impl->pattern, input);
    if (!matcher) {
        return result;
    }
    const int32_t groups = matcher->groupCount();
    while (matcher->find()) {
        std::vector<std::optional<std::string>> captures;
        captures.reserve(static_cast<std::size_t>(groups));
        for (int32_t group = 1; group <= groups; ++group) {
            UErrorCode status = U_ZERO_ERROR;
            if (matcher->start(group, status) < 0 || U_FAILURE(status)) {
                captures.emplace_back(std::nullopt);
                continue;
            }
            const icu::UnicodeString captured = matcher->group(group, status);
            captures.emplace_back(U_SUCCESS(status) ? std::optional<std::string>(toUtf8(captured))
                                                    : std::nullopt);
        }
        result.push_back(std::move(captures));
    }
    return result;
}

std::size_t RegularExpression::captureGroupCount() const {
    return _impl->groupCount;
}

} // namespace platform
