#pragma once

// Helpers of the request-body tests: a private temporary folder (TMPDIR points at it while it
// lives), request construction and multipart body building.

#include "WebServerRequest.h"
#include "foundation/FileSystem.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdint>
#include <cstring>
#include <fstream>
#include <optional>
#include <stdlib.h>
#include <string>
#include <sys/stat.h>
#include <unistd.h>
#include <vector>

namespace bodytest {

// A fresh folder that stands in as the system's temporary folder until it goes.
class ScopedTemporaryFolder {
public:
    ScopedTemporaryFolder() {
        if (const char* previous = ::getenv("TMPDIR")) {
            _previous = previous;
        }
        char pattern[] = "/tmp/request-bodies-XXXXXX";
        const char* made = ::mkdtemp(pattern);
        EXPECT_NE(made, nullptr);
        _path = made ? made : "/tmp";
        ::setenv("TMPDIR", _path.c_str(), 1);
    }
    ~ScopedTemporaryFolder() {
        platform::FileSystem::removeItem(_path);
        if (_previous) {
            ::setenv("TMPDIR", _previous->c_str(), 1);
        } else {
            ::unsetenv("TMPDIR");
        }
    }
    ScopedTemporaryFolder(const ScopedTemporaryFolder&) = delete;
    ScopedTemporaryFolder& operator=(const ScopedTemporaryFolder&) = delete;

    const std::string& path() const { return _path; }
    // The names in the folder, "." and ".." left out.
    std::vector<std::string> entries() const {
        return platform::FileSystem::contentsOfDirectory(_path).value_or(std::vector<std::string>{});
    }

private:
    std::string _path;
    std::optional<std::string> _previous;
};

inline std::optional<std::string> readFile(const std::string& path) {
    std::ifstream stream(path, std::ios::binary | std::ios::ate);
    if (!stream) {
        return std::nullopt;
    }
    std::string content(static_cast<std::size_t>(stream.tellg()), '\0');
    stream.seekg(0);
    stream.read(content.data(), static_cast<std::streamsize>(content.size()));
    return stream ? std::optional<std::string>(std::move(content)) : std::nullopt;
}

// Reproducible pseudo-random bytes (xorshift).
inline std::string randomBytes(std::size_t size, std::uint64_t seed) {
    std::string bytes(size, '\0');
    std::uint64_t state = seed * 0x9E3779B97F4A7C15ull + 1;
    for (std::size_t i = 0; i < size; i += 8) {
        state ^= state << 13;
        state ^= state >> 7;
        state ^= state << 17;
        std::memcpy(bytes.data() + i, &state, std::min<std::size_t>(8, size - i));
    }
    return bytes;
}

inline bool fileExists(const std::string& path) {
    struct stat status {};
    return ::lstat(path.c_str(), &status) == 0;
}

// A POST request of class T with the given header fields.
template <class T> std::shared_ptr<T> makeRequest(const HeaderDictionary& headers) {
    return WebServerRequest::create<T>("POST", *Url::parse("http://localhost/upload"), headers, "/upload",
                                       {});
}

inline Data toData(std::string_view text) {
    return Data(text.begin(), text.end());
}

// Builds a multipart body part by part.
class MultipartBuilder {
public:
    explicit MultipartBuilder(std::string boundary) : _boundary(std::move(boundary)) {}

    MultipartBuilder& field(const std::string& name, const std::string& value) {
        return part("Content-Disposition: form-data; name=\"" + name + "\"\r\n", value);
    }
    MultipartBuilder& file(const std::string& name, const std::string& fileName, const std::string& type,
                           const std::string& content) {
        return part("Content-Disposition: form-data; name=\"" + name + "\"; filename=\"" + fileName +
                        "\"\r\nContent-Type: " + type + "\r\n",
                    content);
    }
    // A part with the given header lines (each ending in CRLF).
    MultipartBuilder& part(const std::string& headerLines, const std::string& content) {
        _body += "--" + _boundary + "\r\n" + headerLines + "\r\n" + content + "\r\n";
        return *this;
    }
    // The body with its closing boundary.
    std::string finish() const { return _body + "--" + _boundary + "--\r\n"; }
    // The body so far (no closing boundary).
    const std::string& unfinished() const { return _body; }

private:
    std::string _boundary;
    std::string _body;
};

} // namespace bodytest
