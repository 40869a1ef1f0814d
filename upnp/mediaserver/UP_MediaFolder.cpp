// UP_MediaFolder: publication rules and folder listing of the file delegate (POSIX).
#include "UP_MediaFolder.h"

#include "KL_Check.h"
#include "KL_FilePath.h"
#include "KL_Log.h"

#include <algorithm>
#include <cerrno>
#include <climits>
#include <cstdlib>
#include <cstring>
#include <dirent.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

KL_SET_LOCAL_LOGGER("upnp.media.file");

namespace {

// Length of the UTF-8 sequence at text (1-4) holding a character XML 1.0 allows; 0 otherwise.
int XmlCharLength(const unsigned char* text) {
    const unsigned char c = text[0];
    if (c < 0x80) {
        return (c >= 0x20 || c == '\t' || c == '\n' || c == '\r') ? 1 : 0;
    }
    int length = 0;
    uint32_t code = 0;
    if ((c & 0xE0) == 0xC0) {
        length = 2;
        code = c & 0x1F;
    } else if ((c & 0xF0) == 0xE0) {
        length = 3;
        code = c & 0x0F;
    } else if ((c & 0xF8) == 0xF0) {
        length = 4;
        code = c & 0x07;
    } else {
        return 0;
    }
    for (int i = 1; i < length; ++i) {
        if ((text[i] & 0xC0) != 0x80) {
            return 0; // also stops at the terminating NUL
        }
        code = (code << 6) | (text[i] & 0x3F);
    }
    static const uint32_t kSmallest[] = {0, 0, 0x80, 0x800, 0x10000};
    if (code < kSmallest[length] || code > 0x10FFFF || (code >= 0xD800 && code <= 0xDFFF) || code == 0xFFFE ||
        code == 0xFFFF) {
        return 0;
    }
    return length;
}

KL_FileInfo::Type TypeOf(mode_t mode) {
    if (S_ISREG(mode)) {
        return KL_FileInfo::FILE_TYPE_REGULAR;
    }
    if (S_ISDIR(mode)) {
        return KL_FileInfo::FILE_TYPE_DIRECTORY;
    }
    return KL_FileInfo::FILE_TYPE_OTHER;
}

void FillEntry(const struct stat& status, UP_MediaFolder::Entry& entry) {
    entry.m_Type = TypeOf(status.st_mode);
    entry.m_ModificationTime = KL_TimeStamp::FromSeconds(status.st_mtim.tv_sec);
    const struct timespec& latest =
        (status.st_ctim.tv_sec > status.st_mtim.tv_sec ||
         (status.st_ctim.tv_sec == status.st_mtim.tv_sec && status.st_ctim.tv_nsec > status.st_mtim.tv_nsec))
            ? status.st_ctim
            : status.st_mtim;
    entry.m_ChangeTime =
        KL_TimeStamp::FromNanos(static_cast<int64_t>(latest.tv_sec) * 1000000000 + latest.tv_nsec);
    entry.m_Size = static_cast<KL_LargeSize>(status.st_size);
}

bool IsPublishedType(KL_FileInfo::Type type) {
    return type == KL_FileInfo::FILE_TYPE_REGULAR || type == KL_FileInfo::FILE_TYPE_DIRECTORY;
}

} // namespace

UP_MediaFolder::UP_MediaFolder(const char* root)
    : m_Root(root != nullptr ? root : ""), m_Shared(m_Root.IsEmpty() ? "/" : m_Root.GetChars()) {}

bool UP_MediaFolder::IsPublishableName(const char* name) {
    if (name == nullptr || name[0] == '\0' || std::strcmp(name, ".") == 0 || std::strcmp(name, "..") == 0) {
        return false;
    }
    const unsigned char* p = reinterpret_cast<const unsigned char*>(name);
    while (*p != 0) {
        const int length = XmlCharLength(p);
        if (length == 0) {
            return false;
        }
        p += length;
    }
    return !KL_FilePath::BaseName(name, false).IsEmpty();
}

bool UP_MediaFolder::IsPublishablePath(const char* relative_path) {
    if (relative_path == nullptr || relative_path[0] == '\0') {
        return false;
    }
    KL_List<KL_String> components = KL_String(relative_path).Split("/");
    for (const KL_String& component : components) {
        if (!IsPublishableName(component.GetChars())) {
            return false;
        }
    }
    return true;
}

bool UP_MediaFolder::IsInside(const char* root, const char* path) {
    if (root == nullptr || path == nullptr || root[0] != '/' || path[0] != '/') {
        return false;
    }
    size_t length = std::strlen(root);
    while (length > 0 && root[length - 1] == '/') {
        --length; // "/" itself becomes the empty prefix: every absolute path is inside
    }
    return std::strncmp(root, path, length) == 0 && (path[length] == '\0' || path[length] == '/');
}

bool UP_MediaFolder::GetRelativePath(const char* path, KL_String& relative) const {
    if (path == nullptr || !IsInside(m_Root.IsEmpty() ? "/" : m_Root.GetChars(), path)) {
        return false;
    }
    const char* rest = path + m_Root.GetLength();
    while (*rest == '/') {
        ++rest;
    }
    relative = rest;
    return true;
}

