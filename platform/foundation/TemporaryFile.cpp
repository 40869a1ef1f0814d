#include "TemporaryFile.h"

#include "Uuid.h"

#include <cerrno>
#include <cstdlib>
#include <fcntl.h>

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

constexpr int kAttempts = 8;

int createFresh(int folder, const std::string& path) {
    int file;
    do {
        file = ::openat(folder, path.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC, 0644);
    } while (file == -1 && errno == EINTR);
    return file;
}

} // namespace

int createTemporaryFileAt(int folder, std::string& nameOut) {
    for (int attempt = 0; attempt < kAttempts; ++attempt) {
        std::string name = makeUuidString();
        const int file = createFresh(folder, name);
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

int createTemporaryFile(std::string& pathOut, const std::string& folder) {
    for (int attempt = 0; attempt < kAttempts; ++attempt) {
        std::string path = folder.empty() ? makeTemporaryPath()
                                          : folder + (folder.back() == '/' ? "" : "/") + makeUuidString();
        const int file = createFresh(AT_FDCWD, path);
        if (file != -1) {
            pathOut = std::move(path);
            return file;
        }
        if (errno != EEXIST) {
            return -1;
        }
    }
    return -1; // errno is EEXIST
}

} // namespace platform
