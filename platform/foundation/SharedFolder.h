#pragma once

#include "foundation/Error.h"
#include "foundation/FileSystem.h"

#include <cstdint>
#include <functional>
#include <map>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

namespace platform {

// Owns one open descriptor (closed with the object).
class FileDescriptor {
public:
    FileDescriptor() = default;
    explicit FileDescriptor(int fd) : _fd(fd) {}
    ~FileDescriptor() { reset(); }
    FileDescriptor(FileDescriptor&& other) noexcept : _fd(std::exchange(other._fd, -1)) {}
    FileDescriptor& operator=(FileDescriptor&& other) noexcept {
        if (this != &other) {
            reset(std::exchange(other._fd, -1));
        }
        return *this;
    }
    FileDescriptor(const FileDescriptor&) = delete;
    FileDescriptor& operator=(const FileDescriptor&) = delete;

    int get() const { return _fd; }
    bool valid() const { return _fd != -1; }
    int release() { return std::exchange(_fd, -1); }
    void reset(int fd = -1);

private:
    int _fd = -1;
};

// An item named beneath a shared folder: the open folder that holds it and its name there ("."
// for the shared folder itself). What the name leads to may not exist yet.
struct SharedItem {
    FileDescriptor folder;
    std::string name;
    bool isRoot() const { return name == "."; }
};

// One entry of a listing, with the status of the entry itself (links not followed).
struct SharedDirectoryEntry {
    std::string name;
    FileStatus status;
};

// What a copy copied: the status of each source entry as it was copied, a folder's entries below
// it by name.
struct CopiedItem {
    FileStatus status;
    std::map<std::string, CopiedItem> entries;

    // Whether a status taken later is still of the entry copied: the same file or folder, and for
    // anything but a folder (whose own times change with its entries) of the same size and time.
    bool isUnchanged(const FileStatus& now) const;
};

// A shared folder kept open, and every path below it resolved beneath that descriptor, one
// component at a time, so that a folder swapped for a symbolic link meanwhile can never lead an
// operation outside. A link met on the way is read and resolved the same way: a relative target
// from the link's own folder, an absolute one only when it lies inside the folder's real path (and
// then from the shared folder's descriptor); ".." never climbs above the shared folder. A link
// that leads out is reported as EXDEV, more than 40 links in one path as ELOOP.
//
// All operations work on descriptors (openat, mkdirat, unlinkat, renameat2, fstatat), so what was
// checked is what is used. Thread-safe: nothing changes after open.
class SharedFolder {
public:
    static constexpr int kMaximumLinks = 40;

    // Opens the folder (following links in its own path). None, with the error, when it is not an
    // existing folder.
    static std::shared_ptr<SharedFolder> open(const std::string& path, Error* error = nullptr);
    ~SharedFolder();
    SharedFolder(const SharedFolder&) = delete;
    SharedFolder& operator=(const SharedFolder&) = delete;

    const std::string& path() const { return _path; }
    int descriptor() const { return _descriptor; }
    // True when a status names the folder this descriptor holds: same device and inode.
    bool holds(const FileStatus& status) const {
        return status.isDirectory() && status.device == _device && status.inode == _inode;
    }
    // The folder's device and inode: the same for every descriptor of that folder.
    std::pair<std::uint64_t, std::uint64_t> identity() const { return {_device, _inode}; }

    // Whether a link may lead through a name beginning with ".": with `refused`, a link whose
    // target passes through such a name is treated as one that leads out (EXDEV), so a visible
    // link never reaches a hidden folder. Hidden names written in the path itself are the caller's
    // to check.
    enum class HiddenNames { allowed, refusedInLinks };

    // The item a relative path names (a leading "/" is allowed; "" and "/" name the folder). Links
    // in the folders on the way are followed beneath the folder; `followLastLink` follows a link
    // in the last component too, else the item is the link itself. Fails (ENOENT, ENOTDIR) when a
    // folder on the way does not exist or is not a folder, and as above.
    std::optional<SharedItem> resolve(std::string_view relativePath, bool followLastLink,
                                      Error* error = nullptr,
                                      HiddenNames hidden = HiddenNames::allowed) const;

    // ---- Operations on resolved items ----

