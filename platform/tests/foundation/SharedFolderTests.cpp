// Paths resolved beneath a shared folder's descriptor, and the operations on what they name.

#include "foundation/FileSystem.h"
#include "foundation/FollowedSharedFolder.h"
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
        auto item = folder->resolve(relative, true, &error, hidden);
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
    SharedFolder::HiddenNames hidden = SharedFolder::HiddenNames::allowed; // for read()
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

// Where links may not lead through hidden names, every link whose target passes through one is
// treated as leading out, whatever else it does; hidden names written in the path itself are the
// caller's to check.
TEST_F(SharedFolderTest, LinksNeverLeadThroughHiddenNamesWhenRefused) {
    ASSERT_EQ(::mkdir((root + "/share/.hidden").c_str(), 0700), 0);
    write("share/.hidden/secret.txt", "hidden");
    link(".hidden", "share/visible");
    link(root + "/share/.hidden", "share/absolute");
    link("../.hidden/secret.txt", "share/sub/file");
    link("visible", "share/chain");
    link("sub/../.hidden", "share/around");
    link("sub", "share/plain");
    const std::string refused = "error " + std::to_string(EXDEV);
    const struct {
        const char* path;
        std::string allowed;
        std::string whenRefused;
    } rows[] = {
        {"/visible/secret.txt", "hidden", refused},
        {"/absolute/secret.txt", "hidden", refused},
        {"/sub/file", "hidden", refused},
        {"/chain/secret.txt", "hidden", refused},
        {"/around/secret.txt", "hidden", refused},
        {"/plain/a.txt", "alpha", "alpha"},
        {"/.hidden/secret.txt", "hidden", "hidden"}, // written in the path: the caller's to refuse
    };
    for (const auto& row : rows) {
        EXPECT_EQ(read(row.path), row.allowed) << row.path;
        hidden = SharedFolder::HiddenNames::refusedInLinks;
        EXPECT_EQ(read(row.path), row.whenRefused) << row.path;
        hidden = SharedFolder::HiddenNames::allowed;
    }
}

// A folder followed by its path: kept while the path names it, let go when the path names no
// folder, and the folder the path names now taken when it names another; whoever took the old one
// keeps it.
TEST_F(SharedFolderTest, FollowedFolderFollowsItsPath) {
    platform::FollowedSharedFolder followed(root + "/share");
    const auto first = followed.current();
    ASSERT_TRUE(first);
    EXPECT_EQ(followed.current(), first);
    ASSERT_EQ(::rename((root + "/share").c_str(), (root + "/moved").c_str()), 0);
    Error error;
    EXPECT_FALSE(followed.current(&error));
    EXPECT_EQ(error.code, ENOENT);
    write("share", "a file now");
    EXPECT_FALSE(followed.current());
    ASSERT_EQ(::unlink((root + "/share").c_str()), 0);
    ASSERT_EQ(::mkdir((root + "/share").c_str(), 0700), 0);
    write("share/one.txt", "one");
    const auto second = followed.current();
    ASSERT_TRUE(second);
    EXPECT_NE(second, first);
    EXPECT_TRUE(second->resolve("/one.txt", false).has_value() &&
                SharedFolder::status(*second->resolve("/one.txt", false)));
    EXPECT_TRUE(SharedFolder::status(*first->resolve("/sub/a.txt", false))); // the old one, moved
    // Moved back and forth: the same folder is the same descriptor.
    ASSERT_EQ(::rename((root + "/share").c_str(), (root + "/second").c_str()), 0);
    ASSERT_EQ(::rename((root + "/second").c_str(), (root + "/share").c_str()), 0);
    EXPECT_EQ(followed.current(), second);
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
