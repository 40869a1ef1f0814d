#include "foundation/FileSystem.h"

#include <fcntl.h>
#include <gtest/gtest.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/un.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <sstream>
#include <utility>

using platform::Error;
using platform::FileSystem;
using platform::FileType;

namespace {

// A fresh directory below `parent`, removed with everything in it at the end.
class ScratchDirectory {
public:
    explicit ScratchDirectory(const std::string& parent = "/tmp") {
        std::string pattern = parent + "/lanyard-fs-XXXXXX";
        if (::mkdtemp(pattern.data())) {
            _path = pattern;
        }
    }
    ~ScratchDirectory() {
        if (!_path.empty()) {
            FileSystem::removeItem(_path);
        }
    }
    ScratchDirectory(const ScratchDirectory&) = delete;
    ScratchDirectory& operator=(const ScratchDirectory&) = delete;
    bool valid() const { return !_path.empty(); }
    const std::string& path() const { return _path; }
    std::string operator/(const std::string& name) const { return _path + "/" + name; }

private:
    std::string _path;
};

void writeFile(const std::string& path, const std::string& contents) {
    std::ofstream out(path, std::ios::binary);
    out << contents;
}

std::string readFile(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    std::ostringstream contents;
    contents << in.rdbuf();
    return contents.str();
}

std::string readLink(const std::string& path) {
    char buffer[4096];
    const ssize_t length = ::readlink(path.c_str(), buffer, sizeof buffer);
    return length < 0 ? std::string() : std::string(buffer, static_cast<std::size_t>(length));
}

} // namespace

// ---- Path text ----

TEST(FileSystemPaths, StandardizeCollapsesSeparatorsAndDotsAndKeepsRelativePathsRelative) {
    const std::pair<const char*, const char*> cases[] = {{"/a//b///c/", "/a/b/c"},
                                                         {"/a/./b/.", "/a/b"},
                                                         {"/a/b/../c", "/a/c"},
                                                         {"/a/b/../../../../c", "/c"},
                                                         {"/..", "/"},
                                                         {"//", "/"},
                                                         {"/", "/"},
                                                         {"", ""},
                                                         {"a/b/", "a/b"},
                                                         {"./a", "a"},
                                                         {"a/..", "."},
                                                         {"../a/../../b", "../../b"},
                                                         {"~/x", "~/x"} /* no home expansion */,
                                                         {"a/...b/...", "a/...b/..."}};
    for (const auto& [path, standard] : cases) {
        EXPECT_EQ(FileSystem::standardizePath(path), standard) << path;
    }
}

TEST(FileSystemPaths, StandardizeDoesNotResolveLinks) {
    ScratchDirectory scratch;
    ASSERT_TRUE(scratch.valid());
    ASSERT_EQ(::mkdir((scratch / "deep").c_str(), 0700), 0);
    ASSERT_EQ(::mkdir((scratch / "deep/er").c_str(), 0700), 0);
    ASSERT_EQ(::symlink((scratch / "deep/er").c_str(), (scratch / "link").c_str()), 0);
    // Lexically link/.. is the scratch folder, although the link's parent on disk is "deep".
    EXPECT_EQ(FileSystem::standardizePath(scratch / "link/.."), scratch.path());
    EXPECT_EQ(FileSystem::resolvePath(scratch / "link/.."), FileSystem::resolvePath(scratch / "deep"));
}

TEST(FileSystemPaths, AppendPathComponent) {
    EXPECT_EQ(FileSystem::appendPathComponent("/a", "b"), "/a/b");
    EXPECT_EQ(FileSystem::appendPathComponent("/a/", "b"), "/a/b");
    EXPECT_EQ(FileSystem::appendPathComponent("/a", "/b"), "/a/b");
    EXPECT_EQ(FileSystem::appendPathComponent("/a", "//b/c/"), "/a/b/c/");
    EXPECT_EQ(FileSystem::appendPathComponent("/", "b"), "/b");
    EXPECT_EQ(FileSystem::appendPathComponent("/a", ""), "/a");
    EXPECT_EQ(FileSystem::appendPathComponent("", "b"), "b");
    EXPECT_EQ(FileSystem::appendPathComponent("/a", "../b"), "/a/../b");
}

