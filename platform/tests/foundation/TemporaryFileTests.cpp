#include "foundation/TemporaryFile.h"

#include <gtest/gtest.h>

#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <fcntl.h>
#include <optional>
#include <set>
#include <sys/stat.h>
#include <unistd.h>

namespace {

// Points TMPDIR somewhere else while it lives.
class ScopedTMPDIR {
public:
    explicit ScopedTMPDIR(const char* value) {
        if (const char* old = std::getenv("TMPDIR")) {
            _old = old;
        }
        if (value) {
            ::setenv("TMPDIR", value, 1);
        } else {
            ::unsetenv("TMPDIR");
        }
    }
    ~ScopedTMPDIR() {
        if (_old) {
            ::setenv("TMPDIR", _old->c_str(), 1);
        } else {
            ::unsetenv("TMPDIR");
        }
    }

private:
    std::optional<std::string> _old;
};

} // namespace

TEST(TemporaryFile, FolderComesFromTMPDIRAndPathsAreUnique) {
    {
        ScopedTMPDIR unset(nullptr);
        EXPECT_EQ(platform::temporaryDirectory(), "/tmp");
    }
    {
        ScopedTMPDIR empty("");
        EXPECT_EQ(platform::temporaryDirectory(), "/tmp");
    }
    ScopedTMPDIR custom("/var/tmp/");
    EXPECT_EQ(platform::temporaryDirectory(), "/var/tmp/");
    const std::string path = platform::makeTemporaryPath();
    EXPECT_EQ(path.rfind("/var/tmp/", 0), 0u) << path;
    EXPECT_EQ(path.find("//"), std::string::npos) << path;
    std::set<std::string> paths;
    for (int i = 0; i < 1000; ++i) {
        EXPECT_TRUE(paths.insert(platform::makeTemporaryPath()).second);
    }
}

TEST(TemporaryFile, CreatesANewWritableFile) {
    char folder[] = "/tmp/temporary-file-XXXXXX";
    ASSERT_NE(::mkdtemp(folder), nullptr);
    ScopedTMPDIR custom(folder);
    const mode_t oldMask = ::umask(022);
    std::string path;
    const int file = platform::createTemporaryFile(path);
    ::umask(oldMask);
    ASSERT_NE(file, -1) << std::strerror(errno);
    EXPECT_EQ(path.rfind(std::string(folder) + "/", 0), 0u) << path;
    EXPECT_EQ(::write(file, "abc", 3), 3);
    struct stat status {};
    ASSERT_EQ(::fstat(file, &status), 0);
    EXPECT_EQ(status.st_mode & 0777, 0600u) << "private until it becomes a file of the user's";
    EXPECT_EQ(platform::publishedFileMode(), 0644u & ~oldMask);
    EXPECT_EQ(status.st_size, 3);
    EXPECT_NE(::fcntl(file, F_GETFD) & FD_CLOEXEC, 0);
    EXPECT_EQ(::fcntl(file, F_GETFL) & O_ACCMODE, O_WRONLY);
    ::close(file);
    ::unlink(path.c_str());
    ::rmdir(folder);
}

TEST(TemporaryFile, FailsInAMissingFolder) {
    ScopedTMPDIR missing("/nonexistent-folder-for-temporary-file-tests");
    std::string path = "unchanged";
    EXPECT_EQ(platform::createTemporaryFile(path), -1);
    EXPECT_EQ(errno, ENOENT);
    EXPECT_EQ(path, "unchanged");
}
