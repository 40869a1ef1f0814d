// Paths resolved beneath a shared folder's descriptor, and the operations on what they name.

#include "foundation/FileSystem.h"
#include "foundation/SharedFolder.h"

#include <dirent.h>
#include <fcntl.h>
#include <gtest/gtest.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <fstream>

using platform::Error;
using platform::FileSystem;
using platform::SharedFolder;

namespace {

class SharedFolderTest : public ::testing::Test {
protected:
    void SetUp() override {
        std::string pattern = "/tmp/lanyard-shared-XXXXXX";
        ASSERT_NE(::mkdtemp(pattern.data()), nullptr);
        root = pattern;
        ASSERT_EQ(::mkdir((root + "/share").c_str(), 0700), 0);
        ASSERT_EQ(::mkdir((root + "/outside").c_str(), 0700), 0);
        write("outside/secret.txt", "secret");
        ASSERT_EQ(::mkdir((root + "/share/sub").c_str(), 0700), 0);
        write("share/sub/a.txt", "alpha");
        folder = SharedFolder::open(root + "/share");
        ASSERT_TRUE(folder);
    }
    void TearDown() override { FileSystem::removeItem(root); }

    void write(const std::string& relative, const std::string& contents) {
        std::ofstream(root + "/" + relative, std::ios::binary) << contents;
    }
    void link(const std::string& target, const std::string& relative) {
        ASSERT_EQ(::symlink(target.c_str(), (root + "/" + relative).c_str()), 0);
    }
    // The contents of the regular file a path leads to (following the last link), or the error.
    std::string read(const std::string& relative) {
        Error error;
        auto item = folder->resolve(relative, true, &error);
        if (!item) {
            return "error " + std::to_string(error.code);
        }
        auto fd = SharedFolder::openItem(*item, O_RDONLY, &error);
        if (!fd.valid()) {
            return "error " + std::to_string(error.code);
        }
        char buffer[64];
        const ssize_t count = ::read(fd.get(), buffer, sizeof buffer);
        return std::string(buffer, static_cast<std::size_t>(std::max<ssize_t>(count, 0)));
    }

    std::string root;
    std::shared_ptr<SharedFolder> folder;
};

std::size_t openDescriptors() {
    std::size_t count = 0;
    if (DIR* fds = ::opendir("/proc/self/fd")) {
        while (::readdir(fds)) {
            ++count;
        }
        ::closedir(fds);
    }
    return count;
}

} // namespace

TEST_F(SharedFolderTest, LinksAreFollowedOnlyWhileTheyStayInside) {
    link("sub", "share/relative");
    link(root + "/share/sub", "share/absolute");
    link(root + "/outside", "share/out");
    link("../outside", "share/up");
    link("../../outside/secret.txt", "share/sub/deep-out");
    link("..", "share/sub/parent");
    link("loop", "share/loop");
    const struct {
        const char* path;
        std::string expected;
    } rows[] = {
        {"/sub/a.txt", "alpha"},
        {"relative/a.txt", "alpha"},
        {"/absolute/a.txt", "alpha"},       // re-rooted at the folder's descriptor
        {"/sub/parent/sub/a.txt", "alpha"}, // ".." one step back along the components
        {"/out/secret.txt", "error " + std::to_string(EXDEV)},
        {"/up/secret.txt", "error " + std::to_string(ENOENT)}, // ".." stops at the folder
        {"/sub/deep-out", "error " + std::to_string(ENOENT)},
        {"/../outside/secret.txt", "error " + std::to_string(EXDEV)},
        {"/loop/x", "error " + std::to_string(ELOOP)},
        {"/sub/a.txt/x", "error " + std::to_string(ENOTDIR)},
    };
    for (const auto& row : rows) {
        EXPECT_EQ(read(row.path), row.expected) << row.path;
    }
    // The last link itself, when it is not to be followed.
    auto item = folder->resolve("/out", false);
    ASSERT_TRUE(item);
    EXPECT_TRUE(SharedFolder::status(*item)->isSymbolicLink());
    EXPECT_TRUE(folder->resolve("/", true)->isRoot());
}

// A folder swapped for a link after it was resolved: the operation still happens in the folder
// that was resolved, never through the link.
TEST_F(SharedFolderTest, OperationsUseWhatWasResolved) {
    auto item = folder->resolve("/sub/new.txt", false);
    ASSERT_TRUE(item);
    ASSERT_EQ(::rename((root + "/share/sub").c_str(), (root + "/share/moved").c_str()), 0);
    link(root + "/outside", "share/sub");
    auto fd = SharedFolder::openItem(*item, O_WRONLY | O_CREAT | O_EXCL);
    ASSERT_TRUE(fd.valid());
    EXPECT_TRUE(FileSystem::itemExists(root + "/share/moved/new.txt"));
    EXPECT_FALSE(FileSystem::itemExists(root + "/outside/new.txt"));
}

// Deep trees are removed and copied with a few descriptors at a time.
TEST_F(SharedFolderTest, DeepTreesNeedFewDescriptors) {
    std::string path = root + "/share/deep";
    for (int level = 0; level < 300; ++level) {
        ASSERT_EQ(::mkdir(path.c_str(), 0700), 0) << level;
        path += "/d";
    }
    rlimit saved{};
    ASSERT_EQ(::getrlimit(RLIMIT_NOFILE, &saved), 0);
    rlimit low = saved;
    low.rlim_cur = openDescriptors() + 32;
    ASSERT_EQ(::setrlimit(RLIMIT_NOFILE, &low), 0);
    Error copyError;
    Error removeError;
    const bool copied = SharedFolder::copyItem(*folder->resolve("/deep", false),
                                               *folder->resolve("/copy", false), &copyError);
    const bool removed = SharedFolder::removeItem(*folder->resolve("/deep", false), &removeError);
    const bool removedByPath = FileSystem::removeItem(root + "/share/copy");
    ::setrlimit(RLIMIT_NOFILE, &saved);
    EXPECT_TRUE(copied) << copyError.description;
    EXPECT_TRUE(removed) << removeError.description;
    EXPECT_TRUE(removedByPath);
    EXPECT_FALSE(FileSystem::itemExists(root + "/share/deep"));
}
