#pragma once

#include <memory>
#include <optional>
#include <string>
#include <vector>

namespace platform {

// A regular expression of ICU's dialect, compiled once. Thread-safe: each search uses its own
// matcher.
class RegularExpression {
public:
    struct Options {
        bool caseInsensitive = false;
    };
    // None when the pattern does not compile.
    static std::shared_ptr<RegularExpression> create(const std::string& pattern, Options options);
    static std::shared_ptr<RegularExpression> create(const std::string& pattern) {
        return create(pattern, Options{});
    }
    ~RegularExpression();

    // True when the pattern matches anywhere in the text (unanchored search).
    bool search(const std::string& text) const;
    // True when the pattern matches the whole text.
    bool matchesWhole(const std::string& text) const;
    // For each match in order, one entry per capture group (the first to the last): the captured
    // text, or none for a group that took no part in that match.
    std::vector<std::vector<std::optional<std::string>>> allMatchCaptures(const std::string& text) const;
    std::size_t captureGroupCount() const;

    struct Impl;
    explicit RegularExpression(std::unique_ptr<Impl> impl);

private:
    std::unique_ptr<Impl> _impl;
};

} // namespace platform