TEST(FileSystemPaths, ComponentsAndExtensions) {
    EXPECT_EQ(FileSystem::lastPathComponent("/a/b.txt"), "b.txt");
    EXPECT_EQ(FileSystem::lastPathComponent("/a/b/"), "b");
    EXPECT_EQ(FileSystem::lastPathComponent("/"), "/");
    EXPECT_EQ(FileSystem::lastPathComponent("name"), "name");
    EXPECT_EQ(FileSystem::deletingLastPathComponent("/a/b"), "/a");
    EXPECT_EQ(FileSystem::deletingLastPathComponent("/a"), "/");
    EXPECT_EQ(FileSystem::deletingLastPathComponent("a"), "");
    EXPECT_EQ(FileSystem::deletingLastPathComponent("/"), "/");
    EXPECT_EQ(FileSystem::pathExtension("/x/a.tar.GZ"), "GZ");
    EXPECT_EQ(FileSystem::pathExtension("/x.d/file"), "");
    EXPECT_EQ(FileSystem::pathExtension(".profile"), "");
    EXPECT_EQ(FileSystem::pathExtension("a."), "");
    EXPECT_EQ(FileSystem::deletingPathExtension("/x/a.tar.gz"), "/x/a.tar");
    EXPECT_EQ(FileSystem::deletingPathExtension("/x.d/file"), "/x.d/file");
}

TEST(FileSystemPaths, ContainmentUsesWholeComponents) {
    EXPECT_TRUE(FileSystem::isPathInside("/srv/Share/a", "/srv/Share"));
    EXPECT_TRUE(FileSystem::isPathInside("/srv/Share/a/b", "/srv/Share/"));
    EXPECT_FALSE(FileSystem::isPathInside("/srv/Share2", "/srv/Share"));
    EXPECT_FALSE(FileSystem::isPathInside("/srv/Share2/a", "/srv/Share"));
    EXPECT_FALSE(FileSystem::isPathInside("/srv/Shar", "/srv/Share"));
    EXPECT_FALSE(FileSystem::isPathInside("/srv/Share/../secret", "/srv/Share"));
    EXPECT_TRUE(FileSystem::isPathInside("/anything", "/"));
    EXPECT_TRUE(FileSystem::isPathInside("a/b", "a"));
    EXPECT_FALSE(FileSystem::isPathInside("/a/b", "a"));
    EXPECT_FALSE(FileSystem::isPathInside("../x", "."));
    EXPECT_TRUE(FileSystem::isPathInside("x/y", "."));
    // Equal paths are inside only when that is allowed.
    EXPECT_FALSE(FileSystem::isPathInside("/srv/Share", "/srv/Share"));
    EXPECT_FALSE(FileSystem::isPathInside("/srv/Share/", "/srv//Share"));
    EXPECT_TRUE(FileSystem::isPathInsideOrEqual("/srv/Share/", "/srv//Share"));
    EXPECT_TRUE(FileSystem::isPathInsideOrEqual("/srv/Share/x/..", "/srv/Share"));
    EXPECT_FALSE(FileSystem::isPathInsideOrEqual("/srv/Share2", "/srv/Share"));
    EXPECT_FALSE(FileSystem::isPathInsideOrEqual("", "/srv"));
}

// ---- Items ----

