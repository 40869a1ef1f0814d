// KL_File: a path with a delegate that opens it and hands out streams, and the static file-system
// operations (directories, information, renaming, whole-file load and save).
//
//   KL_File file("/tmp/a.txt");
//   KL_CHECK(file.Open(KL_FILE_OPEN_MODE_READ));
//   KL_InputStreamReference input;
//   KL_CHECK(file.GetInputStream(input));   // the stream may outlive the file object
#pragma once

#include "KL_DataBuffer.h"
#include "KL_FileInfo.h"
#include "KL_FileInterface.h"
#include "KL_List.h"
#include "KL_String.h"

#include <memory>

class KL_File : public KL_FileInterface {
public:
    // --- file system ---
    static KL_Result GetRoots(KL_List<KL_String>& roots);
    // "\" becomes "/", trailing "/" are trimmed; an existing directory counts as success.
    [[nodiscard]] static KL_Result CreateDir(const char* path, bool create_intermediate_dirs = false);
    [[nodiscard]] static KL_Result RemoveDir(const char* path, bool recurse = false);
    // A directory goes to RemoveDir; anything else, symbolic links included, is unlinked. Links
    // are never followed, so a recursive removal stays inside the tree.
    [[nodiscard]] static KL_Result Remove(const char* path, bool recurse = false);
    [[nodiscard]] static KL_Result GetInfo(const char* path, KL_FileInfo* info = nullptr);
    [[nodiscard]] static KL_Result GetSize(const char* path, KL_LargeSize& size);
    // Names in directory order without "." and "..", skipping start of them, at most max (0 = all).
    [[nodiscard]] static KL_Result ListDir(const char* path, KL_List<KL_String>& entries,
                                           KL_Cardinal start = 0, KL_Cardinal max = 0);
    [[nodiscard]] static KL_Result Rename(const char* from_path, const char* to_path);
    [[nodiscard]] static KL_Result GetWorkingDir(KL_String& path);
    [[nodiscard]] static KL_Result Load(const char* path, KL_DataBuffer& buffer,
                                        KL_FileOpenMode mode = KL_FILE_OPEN_MODE_READ);
    [[nodiscard]] static KL_Result Load(const char* path, KL_String& data,
                                        KL_FileOpenMode mode = KL_FILE_OPEN_MODE_READ);
    // Writes, flushes and closes; the first failure of the three is returned.
    [[nodiscard]] static KL_Result Save(const char* path, const KL_DataBuffer& buffer);
    [[nodiscard]] static KL_Result Save(const char* path, const KL_String& data);

    // --- one file ---
    explicit KL_File(const char* path);
    KL_File(const KL_File& file);
    KL_File& operator=(const KL_File& file);
    ~KL_File() override;

    [[nodiscard]] KL_Result Open(KL_FileOpenMode mode) override;
    KL_Result Close() override;
    [[nodiscard]] KL_Result GetInputStream(KL_InputStreamReference& stream) override;
    [[nodiscard]] KL_Result GetOutputStream(KL_OutputStreamReference& stream) override;

    const KL_String& GetPath() const { return m_Path; }
    bool IsSpecial() const { return m_IsSpecial; }
    [[nodiscard]] KL_Result GetInfo(KL_FileInfo& info);
    // The size of a file, the number of entries of a directory, 0 for a standard stream or a path
    // whose information cannot be read.
    [[nodiscard]] KL_Result GetSize(KL_LargeSize& size);
    [[nodiscard]] KL_Result ListDir(KL_List<KL_String>& entries);
    // On success the object takes the new path.
    [[nodiscard]] KL_Result Rename(const char* path);

private:
    // The platform's delegate for this file (keel/system).
    static std::unique_ptr<KL_FileInterface> NewDelegate(KL_File& file);
    static bool IsSpecialPath(const char* path);

    std::unique_ptr<KL_FileInterface> m_Delegate;
    KL_String m_Path;
    bool m_IsSpecial;
};
