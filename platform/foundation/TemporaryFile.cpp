#include "TemporaryFile.h"

#include "Uuid.h"

#include <cerrno>
#include <cstdlib>
#include <fcntl.h>
#include <fstream>

namespace platform {

std::string temporaryDirectory() {
    const char* directory = std::getenv("TMPDIR");
    if (directory && *directory) {
        return directory;
    }
    return "/tmp";
}

std::string makeTemporaryPath() {
    std::string path = temporaryDirectory();
    if (path.back() != '/') {
        path.push_back('/');
    }
    return path + makeUuidString();
}

int createTemporaryFile(std::string& pathOut) {
    return createTemporaryFile(pathOut, std::string());
}

namespace {

// Creates a new file under the first free name of a few fresh ones (`makeName` gives each, relative
// to `folder`); the name taken goes to `nameOut`.
template <class MakeName>
int createUnderFreshName(int folder, const MakeName& makeName, std::string& nameOut) {
    constexpr int kAttempts = 8;
    for (int attempt = 0; attempt < kAttempts; ++attempt) {
        std::string name = makeName();
        int file;
        do {
            file = ::openat(folder, name.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC, 0600);
        } while (file == -1 && errno == EINTR);
        if (file != -1) {
            nameOut = std::move(name);
            return file;
        }
        if (errno != EEXIST) {
            return -1;
        }
    }
    return -1; // errno is EEXIST
}

} // namespace

int createTemporaryFileAt(int folder, std::string& nameOut) {
    return createUnderFreshName(
        folder, [] { return makeUuidString(); }, nameOut);
}

int createTemporaryFile(std::string& pathOut, const std::string& folder) {
    return createUnderFreshName(
        AT_FDCWD,
        [&folder] {
            return folder.empty() ? makeTemporaryPath()
                                  : folder + (folder.back() == '/' ? "" : "/") + makeUuidString();
        },
        pathOut);
}

unsigned publishedFileMode() {
    // umask() cannot be read without setting it, which would race with files other threads make.
    static const unsigned mode = [] {
        unsigned mask = 022;
        std::ifstream status("/proc/self/status");
        for (std::string line; std::getline(status, line);) {
            if (line.rfind("Umask:", 0) == 0) {
                mask = static_cast<unsigned>(std::strtoul(line.c_str() + 6, nullptr, 8)) & 0777;
                break;
            }
        }
        return 0644u & ~mask;
    }();
    return mode;
}

} // namespace platform
