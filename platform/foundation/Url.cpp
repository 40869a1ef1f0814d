#include "Url.h"

#include "CaseInsensitive.h"

#include <string_view>

// Accepted forms: scheme "://" authority path-abempty ["?" query] ["#" fragment]. The scheme is
// reported in lower case; everything else (host case, percent escapes, the text itself) is kept as
// written. Texts with spaces, control characters or DEL are refused; bytes above 0x7F are let
// through in the path, query and fragment (some clients send UTF-8 unescaped) but never in the host.

namespace platform {

namespace {

bool isAlpha(char c) {
    return (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z');
}
bool isDigit(char c) {
    return c >= '0' && c <= '9';
}
bool isHexDigit(char c) {
    return isDigit(c) || (c >= 'a' && c <= 'f') || (c >= 'A' && c <= 'F');
}

bool isSpaceOrControl(char c) {
    const auto byte = static_cast<unsigned char>(c);
    return byte <= 0x20 || byte == 0x7F;
}

bool hasSpaceOrControl(std::string_view text) {
    for (char c : text) {
        if (isSpaceOrControl(c)) {
            return true;
        }
    }
    return false;
}

bool isSchemeCharacter(char c) {
    return isAlpha(c) || isDigit(c) || c == '+' || c == '-' || c == '.';
}

// reg-name: unreserved, percent escapes and sub-delimiters.
bool isRegNameCharacter(char c) {
    static constexpr std::string_view kOthers = "-._~%!$&'()*+,;=";
    return isAlpha(c) || isDigit(c) || kOthers.find(c) != std::string_view::npos;
}

bool isValidRegName(std::string_view host) {
    for (char c : host) {
        if (!isRegNameCharacter(c)) {
            return false;
        }
    }
    return true;
}

bool isValidIpLiteral(std::string_view host) {
    if (host.empty()) {
        return false;
    }
    for (char c : host) {
        if (!isHexDigit(c) && c != ':' && c != '.') {
            return false;
        }
    }
    return true;
}

// Reads ":port" (digits only, at most 65535; an empty port counts as none).
bool parsePort(std::string_view text, int& port) {
    port = -1;
    if (text.empty()) {
        return true;
    }
    if (text.front() != ':') {
        return false;
    }
    text.remove_prefix(1);
    if (text.empty()) {
        return true;
    }
    if (text.size() > 5) {
        return false;
    }
    int value = 0;
    for (char c : text) {
        if (!isDigit(c)) {
            return false;
        }
        value = value * 10 + (c - '0');
    }
    if (value > 65535) {
        return false;
    }
    port = value;
    return true;
}

// Splits "[userinfo@]host[:port]"; the user information is dropped.
bool parseAuthority(std::string_view authority, std::string& host, int& port) {
    const std::size_t at = authority.rfind('@');
    if (at != std::string_view::npos) {
        authority.remove_prefix(at + 1);
    }
    if (!authority.empty() && authority.front() == '[') {
        const std::size_t close = authority.find(']');
        if (close == std::string_view::npos) {
            return false;
        }
        const std::string_view literal = authority.substr(1, close - 1);
        if (!isValidIpLiteral(literal)) {
            return false;
        }
        host.assign(literal);
        return parsePort(authority.substr(close + 1), port);
    }
    const std::size_t colon = authority.find(':');
    const std::string_view name = authority.substr(0, colon);
    if (!isValidRegName(name)) {
        return false;
    }
    host.assign(name);
    return parsePort(colon == std::string_view::npos ? std::string_view() : authority.substr(colon), port);
}

// Reads the scheme and the "://" after it; `rest` receives what follows.
bool parseScheme(std::string_view text, std::string& scheme, std::string_view& rest) {
    if (text.empty() || !isAlpha(text.front())) {
        return false;
    }
    std::size_t end = 1;
    while (end < text.size() && isSchemeCharacter(text[end])) {
        ++end;
    }
    if (text.substr(end, 3) != "://") {
        return false;
    }
    scheme = asciiLowercase(text.substr(0, end));
    rest = text.substr(end + 3);
    return true;
}

// A Host header fit to be put after "http://".
bool isUsableHost(std::string_view host) {
    if (host.empty() || hasSpaceOrControl(host)) {
        return false;
    }
    return host.find_first_of("/?#@") == std::string_view::npos;
}

} // namespace

std::optional<Url> Url::parse(const std::string& text) {
    if (hasSpaceOrControl(text)) {
        return std::nullopt;
    }
    Url url;
    std::string_view rest;
    if (!parseScheme(text, url._scheme, rest)) {
        return std::nullopt;
    }
    const std::size_t authorityEnd = rest.find_first_of("/?#");
    if (!parseAuthority(rest.substr(0, authorityEnd), url._host, url._port)) {
        return std::nullopt;
    }
    rest.remove_prefix(authorityEnd == std::string_view::npos ? rest.size() : authorityEnd);

    const std::size_t hash = rest.find('#');
    if (hash != std::string_view::npos) {
        url._fragment = std::string(rest.substr(hash + 1));
        rest = rest.substr(0, hash);
    }
    const std::size_t question = rest.find('?');
    if (question != std::string_view::npos) {
        url._query = std::string(rest.substr(question + 1));
        rest = rest.substr(0, question);
    }
    url._path = rest.empty() ? std::string("/") : std::string(rest);
    url._text = text;
    return url;
}

std::optional<Url> Url::fromRequestTarget(const std::string& target, const std::string& host) {
    if (target.empty() || hasSpaceOrControl(target)) {
        return std::nullopt;
    }
    if (target.front() != '/') {
        // Absolute form; "*" and the authority form ("host:port") are not URLs and fail here.
        return parse(target);
    }
    if (isUsableHost(host)) {
        if (auto url = parse("http://" + host + target)) {
            return url;
        }
    }
    return parse("http://localhost" + target);
}

} // namespace platform
