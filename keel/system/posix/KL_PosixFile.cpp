// KL_File's file-system operations on POSIX, and the standard-I/O delegate it uses.
#include "KL_PosixFile.h"

#include "KL_Check.h"
#include "KL_File.h"
#include "KL_FilePath.h"
#include "KL_StdcFile.h"

#include <cerrno>
#include <dirent.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

KL_SET_LOCAL_LOGGER("keel.file");

KL_Result KL_MapStdcFileErrno(int e) {
    switch (e) {
    case EPERM:
    case EACCES:
        return KL_ERROR_PERMISSION_DENIED;
    case ENOENT:
        return KL_ERROR_NO_SUCH_FILE;
    case EBUSY:
        return KL_ERROR_FILE_BUSY;
    case ENOTDIR:
        return KL_ERROR_FILE_NOT_DIRECTORY;
    case EROFS:
        return KL_ERROR_FILE_NOT_WRITABLE;
    case ENAMETOOLONG:
        return KL_ERROR_INVALID_PARAMETERS;
    default:
        return KL_ResultFromErrno(e);
    }
}

KL_Result KL_MapFileErrno(int e) {
    switch (e) {
    case EEXIST:
        return KL_ERROR_FILE_ALREADY_EXISTS;
    case ENOSPC:
        return KL_ERROR_FILE_NOT_ENOUGH_SPACE;
    case ENOTEMPTY:
        return KL_ERROR_DIRECTORY_NOT_EMPTY;
    default:
        return KL_MapStdcFileErrno(e);
    }
}

namespace {
// "\" becomes "/" and trailing "/" are trimmed (a path of separators alone stays "/").
KL_String NormalizeDirPath(const char* path) {
    KL_String normalized(path);
    normalized.Replace('\\', '/');
    while (normalized.GetLength() > 1 && normalized.EndsWith("/")) {
        normalized.SetLength(normalized.GetLength() - 1);
    }
    return normalized;
}

KL_Result StatPath(const char* path, bool follow_links, KL_FileInfo& info) {
    info = KL_FileInfo();
    struct statx status {};
    int flags = follow_links ? 0 : AT_SYMLINK_NOFOLLOW;
    if (::statx(AT_FDCWD, path, flags, STATX_BASIC_STATS | STATX_BTIME, &status) != 0) {
        return KL_MapFileErrno(errno);
    }
    info.m_Size = status.stx_size;
    if (S_ISREG(status.stx_mode)) {
        info.m_Type = KL_FileInfo::FILE_TYPE_REGULAR;
    } else if (S_ISDIR(status.stx_mode)) {
        info.m_Type = KL_FileInfo::FILE_TYPE_DIRECTORY;
    } else {
        info.m_Type = KL_FileInfo::FILE_TYPE_OTHER;
    }
    info.m_AttributesMask = KL_FileInfo::ATTRIBUTE_READ_ONLY;
    if ((status.stx_mode & S_IWUSR) == 0) {
        info.m_Attributes |= KL_FileInfo::ATTRIBUTE_READ_ONLY;
    }
    if ((status.stx_mask & STATX_BTIME) != 0) {
        info.m_CreationTime = KL_TimeStamp::FromSeconds(status.stx_btime.tv_sec);
    }
    info.m_ModificationTime = KL_TimeStamp::FromSeconds(status.stx_mtime.tv_sec);
    return KL_SUCCESS;
}

// mkdir of one directory; one that already exists counts as success.
KL_Result MakeOneDir(const char* path) {
    if (::mkdir(path, 0755) == 0) {
        return KL_SUCCESS;
    }
    int e = errno;
    KL_FileInfo info;
    if (e == EEXIST && KL_SUCCEEDED(StatPath(path, true, info)) &&
        info.m_Type == KL_FileInfo::FILE_TYPE_DIRECTORY) {
        return KL_SUCCESS;
    }
    return KL_MapFileErrno(e);
}
} // namespace

std::unique_ptr<KL_FileInterface> KL_File::NewDelegate(KL_File& file) {
    return std::make_unique<KL_StdcFile>(file);
}

KL_Result KL_File::GetRoots(KL_List<KL_String>& roots) {
    roots.Clear();
    return roots.Add(KL_String("/"));
}

