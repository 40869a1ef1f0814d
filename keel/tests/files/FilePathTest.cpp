// Path texts.
#include "KL_FilePath.h"

#include <gtest/gtest.h>

namespace {

struct PathCase {
    const char* path;
    const char* base;
    const char* base_without_extension;
    const char* dir;
    const char* extension;
};

TEST(FilePath, PiecesOfAPath) {
    const PathCase cases[] = {
        {"/a/b.txt", "b.txt", "b", "/a", ".txt"},
        {"/a", "a", "a", "/", ""},
        {"a.txt", "a.txt", "a", "", ".txt"},
        {"a.tar.gz", "a.tar.gz", "a.tar", "", ".gz"},
        {"/a/b/", "", "", "/a/b", ""},
        {"", "", "", "", ""},
        {"/", "", "", "/", ""},
        {"dir/.hidden", ".hidden", "", "dir", ".hidden"},
    };
    for (const PathCase& c : cases) {
        SCOPED_TRACE(c.path);
        EXPECT_STREQ(KL_FilePath::BaseName(c.path).GetChars(), c.base);
        EXPECT_STREQ(KL_FilePath::BaseName(c.path, false).GetChars(), c.base_without_extension);
        EXPECT_STREQ(KL_FilePath::DirName(c.path).GetChars(), c.dir);
        EXPECT_STREQ(KL_FilePath::FileExtension(c.path).GetChars(), c.extension);
    }
}

TEST(FilePath, CreateJoinsWithOneSeparator) {
    const char* cases[][3] = {
        {"/a", "b", "/a/b"}, {"/a/", "b", "/a/b"}, {"/a", "/b", "/a/b"},
        {"", "b", "b"},      {"/a", "", "/a"},     {"/a/", "/b", "/a//b"},
    };
    for (const auto& c : cases) {
        EXPECT_STREQ(KL_FilePath::Create(c[0], c[1]).GetChars(), c[2]) << c[0] << " + " << c[1];
    }
    EXPECT_STREQ(KL_FilePath::Create(nullptr, "b").GetChars(), "b");
    EXPECT_STREQ(KL_FilePath::Create("a", nullptr).GetChars(), "a");
}

} // namespace