TEST(FileSystemItems, StatusReportsTypeSizeAndTimes) {
    ScratchDirectory scratch;
    ASSERT_TRUE(scratch.valid());
    writeFile(scratch / "f", "12345");
    const struct timespec times[2] = {{100, 0}, {1500000000, 123456789}};
    ASSERT_EQ(::utimensat(AT_FDCWD, (scratch / "f").c_str(), times, 0), 0);
    ASSERT_EQ(::symlink("f", (scratch / "l").c_str()), 0);
    ASSERT_EQ(::mkfifo((scratch / "p").c_str(), 0600), 0);

    auto file = FileSystem::statusOfItem(scratch / "f");
    ASSERT_TRUE(file);
    EXPECT_EQ(file->type, FileType::regular);
    EXPECT_EQ(file->size, 5u);
    EXPECT_EQ(file->modificationTime, (platform::FileTime{1500000000, 123456789}));
    struct stat info = {};
    ASSERT_EQ(::stat((scratch / "f").c_str(), &info), 0);
    EXPECT_EQ(file->inode, info.st_ino);

    auto link = FileSystem::statusOfItem(scratch / "l");
    ASSERT_TRUE(link);
    EXPECT_TRUE(link->isSymbolicLink());
    auto followed = FileSystem::statusOfItemFollowingLinks(scratch / "l");
    ASSERT_TRUE(followed);
    EXPECT_TRUE(followed->isRegularFile());
    EXPECT_EQ(followed->inode, file->inode);
    EXPECT_EQ(FileSystem::statusOfItem(scratch / "p")->type, FileType::other);
    EXPECT_TRUE(FileSystem::statusOfItem(scratch.path())->isDirectory());
    if (file->creationTime) {                               // where the file system records one
        EXPECT_GT(file->creationTime->seconds, 1600000000); // made by this test, so recent
        EXPECT_GE(file->creationTime->nanoseconds, 0);
        EXPECT_LT(file->creationTime->nanoseconds, 1000000000);
    }
}

TEST(FileSystemItems, FailuresArePosixErrors) {
    ScratchDirectory scratch;
    ASSERT_TRUE(scratch.valid());
    Error error;
    EXPECT_FALSE(FileSystem::statusOfItem("/nonexistent/lanyard/x", &error));
    EXPECT_EQ(error.domain, platform::kPOSIXErrorDomain);
    EXPECT_EQ(error.code, ENOENT);
    EXPECT_FALSE(error.description.empty());
    EXPECT_FALSE(FileSystem::statusOfItem(std::string("/tmp\0/etc", 9), &error));
    EXPECT_EQ(error.code, EINVAL);
    EXPECT_FALSE(FileSystem::contentsOfDirectory("/nonexistent/lanyard", &error));
    EXPECT_EQ(error.code, ENOENT);
    EXPECT_TRUE(FileSystem::createDirectory(scratch / "new", &error));
    EXPECT_FALSE(FileSystem::createDirectory(scratch / "new", &error));
    EXPECT_EQ(error.code, EEXIST);
    EXPECT_FALSE(FileSystem::createDirectory(scratch / "missing/child", &error));
    EXPECT_EQ(error.code, ENOENT);
}

TEST(FileSystemItems, ListingOmitsDotEntriesAndIsSorted) {
    ScratchDirectory scratch;
    ASSERT_TRUE(scratch.valid());
    for (const char* name : {"b", "a", ".hidden", "C"}) {
        writeFile(scratch / name, "");
    }
    ASSERT_TRUE(FileSystem::createDirectory(scratch / "dir"));
    auto names = FileSystem::contentsOfDirectory(scratch.path());
    ASSERT_TRUE(names);
    EXPECT_EQ(*names, (std::vector<std::string>{".hidden", "C", "a", "b", "dir"}));
}

// ---- Move, copy, remove ----

TEST(FileSystemOperations, MoveNeverReplaces) {
    ScratchDirectory scratch;
    ASSERT_TRUE(scratch.valid());
    writeFile(scratch / "a", "first");
    writeFile(scratch / "b", "second");
    Error error;
    EXPECT_FALSE(FileSystem::moveItemNoReplace(scratch / "a", scratch / "b", &error));
    EXPECT_EQ(error.code, EEXIST);
    EXPECT_EQ(readFile(scratch / "b"), "second");
    EXPECT_TRUE(FileSystem::moveItemNoReplace(scratch / "a", scratch / "c", &error));
    EXPECT_EQ(readFile(scratch / "c"), "first");
    EXPECT_FALSE(FileSystem::itemExists(scratch / "a"));
}