KL_Result KL_File::CreateDir(const char* path, bool create_intermediate_dirs) {
    KL_CHECK_POINTER(path);
    KL_String dir_path = NormalizeDirPath(path);
    if (create_intermediate_dirs) {
        for (int slash = dir_path.Find('/', 1); slash > 0;
             slash = dir_path.Find('/', static_cast<KL_Index>(slash) + 1)) {
            KL_String prefix = dir_path.Left(static_cast<KL_Size>(slash));
            KL_Result result = MakeOneDir(prefix.GetChars());
            if (KL_FAILED(result)) {
                KL_LOG_CHECK_FAILED(KL_LOG_LEVEL_WARNING, result, "(KL_File::CreateDir(dir_path, false))");
                return result;
            }
        }
    }
    return MakeOneDir(dir_path.GetChars());
}

KL_Result KL_File::RemoveDir(const char* path, bool recurse) {
    KL_CHECK_POINTER(path);
    KL_String dir_path = NormalizeDirPath(path);
    if (recurse) {
        KL_File dir(dir_path.GetChars());
        KL_List<KL_String> entries;
        KL_Result result = dir.ListDir(entries);
        if (KL_FAILED(result)) {
            KL_LOG_CHECK_FAILED(KL_LOG_LEVEL_WARNING, result, "(dir.ListDir(entries))");
            return result;
        }
        for (auto entry = entries.GetFirstItem(); entry; ++entry) {
            KL_String child = KL_FilePath::Create(dir_path.GetChars(), entry->GetChars());
            (void)Remove(child.GetChars(), true); // what cannot go shows in the rmdir below
        }
    }
    if (::rmdir(dir_path.GetChars()) != 0) {
        return KL_MapFileErrno(errno);
    }
    return KL_SUCCESS;
}

KL_Result KL_File::Remove(const char* path, bool recurse) {
    KL_CHECK_POINTER(path);
    // The link itself, never what it points to: a link to a folder outside stays untouched.
    KL_FileInfo info;
    KL_Result result = StatPath(path, false, info);
    if (KL_FAILED(result)) {
        KL_LOG_CHECK_FAILED(KL_LOG_LEVEL_WARNING, result, "(GetInfo(path, &info))");
        return result;
    }
    if (info.m_Type == KL_FileInfo::FILE_TYPE_DIRECTORY) {
        return RemoveDir(path, recurse);
    }
    if (::unlink(path) != 0) {
        return KL_MapFileErrno(errno);
    }
    return KL_SUCCESS;
}

KL_Result KL_File::GetInfo(const char* path, KL_FileInfo* info) {
    KL_CHECK_POINTER(path);
    KL_FileInfo local;
    return StatPath(path, true, info != nullptr ? *info : local);
}

KL_Result KL_File::ListDir(const char* path, KL_List<KL_String>& entries, KL_Cardinal start,
                           KL_Cardinal max) {
    entries.Clear();
    if (path == nullptr) {
        return KL_ERROR_INVALID_PARAMETERS;
    }
    DIR* dir = ::opendir(path);
    if (dir == nullptr) {
        return KL_ERROR_NO_SUCH_ITEM;
    }
    KL_Cardinal skipped = 0;
    KL_Result result = KL_SUCCESS;
    while (max == 0 || entries.GetItemCount() < max) {
        struct dirent* entry = ::readdir(dir);
        if (entry == nullptr) {
            break; // the end, or a read error: the listing so far stands
        }
        const char* name = entry->d_name;
        if (name[0] == '.' && (name[1] == '\0' || (name[1] == '.' && name[2] == '\0'))) {
            continue;
        }
        if (skipped < start) {
            ++skipped;
            continue;
        }
        result = entries.Add(KL_String(name));
        if (KL_FAILED(result)) {
            break;
        }
    }
    ::closedir(dir);
    return result;
}

KL_Result KL_File::Rename(const char* from_path, const char* to_path) {
    KL_CHECK_POINTER(from_path);
    KL_CHECK_POINTER(to_path);
    if (::rename(from_path, to_path) != 0) {
        return KL_MapFileErrno(errno);
    }
    return KL_SUCCESS;
}

KL_Result KL_File::GetWorkingDir(KL_String& path) {
    char buffer[1025];
    if (::getcwd(buffer, sizeof buffer) == nullptr) {
        path.SetLength(0);
        return KL_MapFileErrno(errno);
    }
    path = buffer;
    return KL_SUCCESS;
}