KL_Result UP_MediaFolder::Open(const char* path, int flags, UP_SharedFolder::Descriptor& item,
                               Entry& entry) const {
    KL_CHECK_POINTER(path);
    entry = Entry();
    entry.m_Name = KL_FilePath::BaseName(path);
    KL_String relative;
    if (!GetRelativePath(path, relative)) {
        return KL_ERROR_NO_SUCH_ITEM;
    }
    if (!m_Shared.IsOpen() && relative.IsEmpty()) {
        item.Reset(); // a folder that is not there: an empty folder (List knows it)
        entry.m_Type = KL_FileInfo::FILE_TYPE_DIRECTORY;
        return KL_SUCCESS;
    }
    item = m_Shared.Open(relative.GetChars(), flags);
    struct stat status {};
    if (!item.IsValid() || ::fstat(item.Get(), &status) != 0) {
        if (errno == EXDEV || errno == ELOOP) {
            KL_LOG_WARNING("'%s' lies outside the shared folder", path);
        }
        item.Reset();
        return KL_ERROR_NO_SUCH_ITEM;
    }
    FillEntry(status, entry);
    return IsPublishedType(entry.m_Type) ? KL_SUCCESS : KL_ERROR_NO_SUCH_ITEM;
}

KL_Result UP_MediaFolder::Inspect(const char* path, Entry& entry) const {
    UP_SharedFolder::Descriptor item;
    return Open(path, O_PATH, item, entry);
}

KL_Result UP_MediaFolder::OpenFolder(const char* path, UP_SharedFolder::Descriptor& folder,
                                     Entry& entry) const {
    KL_Result result = Open(path, O_RDONLY | O_DIRECTORY, folder, entry);
    if (KL_SUCCEEDED(result) && entry.m_Type != KL_FileInfo::FILE_TYPE_DIRECTORY) {
        folder.Reset();
        result = KL_ERROR_NO_SUCH_ITEM;
    }
    return result;
}

KL_Result UP_MediaFolder::OpenFile(const char* path, UP_SharedFolder::Descriptor& file, Entry& entry) const {
    KL_CHECK_POINTER(path);
    entry = Entry();
    entry.m_Name = KL_FilePath::BaseName(path);
    KL_String relative;
    struct stat status {};
    if (!GetRelativePath(path, relative) ||
        !(file = m_Shared.OpenFile(relative.GetChars(), status)).IsValid()) {
        return KL_ERROR_NO_SUCH_ITEM;
    }
    FillEntry(status, entry);
    return KL_SUCCESS;
}

bool UP_MediaFolder::InspectAt(int folder_fd, const KL_String& relative, const char* name,
                               unsigned char d_type, bool with_status, Entry& entry) const {
    if (!IsPublishableName(name)) {
        return false;
    }
    entry.m_Name = name;
    if (!with_status && (d_type == DT_REG || d_type == DT_DIR)) {
        entry.m_Type = d_type == DT_REG ? KL_FileInfo::FILE_TYPE_REGULAR : KL_FileInfo::FILE_TYPE_DIRECTORY;
        return true;
    }
    struct stat status {};
    if (d_type == DT_LNK || ::fstatat(folder_fd, name, &status, AT_SYMLINK_NOFOLLOW) != 0 ||
        S_ISLNK(status.st_mode)) {
        // A link (or an entry gone meanwhile): followed beneath the shared folder only.
        const KL_String path =
            relative.IsEmpty() ? KL_String(name) : KL_FilePath::Create(relative.GetChars(), name);
        const UP_SharedFolder::Descriptor target = m_Shared.Open(path.GetChars(), O_PATH);
        if (!target.IsValid() || ::fstat(target.Get(), &status) != 0) {
            return false;
        }
    }
    FillEntry(status, entry);
    return IsPublishedType(entry.m_Type);
}

KL_Result UP_MediaFolder::List(int folder_fd, const char* folder, KL_Array<Entry>& entries,
                               bool with_status) const {
    KL_CHECK_POINTER(folder);
    entries.Clear();
    KL_String relative;
    if (!GetRelativePath(folder, relative)) {
        return KL_ERROR_NO_SUCH_ITEM;
    }
    if (!m_Shared.IsOpen()) {
        return relative.IsEmpty() ? KL_SUCCESS : KL_ERROR_NO_SUCH_ITEM;
    }
    // Read through a second descriptor of the same open folder: the caller keeps its own.
    const int fd = ::fcntl(folder_fd, F_DUPFD_CLOEXEC, 0);
    DIR* dir = fd >= 0 ? ::fdopendir(fd) : nullptr;
    if (dir == nullptr) {
        if (fd >= 0) {
            ::close(fd);
        }
        return KL_ERROR_NO_SUCH_ITEM;
    }
    ::rewinddir(dir); // the duplicate shares the offset with the caller's descriptor
    KL_Result result = KL_SUCCESS;
    for (struct dirent* item = ::readdir(dir); item != nullptr; item = ::readdir(dir)) {
        Entry entry;
        if (InspectAt(fd, relative, item->d_name, item->d_type, with_status, entry)) {
            result = entries.Add(entry);
            if (KL_FAILED(result)) {
                break;
            }
        }
    }
    ::closedir(dir); // closes fd
    if (with_status) {
        SortByTime(entries);
    }
    return result;
}

void UP_MediaFolder::SortByTime(KL_Array<Entry>& entries) {
    if (entries.GetItemCount() < 2) {
        return;
    }
    // Names break ties, so that a folder copied in one go keeps one order from page to page.
    std::stable_sort(entries.begin(), entries.begin() + entries.GetItemCount(),
                     [](const Entry& a, const Entry& b) {
                         if (a.m_ModificationTime != b.m_ModificationTime) {
                             return a.m_ModificationTime < b.m_ModificationTime;
                         }
                         return std::strcmp(a.m_Name.GetChars(), b.m_Name.GetChars()) < 0;
                     });
}