TEST(FileSystemOperations, MoveAcrossFileSystemsCopiesAndRemoves) {
    struct stat shmInfo = {}, tmpInfo = {};
    if (::stat("/dev/shm", &shmInfo) != 0 || ::stat("/tmp", &tmpInfo) != 0 ||
        shmInfo.st_dev == tmpInfo.st_dev) {
        GTEST_SKIP() << "/dev/shm and /tmp are not two file systems here";
    }
    ScratchDirectory source("/dev/shm");
    ScratchDirectory target("/tmp");
    ASSERT_TRUE(source.valid() && target.valid());
    ASSERT_TRUE(FileSystem::createDirectory(source / "tree"));
    writeFile(source / "tree/file", std::string(300000, 'z'));
    ASSERT_EQ(::symlink("file", (source / "tree/link").c_str()), 0);
    writeFile(target / "taken", "keep");

    Error error;
    EXPECT_FALSE(FileSystem::moveItemNoReplace(source / "tree", target / "taken", &error));
    EXPECT_EQ(error.code, EEXIST);
    EXPECT_EQ(readFile(target / "taken"), "keep");
    EXPECT_TRUE(FileSystem::itemExists(source / "tree/file"));

    ASSERT_TRUE(FileSystem::moveItemNoReplace(source / "tree", target / "tree", &error)) << error.description;
    EXPECT_FALSE(FileSystem::itemExists(source / "tree"));
    EXPECT_EQ(readFile(target / "tree/file"), std::string(300000, 'z'));
    EXPECT_EQ(readLink(target / "tree/link"), "file");
}

TEST(FileSystemOperations, CopyTreeKeepsLinksAsLinksAndRefusesOverwrite) {
    ScratchDirectory scratch;
    ASSERT_TRUE(scratch.valid());
    writeFile(scratch / "outside", "precious");
    ASSERT_TRUE(FileSystem::createDirectory(scratch / "src"));
    ASSERT_TRUE(FileSystem::createDirectory(scratch / "src/sub"));
    writeFile(scratch / "src/sub/data", std::string(5000, 'd'));
    ASSERT_EQ(::chmod((scratch / "src/sub/data").c_str(), 0640), 0);
    ASSERT_EQ(::symlink((scratch / "outside").c_str(), (scratch / "src/to-outside").c_str()), 0);
    ASSERT_EQ(::symlink(scratch.path().c_str(), (scratch / "src/sub/to-parent").c_str()), 0);
    ASSERT_EQ(::mkfifo((scratch / "src/fifo").c_str(), 0600), 0);

    Error error;
    ASSERT_TRUE(FileSystem::copyItem(scratch / "src", scratch / "dst", &error)) << error.description;
    EXPECT_EQ(readFile(scratch / "dst/sub/data"), std::string(5000, 'd'));
    struct stat info = {};
    ASSERT_EQ(::stat((scratch / "dst/sub/data").c_str(), &info), 0);
    EXPECT_EQ(info.st_mode & 0777, 0640u);
    EXPECT_TRUE(FileSystem::statusOfItem(scratch / "dst/to-outside")->isSymbolicLink());
    EXPECT_EQ(readLink(scratch / "dst/sub/to-parent"), scratch.path());
    ASSERT_EQ(::lstat((scratch / "dst/fifo").c_str(), &info), 0);
    EXPECT_TRUE(S_ISFIFO(info.st_mode));

    EXPECT_FALSE(FileSystem::copyItem(scratch / "src", scratch / "dst", &error));
    EXPECT_EQ(error.code, EEXIST);
    EXPECT_FALSE(FileSystem::copyItem(scratch / "outside", scratch / "src/sub/data", &error));
    EXPECT_EQ(readFile(scratch / "src/sub/data"), std::string(5000, 'd'));
}

