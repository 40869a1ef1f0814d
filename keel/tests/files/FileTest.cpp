// Files and directories in a temporary folder: open modes, streams, listing, creation, removal,
// information, load and save.
#include "KL_File.h"
#include "KL_PosixFile.h"
#include "TempFolder.h"

#include <gtest/gtest.h>

#include <cerrno>
#include <fcntl.h>
#include <set>
#include <sys/stat.h>
#include <unistd.h>

namespace {

std::string ReadAllOf(KL_InputStreamReference& input) {
    KL_DataBuffer buffer;
    EXPECT_EQ(input->ReadAll(buffer), KL_SUCCESS);
    return std::string(reinterpret_cast<const char*>(buffer.GetData()), buffer.GetDataSize());
}

struct ModeCase {
    KL_FileOpenMode mode;
    KL_Result on_missing;    // the open's result on a missing file
    const char* after_write; // an existing "hello", after writing "AB" at the start
    bool readable;
};

TEST(File, OpenModes) {
    const ModeCase cases[] = {
        {1, KL_ERROR_NO_SUCH_FILE, "hello", true},
        {2, KL_ERROR_NO_SUCH_FILE, "ABllo", false},
        {6, KL_SUCCESS, "ABllo", false}, // write + create keeps the bytes
        {14, KL_SUCCESS, "AB", false},
        {15, KL_SUCCESS, "AB", true},
        {39, KL_SUCCESS, "helloAB", true}, // append
    };
    TempFolder folder;
    for (const ModeCase& c : cases) {
        SCOPED_TRACE("mode " + std::to_string(c.mode));
        std::string missing = folder / ("missing" + std::to_string(c.mode));
        KL_File absent(missing.c_str());
        EXPECT_EQ(absent.Open(c.mode), c.on_missing);
        EXPECT_EQ(access(missing.c_str(), F_OK) == 0, c.on_missing == KL_SUCCESS);

        std::string existing = folder / ("existing" + std::to_string(c.mode));
        TempFolder::Write(existing, "hello");
        KL_File file(existing.c_str());
        ASSERT_EQ(file.Open(c.mode), KL_SUCCESS);
        EXPECT_EQ(file.Open(c.mode), KL_ERROR_FILE_ALREADY_OPEN);
        KL_InputStreamReference input;
        EXPECT_EQ(file.GetInputStream(input), c.readable ? KL_SUCCESS : KL_ERROR_FILE_NOT_READABLE);
        KL_OutputStreamReference output;
        bool writable = (c.mode & KL_FILE_OPEN_MODE_WRITE) != 0;
        ASSERT_EQ(file.GetOutputStream(output), writable ? KL_SUCCESS : KL_ERROR_FILE_NOT_WRITABLE);
        if (writable) {
            ASSERT_EQ(output->WriteFully("AB", 2), KL_SUCCESS);
            ASSERT_EQ(output->Flush(), KL_SUCCESS);
        }
        output.Release();
        input.Release();
        EXPECT_EQ(file.Close(), KL_SUCCESS);
        EXPECT_EQ(TempFolder::Read(existing), c.after_write);
    }
}

TEST(File, StreamsNeedAnOpenFile) {
    KL_File file("/nonexistent");
    KL_InputStreamReference input;
    KL_OutputStreamReference output;
    EXPECT_EQ(file.GetInputStream(input), KL_ERROR_FILE_NOT_OPEN);
    EXPECT_EQ(file.GetOutputStream(output), KL_ERROR_FILE_NOT_OPEN);
}

TEST(File, StreamOutlivesItsFile) {
    TempFolder folder;
    std::string path = folder / "data";
    TempFolder::Write(path, "still readable");
    KL_InputStreamReference input;
    {
        KL_File file(path.c_str());
        ASSERT_EQ(file.Open(KL_FILE_OPEN_MODE_READ), KL_SUCCESS);
        ASSERT_EQ(file.GetInputStream(input), KL_SUCCESS);
        EXPECT_EQ(file.Close(), KL_SUCCESS);
    }
    KL_LargeSize size = 0;
    ASSERT_EQ(input->GetSize(size), KL_SUCCESS);
    EXPECT_EQ(size, 14u);
    ASSERT_EQ(input->Seek(6), KL_SUCCESS);
    KL_LargeSize available = 0;
    ASSERT_EQ(input->GetAvailable(available), KL_SUCCESS);
    EXPECT_EQ(available, 8u);
    EXPECT_EQ(ReadAllOf(input), "readable");
    char byte = 0;
    EXPECT_EQ(input->Read(&byte, 1), KL_ERROR_EOS);
}

TEST(File, StandardOutputStaysOpen) {
    KL_File file(KL_FILE_STANDARD_OUTPUT);
    ASSERT_EQ(file.Open(KL_FILE_OPEN_MODE_WRITE), KL_SUCCESS);
    KL_OutputStreamReference output;
    ASSERT_EQ(file.GetOutputStream(output), KL_SUCCESS);
    output.Release();
    EXPECT_EQ(file.Close(), KL_SUCCESS);
    EXPECT_NE(fcntl(STDOUT_FILENO, F_GETFD), -1);
    EXPECT_NE(fileno(stdout), -1);
    KL_FileInfo info;
    ASSERT_EQ(file.GetInfo(info), KL_SUCCESS);
    EXPECT_EQ(info.m_Type, KL_FileInfo::FILE_TYPE_SPECIAL);
    KL_LargeSize size = 7;
    ASSERT_EQ(file.GetSize(size), KL_SUCCESS);
    EXPECT_EQ(size, 0u);
}

TEST(File, ListDirWindows) {
    TempFolder folder;
    for (int i = 0; i < 10; ++i) {
        TempFolder::Write(folder / ("f" + std::to_string(i)), "");
    }
    KL_List<KL_String> all;
    ASSERT_EQ(KL_File::ListDir(folder.Path().c_str(), all), KL_SUCCESS);
    ASSERT_EQ(all.GetItemCount(), 10u);
    std::vector<std::string> order;
    for (const KL_String& name : all) {
        order.emplace_back(name.GetChars());
    }
    const KL_Cardinal windows[][3] = {{2, 3, 3}, {0, 0, 10}, {9, 5, 1}, {10, 0, 0}, {0, 10, 10}, {3, 0, 7}};
    for (const auto& w : windows) {
        KL_List<KL_String> entries;
        entries.Add(KL_String("stale"));
        ASSERT_EQ(KL_File::ListDir(folder.Path().c_str(), entries, w[0], w[1]), KL_SUCCESS);
        ASSERT_EQ(entries.GetItemCount(), w[2]) << w[0] << "," << w[1];
        size_t i = w[0];
        for (const KL_String& name : entries) {
            EXPECT_EQ(name.GetChars(), order[i++]);
        }
    }
    KL_List<KL_String> none;
    EXPECT_EQ(KL_File::ListDir((folder / "nothing").c_str(), none), KL_ERROR_NO_SUCH_ITEM);
    EXPECT_EQ(KL_File::ListDir(nullptr, none), KL_ERROR_INVALID_PARAMETERS);
    KL_LargeSize count = 0;
    ASSERT_EQ(KL_File::GetSize(folder.Path().c_str(), count), KL_SUCCESS);
    EXPECT_EQ(count, 10u);
}

TEST(File, CreateDir) {
    TempFolder folder;
    std::string deep = folder / "a/b/c";
    EXPECT_EQ(KL_File::CreateDir(deep.c_str()), KL_ERROR_NO_SUCH_FILE);
    ASSERT_EQ(KL_File::CreateDir((deep + "//").c_str(), true), KL_SUCCESS);
    struct stat status {};
    ASSERT_EQ(stat(deep.c_str(), &status), 0);
    EXPECT_TRUE(S_ISDIR(status.st_mode));
    EXPECT_EQ(
        status.st_mode & 0777, 0755u & ~[] {
            mode_t m = umask(0);
            umask(m);
            return m;
        }());
    EXPECT_EQ(KL_File::CreateDir(deep.c_str()), KL_SUCCESS); // exists already
    std::string windows_style = folder / "x\\y";
    ASSERT_EQ(KL_File::CreateDir(windows_style.c_str(), true), KL_SUCCESS);
    EXPECT_EQ(access((folder / "x/y").c_str(), F_OK), 0);
    TempFolder::Write(folder / "file", "");
    EXPECT_EQ(KL_File::CreateDir((folder / "file").c_str()), KL_ERROR_FILE_ALREADY_EXISTS);
    EXPECT_EQ(KL_File::CreateDir((folder / "file/sub").c_str(), true), KL_ERROR_FILE_ALREADY_EXISTS);
}

// A link inside the tree to a folder outside it goes with the tree; the folder stays whole.
TEST(File, RecursiveRemoveLeavesLinkTargetsAlone) {
    TempFolder folder;
    std::string outside = folder / "out";
    std::string tree = folder / "d";
    ASSERT_EQ(KL_File::CreateDir((tree + "/sub/deeper").c_str(), true), KL_SUCCESS);
    ASSERT_EQ(KL_File::CreateDir(outside.c_str()), KL_SUCCESS);
    TempFolder::Write(outside + "/keep", "keep");
    TempFolder::Write(tree + "/sub/deeper/file", "x");
    ASSERT_EQ(symlink(outside.c_str(), (tree + "/link").c_str()), 0);
    ASSERT_EQ(symlink(outside.c_str(), (tree + "/sub/link").c_str()), 0);
    ASSERT_EQ(symlink("/nonexistent", (tree + "/dangling").c_str()), 0);

    EXPECT_EQ(KL_File::Remove(tree.c_str()), KL_ERROR_DIRECTORY_NOT_EMPTY);
    ASSERT_EQ(KL_File::Remove(tree.c_str(), true), KL_SUCCESS);
    EXPECT_NE(access(tree.c_str(), F_OK), 0);
    EXPECT_EQ(TempFolder::Read(outside + "/keep"), "keep");

    // A link named directly is removed, not what it points to.
    ASSERT_EQ(symlink(outside.c_str(), (folder / "top").c_str()), 0);
    ASSERT_EQ(KL_File::Remove((folder / "top").c_str(), true), KL_SUCCESS);
    EXPECT_EQ(TempFolder::Read(outside + "/keep"), "keep");
    EXPECT_EQ(KL_File::Remove((folder / "top").c_str()), KL_ERROR_NO_SUCH_FILE);
}

TEST(File, GetInfo) {
    TempFolder folder;
    std::string path = folder / "info";
    TempFolder::Write(path, "12345");
    ASSERT_EQ(chmod(path.c_str(), 0444), 0);
    KL_FileInfo info;
    ASSERT_EQ(KL_File::GetInfo(path.c_str(), &info), KL_SUCCESS);
    struct stat status {};
    ASSERT_EQ(stat(path.c_str(), &status), 0);
    EXPECT_EQ(info.m_Type, KL_FileInfo::FILE_TYPE_REGULAR);
    EXPECT_EQ(info.m_Size, 5u);
    EXPECT_EQ(info.m_AttributesMask, KL_FileInfo::ATTRIBUTE_READ_ONLY);
    EXPECT_EQ(info.m_Attributes, KL_FileInfo::ATTRIBUTE_READ_ONLY);
    EXPECT_EQ(info.m_ModificationTime.ToNanos(), static_cast<int64_t>(status.st_mtime) * 1000000000);
    EXPECT_EQ(info.m_CreationTime.ToNanos() % 1000000000, 0);

    ASSERT_EQ(KL_File::GetInfo(folder.Path().c_str(), &info), KL_SUCCESS);
    EXPECT_EQ(info.m_Type, KL_FileInfo::FILE_TYPE_DIRECTORY);
    EXPECT_EQ(info.m_Attributes, 0u);
    ASSERT_EQ(KL_File::GetInfo("/dev/null", &info), KL_SUCCESS);
    EXPECT_EQ(info.m_Type, KL_FileInfo::FILE_TYPE_OTHER);
    EXPECT_EQ(KL_File::GetInfo((folder / "none").c_str(), &info), KL_ERROR_NO_SUCH_FILE);
    EXPECT_EQ(KL_File::GetInfo((path + "/below").c_str(), &info), KL_ERROR_FILE_NOT_DIRECTORY);

    KL_LargeSize size = 9;
    ASSERT_EQ(KL_File::GetSize((folder / "none").c_str(), size), KL_SUCCESS);
    EXPECT_EQ(size, 0u);
}

TEST(File, LoadAndSave) {
    TempFolder folder;
    std::string path = folder / "data";
    const std::string bytes("a\0b\nc", 5);
    ASSERT_EQ(KL_File::Save(path.c_str(), KL_String("longer text first")), KL_SUCCESS);
    KL_DataBuffer buffer(reinterpret_cast<const KL_Byte*>(bytes.data()), 5);
    ASSERT_EQ(KL_File::Save(path.c_str(), buffer), KL_SUCCESS);
    EXPECT_EQ(TempFolder::Read(path), bytes);
    KL_String text("old");
    ASSERT_EQ(KL_File::Load(path.c_str(), text), KL_SUCCESS);
    EXPECT_EQ(text.GetLength(), 5u);
    EXPECT_EQ(std::string(text.GetChars(), 5), bytes);

    TempFolder::Write(path, "");
    KL_DataBuffer empty(reinterpret_cast<const KL_Byte*>("x"), 1);
    ASSERT_EQ(KL_File::Load(path.c_str(), empty), KL_SUCCESS);
    EXPECT_EQ(empty.GetDataSize(), 0u);
    EXPECT_EQ(KL_File::Load((folder / "none").c_str(), text), KL_ERROR_NO_SUCH_FILE);
    EXPECT_TRUE(text.IsEmpty());
}

// A full disk shows at the flush or the close, never as success.
TEST(File, SaveToAFullDiskFails) {
    if (access("/dev/full", W_OK) != 0) {
        GTEST_SKIP() << "no writable /dev/full";
    }
    EXPECT_EQ(KL_File::Save("/dev/full", KL_String("small")), KL_ERROR_FILE_NOT_ENOUGH_SPACE);
    std::string big(1 << 20, 'x');
    KL_DataBuffer buffer(reinterpret_cast<const KL_Byte*>(big.data()), static_cast<KL_Size>(big.size()));
    KL_Result result = KL_File::Save("/dev/full", buffer);
    EXPECT_TRUE(result == KL_ERROR_WRITE_FAILED || result == KL_ERROR_FILE_NOT_ENOUGH_SPACE) << result;

    KL_File file("/dev/full");
    ASSERT_EQ(file.Open(KL_FILE_OPEN_MODE_WRITE), KL_SUCCESS);
    KL_OutputStreamReference output;
    ASSERT_EQ(file.GetOutputStream(output), KL_SUCCESS);
    ASSERT_EQ(output->WriteFully("abc", 3), KL_SUCCESS); // still in the stream's buffer
    EXPECT_EQ(output->Flush(), KL_ERROR_FILE_NOT_ENOUGH_SPACE);
}

TEST(File, RenameMovesThePath) {
    TempFolder folder;
    std::string from = folder / "from";
    std::string to = folder / "to";
    TempFolder::Write(from, "x");
    KL_File file(from.c_str());
    ASSERT_EQ(file.Rename(to.c_str()), KL_SUCCESS);
    EXPECT_STREQ(file.GetPath().GetChars(), to.c_str());
    EXPECT_EQ(file.Rename((folder / "no/such/dir").c_str()), KL_ERROR_NO_SUCH_FILE);
    EXPECT_STREQ(file.GetPath().GetChars(), to.c_str());
    EXPECT_EQ(KL_File::Rename((folder / "none").c_str(), to.c_str()), KL_ERROR_NO_SUCH_FILE);
}

TEST(File, WorkingDirAndRoots) {
    KL_String cwd;
    ASSERT_EQ(KL_File::GetWorkingDir(cwd), KL_SUCCESS);
    char expected[4096];
    ASSERT_NE(getcwd(expected, sizeof expected), nullptr);
    EXPECT_STREQ(cwd.GetChars(), expected);
    KL_List<KL_String> roots;
    ASSERT_EQ(KL_File::GetRoots(roots), KL_SUCCESS);
    ASSERT_EQ(roots.GetItemCount(), 1u);
    EXPECT_STREQ(roots.GetFirstItem()->GetChars(), "/");
}

TEST(File, ErrorNumbersByName) {
    const struct {
        int e;
        KL_Result file;
        KL_Result stdc;
    } cases[] = {
        {EPERM, KL_ERROR_PERMISSION_DENIED, KL_ERROR_PERMISSION_DENIED},
        {EACCES, KL_ERROR_PERMISSION_DENIED, KL_ERROR_PERMISSION_DENIED},
        {ENOENT, KL_ERROR_NO_SUCH_FILE, KL_ERROR_NO_SUCH_FILE},
        {EBUSY, KL_ERROR_FILE_BUSY, KL_ERROR_FILE_BUSY},
        {EEXIST, KL_ERROR_FILE_ALREADY_EXISTS, -22000 - EEXIST},
        {ENOTDIR, KL_ERROR_FILE_NOT_DIRECTORY, KL_ERROR_FILE_NOT_DIRECTORY},
        {ENOSPC, KL_ERROR_FILE_NOT_ENOUGH_SPACE, -22000 - ENOSPC},
        {EROFS, KL_ERROR_FILE_NOT_WRITABLE, KL_ERROR_FILE_NOT_WRITABLE},
        {ENAMETOOLONG, KL_ERROR_INVALID_PARAMETERS, KL_ERROR_INVALID_PARAMETERS},
        {ENOTEMPTY, KL_ERROR_DIRECTORY_NOT_EMPTY, -22000 - ENOTEMPTY},
        {EISDIR, -22000 - EISDIR, -22000 - EISDIR},
    };
    for (const auto& c : cases) {
        EXPECT_EQ(KL_MapFileErrno(c.e), c.file) << c.e;
        EXPECT_EQ(KL_MapStdcFileErrno(c.e), c.stdc) << c.e;
    }
    std::string long_name(300, 'n');
    KL_File file(("/tmp/" + long_name).c_str());
    EXPECT_EQ(file.Open(KL_FILE_OPEN_MODE_READ), KL_ERROR_INVALID_PARAMETERS);
}

} // namespace
