// Entity-tag lists of conditional requests, compared as RFC 9110 §8.8.3.2 says.

#include "WebServerFunctions.h"

namespace {

std::string_view withoutQuotes(std::string_view text) {
    if (text.size() >= 2 && text.front() == '"' && text.back() == '"') {
        text = text.substr(1, text.size() - 2);
    }
    return text;
}

// Whether one member of a list ("W/" and quotes optional) names the ETag.
bool memberMatches(std::string_view member, std::string_view eTag, bool strong) {
    member = TrimOptionalWhitespace(member);
    if (member.size() >= 2 && member[0] == 'W' && member[1] == '/') {
        if (strong) {
            return false;
        }
        member.remove_prefix(2);
    }
    const std::string_view opaque = withoutQuotes(member);
    return !opaque.empty() && opaque == withoutQuotes(eTag);
}

} // namespace

bool EntityTagListMatches(std::string_view list, std::string_view eTag, bool strong) {
    bool quoted = false;
    std::size_t start = 0;
    for (std::size_t i = 0; i <= list.size(); ++i) {
        if (i < list.size() && list[i] == '"') {
            quoted = !quoted;
        }
        if (i < list.size() && (list[i] != ',' || quoted)) {
            continue;
        }
        if (memberMatches(list.substr(start, i - start), eTag, strong)) {
            return true;
        }
        start = i + 1;
    }
    return false;
}

bool IsAnyEntityTag(std::string_view list) {
    return TrimOptionalWhitespace(list) == "*";
}

std::string_view TrimOptionalWhitespace(std::string_view text) {
    while (!text.empty() && (text.front() == ' ' || text.front() == '\t')) {
        text.remove_prefix(1);
    }
    while (!text.empty() && (text.back() == ' ' || text.back() == '\t')) {
        text.remove_suffix(1);
    }
    return text;
}