TEST(FileSystemOperations, CopyIntoItselfIsRefusedAndThroughALinkTerminates) {
    ScratchDirectory scratch;
    ASSERT_TRUE(scratch.valid());
    ASSERT_TRUE(FileSystem::createDirectory(scratch / "src"));
    ASSERT_TRUE(FileSystem::createDirectory(scratch / "src/sub"));
    writeFile(scratch / "src/sub/f", "x");
    Error error;
    EXPECT_FALSE(FileSystem::copyItem(scratch / "src", scratch / "src/inner", &error));
    EXPECT_EQ(error.code, EINVAL);
    EXPECT_FALSE(FileSystem::itemExists(scratch / "src/inner"));

    ASSERT_EQ(::symlink((scratch / "src/sub").c_str(), (scratch / "alias").c_str()), 0);
    // Lexically alias/copy is not inside src; on disk it is.
    ASSERT_TRUE(FileSystem::copyItem(scratch / "src", scratch / "alias/copy"));
    EXPECT_EQ(readFile(scratch / "src/sub/copy/sub/f"), "x");
    EXPECT_FALSE(FileSystem::itemExists(scratch / "src/sub/copy/sub/copy"));
}

TEST(FileSystemOperations, FailedCopyLeavesNothingBehind) {
    ScratchDirectory scratch;
    ASSERT_TRUE(scratch.valid());
    ASSERT_TRUE(FileSystem::createDirectory(scratch / "src"));
    writeFile(scratch / "src/a", "a");
    // A socket cannot be copied: the copy fails after "a" was copied.
    const int fd = ::socket(AF_UNIX, SOCK_STREAM, 0);
    ASSERT_NE(fd, -1);
    sockaddr_un address = {};
    address.sun_family = AF_UNIX;
    const std::string socketPath = scratch / "src/b";
    ASSERT_LT(socketPath.size(), sizeof address.sun_path);
    std::memcpy(address.sun_path, socketPath.c_str(), socketPath.size() + 1);
    ASSERT_EQ(::bind(fd, reinterpret_cast<sockaddr*>(&address), sizeof address), 0);
    ::close(fd);

    Error error;
    EXPECT_FALSE(FileSystem::copyItem(scratch / "src", scratch / "dst", &error));
    EXPECT_EQ(error.code, ENOTSUP);
    EXPECT_FALSE(FileSystem::itemExists(scratch / "dst"));
    EXPECT_TRUE(FileSystem::itemExists(scratch / "src/a"));
}

TEST(FileSystemOperations, RemoveNeverFollowsLinks) {
    ScratchDirectory scratch;
    ASSERT_TRUE(scratch.valid());
    ASSERT_TRUE(FileSystem::createDirectory(scratch / "keep"));
    writeFile(scratch / "keep/file", "precious");
    writeFile(scratch / "keep-file", "also precious");
    ASSERT_TRUE(FileSystem::createDirectory(scratch / "tree"));
    ASSERT_TRUE(FileSystem::createDirectory(scratch / "tree/sub"));
    writeFile(scratch / "tree/sub/x", "x");
    ASSERT_EQ(::symlink((scratch / "keep").c_str(), (scratch / "tree/dir-link").c_str()), 0);
    ASSERT_EQ(::symlink((scratch / "keep-file").c_str(), (scratch / "tree/sub/file-link").c_str()), 0);
    ASSERT_EQ(::mkfifo((scratch / "tree/fifo").c_str(), 0600), 0);

    Error error;
    ASSERT_TRUE(FileSystem::removeItem(scratch / "tree", &error)) << error.description;
    EXPECT_FALSE(FileSystem::itemExists(scratch / "tree"));
    EXPECT_EQ(readFile(scratch / "keep/file"), "precious");
    EXPECT_EQ(readFile(scratch / "keep-file"), "also precious");

    ASSERT_EQ(::symlink((scratch / "keep").c_str(), (scratch / "top-link").c_str()), 0);
    EXPECT_TRUE(FileSystem::removeItem(scratch / "top-link"));
    EXPECT_EQ(readFile(scratch / "keep/file"), "precious");

    EXPECT_FALSE(FileSystem::removeItem(scratch / "tree", &error));
    EXPECT_EQ(error.code, ENOENT);
}
