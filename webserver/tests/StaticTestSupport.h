#pragma once

// Helpers of the response and static-handler tests: a scratch folder and file helpers.

#include "foundation/FileSystem.h"

#include <stdlib.h>

#include <fstream>
#include <sstream>
#include <string>

namespace statictest {

// A fresh folder in /tmp, removed with everything in it at the end.
class ScratchFolder {
public:
    // In /tmp, or where the mkdtemp pattern says.
    explicit ScratchFolder(std::string pattern = "/tmp/lanyard-static-XXXXXX") {
        if (::mkdtemp(pattern.data())) {
            _path = pattern;
        }
    }
    ~ScratchFolder() {
        if (!_path.empty()) {
            platform::FileSystem::removeItem(_path);
        }
    }
    ScratchFolder(const ScratchFolder&) = delete;
    ScratchFolder& operator=(const ScratchFolder&) = delete;

    bool valid() const { return !_path.empty(); }
    const std::string& path() const { return _path; }
    std::string operator/(const std::string& name) const { return _path + "/" + name; }

private:
    std::string _path;
};

inline bool writeFile(const std::string& path, const std::string& contents) {
    std::ofstream out(path, std::ios::binary);
    out << contents;
    return static_cast<bool>(out);
}

// Bytes 0..n-1 of a recognisable pattern (each byte is its offset modulo 251).
inline std::string patternBytes(std::size_t n) {
    std::string bytes(n, '\0');
    for (std::size_t i = 0; i < n; ++i) {
        bytes[i] = static_cast<char>(i % 251);
    }
    return bytes;
}

} // namespace statictest
