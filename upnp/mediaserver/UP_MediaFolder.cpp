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

KL_String RealPath(const char* path) {
    char* resolved = ::realpath(path, nullptr);
    if (resolved == nullptr) {
        return KL_String();
    }
    KL_String result(resolved);
    std::free(resolved);
    return result;
}

bool IsPublishedType(KL_FileInfo::Type type) {
    return type == KL_FileInfo::FILE_TYPE_REGULAR || type == KL_FileInfo::FILE_TYPE_DIRECTORY;
}

} // namespace

UP_MediaFolder::UP_MediaFolder(const char* root) : m_Root(root != nullptr ? root : "") {}

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

KL_String UP_MediaFolder::GetRealRoot() const {
    return RealPath(m_Root.IsEmpty() ? "/" : m_Root.GetChars());
}

KL_Result UP_MediaFolder::Inspect(const char* path, Entry& entry) const {
    KL_CHECK_POINTER(path);
    entry = Entry();
    entry.m_Name = KL_FilePath::BaseName(path);
    const KL_String real_root = GetRealRoot();
    const KL_String real_path = RealPath(path);
    if (real_root.IsEmpty() || real_path.IsEmpty()) {
        return KL_ERROR_NO_SUCH_ITEM;
    }
    if (!IsInside(real_root.GetChars(), real_path.GetChars())) {
        KL_LOG_WARNING("'%s' lies outside the shared folder", path);
        return KL_ERROR_NO_SUCH_ITEM;
    }
    struct stat status {};
    if (::stat(real_path.GetChars(), &status) != 0) {
        return KL_ResultFromErrno(errno);
    }
    FillEntry(status, entry);
    return IsPublishedType(entry.m_Type) ? KL_SUCCESS : KL_ERROR_NO_SUCH_ITEM;
}

bool UP_MediaFolder::InspectAt(int dir_fd, const char* folder, const char* name, const KL_String& real_root,
                               Entry& entry) const {
    if (!IsPublishableName(name)) {
        return false;
    }
    struct stat status {};
    if (::fstatat(dir_fd, name, &status, AT_SYMLINK_NOFOLLOW) != 0) {
        return false;
    }
    entry.m_Name = name;
    if (S_ISLNK(status.st_mode)) {
        const KL_String target = RealPath(KL_FilePath::Create(folder, name).GetChars());
        if (target.IsEmpty() || !IsInside(real_root.GetChars(), target.GetChars()) ||
            ::stat(target.GetChars(), &status) != 0) {
            return false;
        }
    }
    FillEntry(status, entry);
    return IsPublishedType(entry.m_Type);
}

KL_Result UP_MediaFolder::List(const char* folder, KL_Array<Entry>& entries) const {
    KL_CHECK_POINTER(folder);
    entries.Clear();
    const KL_String real_root = GetRealRoot();
    if (real_root.IsEmpty()) {
        return KL_ERROR_NO_SUCH_ITEM;
    }
    const int fd = ::open(folder, O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (fd < 0) {
        return KL_ERROR_NO_SUCH_ITEM;
    }
    DIR* dir = ::fdopendir(fd);
    if (dir == nullptr) {
        ::close(fd);
        return KL_ERROR_NO_SUCH_ITEM;
    }
    KL_Result result = KL_SUCCESS;
    for (struct dirent* item = ::readdir(dir); item != nullptr; item = ::readdir(dir)) {
        Entry entry;
        if (InspectAt(fd, folder, item->d_name, real_root, entry)) {
            result = entries.Add(entry);
            if (KL_FAILED(result)) {
                break;
            }
        }
    }
    ::closedir(dir); // closes fd
    SortByTime(entries);
    return result;
}

KL_Result UP_MediaFolder::Inspect(const char* folder, const KL_Array<KL_String>& names,
                                  KL_Array<Entry>& entries) const {
    KL_CHECK_POINTER(folder);
    entries.Clear();
    const KL_String real_root = GetRealRoot();
    const int fd = ::open(folder, O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (real_root.IsEmpty() || fd < 0) {
        if (fd >= 0) {
            ::close(fd);
        }
        return KL_ERROR_NO_SUCH_ITEM;
    }
    KL_Result result = KL_SUCCESS;
    for (const KL_String& name : names) {
        Entry entry;
        if (InspectAt(fd, folder, name.GetChars(), real_root, entry)) {
            result = entries.Add(entry);
            if (KL_FAILED(result)) {
                break;
            }
        }
    }
    ::close(fd);
    return result;
}

void UP_MediaFolder::SortByTime(KL_Array<Entry>& entries) {
    if (entries.GetItemCount() < 2) {
        return;
    }
    std::stable_sort(
        entries.begin(), entries.begin() + entries.GetItemCount(),
        [](const Entry& a, const Entry& b) { return a.m_ModificationTime < b.m_ModificationTime; });
}