    // Status of the item itself (a link is a link).
    static std::optional<FileStatus> status(const SharedItem& item, Error* error = nullptr);
    // Opens the item with the given flags; a final link is never followed (O_NOFOLLOW).
    static FileDescriptor openItem(const SharedItem& item, int flags, Error* error = nullptr);
    // The entries of an open folder ("." and ".." excepted), in byte order of their names, each
    // with its status taken relative to the folder (entries gone meanwhile are left out).
    static std::optional<std::vector<SharedDirectoryEntry>> listDirectory(int directory,
                                                                          Error* error = nullptr);
    static bool createDirectory(const SharedItem& item, Error* error = nullptr);
    // Removes a file, a link or a folder with everything in it (links are removed, never
    // followed), depth first with a bounded number of open descriptors.
    static bool removeItem(const SharedItem& item, Error* error = nullptr);
    // Entries that a copy leaves out, by the status of the folder that holds them and their name
    // (the item copied itself is never left out).
    using NameFilter = std::function<bool(const FileStatus& folder, std::string_view name)>;
    // Copies a file, a link (as a link) or a folder with everything in it to `to`, which must not
    // exist, but for the entries `leftOut` names at any depth. Modes and modification times are
    // kept; on failure whatever the copy made is removed. With `record`, each entry copied is noted
    // there with its status as it was copied (a file's taken before its bytes are read).
    static bool copyItem(const SharedItem& from, const SharedItem& to, Error* error = nullptr,
                         const NameFilter& leftOut = {}, CopiedItem* record = nullptr);
    // Brings a copy made with a record up to date with its source: what appeared or changed in
    // `from` since (by status) is copied again, what went is removed from the copy, and the record
    // follows. The number of entries that differed; none, with the error, on failure (ENOENT when
    // the source itself has gone).
    static std::optional<std::size_t> copyChanges(const SharedItem& from, const SharedItem& copy,
                                                  CopiedItem& record, Error* error = nullptr,
                                                  const NameFilter& leftOut = {});
    // Runs a step while no other writer of the process can change the item (its lock held).
    using GuardedStep = std::function<void(const SharedItem& item, const std::function<void()>& step)>;
    // Removes from `item` what a copy with `record` copied and is still as it was copied (compared
    // by status, just before each removal, within `guarded`); everything else stays, with the
    // folders that hold it. True when the item itself has gone.
    static bool removeCopied(const SharedItem& item, const CopiedItem& record, const GuardedStep& guarded);
    // renameat2 with the given flags (RENAME_NOREPLACE, RENAME_EXCHANGE or 0).
    static bool renameItem(const SharedItem& from, const SharedItem& to, unsigned flags,
                           Error* error = nullptr);
    // The item a path names outside any shared folder (the server's own temporary files): its
    // folder opened as the path says, and its last component.
    static std::optional<SharedItem> itemAtPath(const std::string& path, Error* error = nullptr);
    // Renames `from` to `to`, never replacing an item at `to` (EEXIST). Across file systems it
    // copies and then removes the source.
    static bool moveItemNoReplace(const SharedItem& from, const SharedItem& to, Error* error = nullptr);
    // A second item for the same folder and another name (the folder descriptor duplicated).
    static std::optional<SharedItem> sibling(const SharedItem& item, std::string name,
                                             Error* error = nullptr);

    // For tests: from now on every resolution, every opening of an item and every opening of a
    // folder to share fails with this error number, as when the process is out of descriptors
    // (EMFILE); 0 ends it.
    static void setOpenFailure(int errorNumber);

private:
    SharedFolder(std::string path, std::string realPath, int descriptor, const FileStatus& status);
    std::optional<SharedItem> resolveFast(std::string_view relativePath, bool followLastLink,
                                          HiddenNames hidden) const;
    std::optional<SharedItem> resolveByWalk(std::string_view relativePath, bool followLastLink,
                                            HiddenNames hidden, Error* error) const;
    // Opens the folder reached from the shared folder through `names` (real folders, no links).
    FileDescriptor openChain(const std::vector<std::string>& names, Error* error) const;

    std::string _path;
    std::string _realPath;
    int _descriptor;
    std::uint64_t _device;
    std::uint64_t _inode;
};

} // namespace platform
