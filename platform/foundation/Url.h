#pragma once

#include <optional>
#include <string>

namespace platform {

// A URL kept as its text with its parts split out. The path and the query stay percent-escaped as
// they were received; callers unescape them when they need to.
class Url {
public:
    // Parses an absolute URL ("http://host:port/path?query#fragment"). None when it is not one.
    static std::optional<Url> parse(const std::string& text);
    // Builds the URL of a request target: an absolute URL as it stands, or an origin-form target
    // ("/path?query") resolved against "http://HOST" (HOST from the Host header, "localhost" when
    // none). None when the target is neither.
    static std::optional<Url> fromRequestTarget(const std::string& target, const std::string& host);

    const std::string& absoluteString() const { return _text; }
    const std::string& scheme() const { return _scheme; }
    const std::string& host() const { return _host; }
    // The port written in the URL, or -1 when none is.
    int port() const { return _port; }
    // The escaped path ("/" when the URL has an authority and no path).
    const std::string& path() const { return _path; }
    // The escaped query without "?", or none when the URL has no "?".
    const std::optional<std::string>& query() const { return _query; }
    const std::optional<std::string>& fragment() const { return _fragment; }

    bool operator==(const Url& other) const { return _text == other._text; }

private:
    std::string _text;
    std::string _scheme;
    std::string _host;
    int _port = -1;
    std::string _path;
    std::optional<std::string> _query;
    std::optional<std::string> _fragment;
};

} // namespace platform
