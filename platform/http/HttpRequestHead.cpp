#include "HttpRequestHead.h"

#include <cstring>
#include <string_view>

// Wire rules, as enforced here:
// - lines end with "\r\n"; a bare "\n" is accepted as well, a CR anywhere else refuses the head;
// - empty lines before the request line are skipped (clients may send a stray CRLF after a body);
//   they count towards the maximum size;
// - the request line is exactly METHOD SP TARGET SP VERSION, with METHOD an HTTP token, TARGET
//   free of spaces and control characters, VERSION "HTTP/1.0" or "HTTP/1.1";
// - a header line is NAME ":" VALUE with NAME a token (no space before the colon); a line starting
//   with a space or a tab (obsolete folding) is refused;
// - control characters other than the tab refuse the head wherever they appear (NUL included);
// - the maximum size covers every byte of the head, the final blank line included.

namespace platform {

namespace {

bool isTokenCharacter(char c) {
    static constexpr std::string_view kSymbols = "!#$%&'*+-.^_`|~";
    return (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9') ||
           kSymbols.find(c) != std::string_view::npos;
}

bool isToken(std::string_view text) {
    if (text.empty()) {
        return false;
    }
    for (char c : text) {
        if (!isTokenCharacter(c)) {
            return false;
        }
    }
    return true;
}

// Any control character but the tab, and DEL.
bool hasForbiddenControl(std::string_view line) {
    for (char c : line) {
        const auto byte = static_cast<unsigned char>(c);
        if ((byte < 0x20 && byte != '\t') || byte == 0x7F) {
            return true;
        }
    }
    return false;
}

bool isWhitespace(char c) {
    return c == ' ' || c == '\t';
}

std::string_view trimmed(std::string_view text) {
    while (!text.empty() && isWhitespace(text.front())) {
        text.remove_prefix(1);
    }
    while (!text.empty() && isWhitespace(text.back())) {
        text.remove_suffix(1);
    }
    return text;
}

} // namespace

HttpRequestHead::HttpRequestHead(std::size_t maximumSize) : _maximumSize(maximumSize) {}

bool HttpRequestHead::appendBytes(const std::uint8_t* bytes, std::size_t length, std::size_t* consumed) {
    std::size_t offset = 0;
    while (!_refused && !_complete && offset < length) {
        const std::uint8_t* start = bytes + offset;
        const std::size_t available = length - offset;
        const auto* newline = static_cast<const std::uint8_t*>(std::memchr(start, '\n', available));
        const std::size_t take =
            newline != nullptr ? static_cast<std::size_t>(newline - start) + 1 : available;
        // Every byte taken belongs to the head, so a head that cannot end within the limit is
        // refused before anything more is buffered (the bytes up to the limit count as consumed,
        // whatever the slicing).
        const std::size_t budget = _maximumSize - _size;
        if (take > budget) {
            _size += budget;
            offset += budget;
            refuse();
            break;
        }
        _line.append(reinterpret_cast<const char*>(start), take);
        _size += take;
        offset += take;
        if (newline != nullptr) {
            std::string line;
            line.swap(_line);
            line.pop_back();
            if (!line.empty() && line.back() == '\r') {
                line.pop_back();
            }
            if (!parseLine(line)) {
                refuse();
            }
        }
    }
    if (consumed != nullptr) {
        *consumed = offset;
    }
    return !_refused;
}

bool HttpRequestHead::parseLine(const std::string& line) {
    if (line.find('\r') != std::string::npos || hasForbiddenControl(line)) {
        return false;
    }
    if (!_sawRequestLine) {
        if (line.empty()) {
            return true;
        }
        return parseRequestLine(line);
    }
    if (line.empty()) {
        _complete = true;
        return true;
    }
    if (isWhitespace(line.front())) {
        return false;
    }
    const std::size_t colon = line.find(':');
    if (colon == std::string::npos) {
        return false;
    }
    const std::string_view name = std::string_view(line).substr(0, colon);
    if (!isToken(name)) {
        return false;
    }
    const std::string_view value = trimmed(std::string_view(line).substr(colon + 1));
    const auto found = _headers.find(name);
    if (found == _headers.end()) {
        _headers.emplace(std::string(name), std::string(value));
    } else {
        found->second.append(", ").append(value);
    }
    return true;
}

bool HttpRequestHead::parseRequestLine(const std::string& line) {
    const std::size_t firstSpace = line.find(' ');
    if (firstSpace == std::string::npos) {
        return false;
    }
    const std::size_t secondSpace = line.find(' ', firstSpace + 1);
    if (secondSpace == std::string::npos || line.find(' ', secondSpace + 1) != std::string::npos) {
        return false;
    }
    const std::string_view text(line);
    const std::string_view method = text.substr(0, firstSpace);
    const std::string_view target = text.substr(firstSpace + 1, secondSpace - firstSpace - 1);
    const std::string_view version = text.substr(secondSpace + 1);
    if (!isToken(method) || target.empty() || target.find('\t') != std::string_view::npos) {
        return false;
    }
    if (version != "HTTP/1.1" && version != "HTTP/1.0") {
        return false;
    }
    _method.assign(method);
    _target.assign(target);
    _version.assign(version);
    _sawRequestLine = true;
    return true;
}

bool HttpRequestHead::refuse() {
    _refused = true;
    _line.clear();
    _line.shrink_to_fit();
    return false;
}

std::optional<Url> HttpRequestHead::url() const {
    if (!_complete) {
        return std::nullopt;
    }
    const auto host = _headers.find("Host");
    return Url::fromRequestTarget(_target, host != _headers.end() ? host->second : std::string());
}

} // namespace platform
