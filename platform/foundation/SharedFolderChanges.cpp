// A copy kept up to date with its source, and the source removed behind it: the two halves of a
// move that has to copy (to another file system) while others may still write into what it moves.
// Each works on descriptors beneath the folders given, a few at a time, whatever the depth.

#include "foundation/SharedFolder.h"

#include "foundation/FileSystemSupport.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <set>

namespace platform {

using namespace filesystem_detail;

bool CopiedItem::isUnchanged(const FileStatus& now) const {
    return now.type == status.type && now.device == status.device && now.inode == status.inode &&
           (now.isDirectory() ||
            (now.size == status.size && now.modificationTime == status.modificationTime));
}

namespace {

SharedItem itemIn(int folder, const std::string& name) {
    return SharedItem{FileDescriptor(::fcntl(folder, F_DUPFD_CLOEXEC, 0)), name};
}

bool isGone(long long errorNumber) {
    return errorNumber == ENOENT || errorNumber == ENOTDIR;
}

// One pass over a source folder and its copy: the folder's own entries compared with the record,
// and the folders among them that are unchanged, to be looked into next.
struct FolderPass {
    const SharedFolder::NameFilter& leftOut;
    std::size_t changes = 0;
    std::vector<std::string> unchangedFolders;

    // Copies again an entry that appeared or changed; false (with the error) on a failure other
    // than the entry going meanwhile.
    bool recopy(int source, int copy, const std::string& name, CopiedItem& folder, Error* error) {
        ++changes;
        if (folder.entries.erase(name) != 0) {
            removeTreeAt(copy, name, nullptr);
        }
        CopiedItem fresh;
        Error copyError;
        if (!SharedFolder::copyItem(itemIn(source, name), itemIn(copy, name), &copyError, leftOut, &fresh)) {
            if (isGone(copyError.code)) {
                return true; // gone meanwhile: nothing to copy
            }
            setError(error, copyError);
            return false;
        }
        folder.entries[name] = std::move(fresh);
        return true;
    }

    bool run(int source, int copy, CopiedItem& folder, Error* error) {
        const auto folderStatus = FileSystem::statusOfDescriptor(source, error);
        const auto entries = folderStatus ? SharedFolder::listDirectory(source, error) : std::nullopt;
        if (!entries) {
            return false;
        }
        std::set<std::string> present;
        for (const SharedDirectoryEntry& entry : *entries) {
            if (leftOut && leftOut(*folderStatus, entry.name)) {
                continue;
            }
            present.insert(entry.name);
            const auto found = folder.entries.find(entry.name);
            if (found != folder.entries.end() && found->second.isUnchanged(entry.status)) {
                if (entry.status.isDirectory()) {
                    unchangedFolders.push_back(entry.name);
                }
            } else if (!recopy(source, copy, entry.name, folder, error)) {
                return false;
            }
        }
        for (auto recorded = folder.entries.begin(); recorded != folder.entries.end();) {
            if (present.count(recorded->first)) {
                ++recorded;
                continue;
            }
            ++changes; // gone from the source: gone from the copy too
            removeTreeAt(copy, recorded->first, nullptr);
            recorded = folder.entries.erase(recorded);
        }
        return true;
    }
};

// The folder's mode and times given to its copy, after entries of the copy changed.
void copyFolderAttributes(int source, int copyParent, const std::string& copyName) {
    struct stat info {};
    if (::fstat(source, &info) == 0) {
        const struct timespec times[2] = {info.st_atim, info.st_mtim};
        ::fchmodat(copyParent, copyName.c_str(), info.st_mode & 0777, 0);
        ::utimensat(copyParent, copyName.c_str(), times, AT_SYMLINK_NOFOLLOW);
    }
}

// The changes below a folder whose own identity is unchanged; no descriptor is held while the
// folders below it are looked into.
std::optional<std::size_t> changesIn(int fromBase, int toBase, std::vector<std::string>& from,
                                     std::vector<std::string>& to, CopiedItem& folder,
                                     const SharedFolder::NameFilter& leftOut, Error* error) {
    FolderPass pass{leftOut, 0, {}};
    {
        FileDescriptor source(openFolderChain(fromBase, from, from.size(), O_RDONLY));
        FileDescriptor copy(openFolderChain(toBase, to, to.size(), O_PATH));
        FileDescriptor copyParent(openFolderChain(toBase, to, to.size() - 1, O_PATH));
        if (!source.valid() || !copy.valid() || !copyParent.valid()) {
            failWithErrno(error);
            // A folder gone since it was looked at from above: its parent's next pass sees it.
            return source.valid() || !isGone(errno) ? std::nullopt : std::optional<std::size_t>(1);
        }
        if (!pass.run(source.get(), copy.get(), folder, error)) {
            return std::nullopt;
        }
        if (pass.changes != 0) {
            copyFolderAttributes(source.get(), copyParent.get(), to.back());
        }
    }
    std::size_t changes = pass.changes;
    for (const std::string& name : pass.unchangedFolders) {
        from.push_back(name);
        to.push_back(name);
        const auto below = changesIn(fromBase, toBase, from, to, folder.entries[name], leftOut, error);
        from.pop_back();
        to.pop_back();
        if (!below) {
            return std::nullopt;
        }
        changes += *below;
    }
    return changes;
}

// Removes the entry `name` of an open folder while it is still the one recorded (a folder only
// when empty), looked at under `guarded`; true when it has gone.
bool removeEntry(int folder, const std::string& name, const CopiedItem& record,
                 const SharedFolder::GuardedStep& guarded) {
    bool removed = false;
    guarded(itemIn(folder, name), [&] {
        const auto now = statusAt(folder, name, AT_SYMLINK_NOFOLLOW, nullptr);
        removed = now && record.isUnchanged(*now) &&
                  ::unlinkat(folder, name.c_str(), now->isDirectory() ? AT_REMOVEDIR : 0) == 0;
    });
    return removed;
}

// Empties the folder `names` leads to beneath `base` of what is recorded and unchanged, its own
// entries through one descriptor and then the folders below it (no descriptor held meanwhile), and
// removes it when it is still the folder copied and nothing else is there; true when it has gone.
bool removeRecorded(int base, std::vector<std::string>& names, const CopiedItem& record,
                    const SharedFolder::GuardedStep& guarded) {
    bool everythingGone = true;
    {
        FileDescriptor folder(openFolderChain(base, names, names.size(), O_PATH));
        Error error;
        const auto status =
            folder.valid() ? FileSystem::statusOfDescriptor(folder.get(), &error) : std::nullopt;
        if (!status) {
            return !folder.valid() && isGone(errno);
        }
        if (!record.isUnchanged(*status)) {
            return false;
        }
        for (const auto& [name, entry] : record.entries) {
            if (!entry.status.isDirectory()) {
                everythingGone = removeEntry(folder.get(), name, entry, guarded) && everythingGone;
            }
        }
    }
    for (const auto& [name, entry] : record.entries) {
        if (entry.status.isDirectory()) {
            names.push_back(name);
            everythingGone = removeRecorded(base, names, entry, guarded) && everythingGone;
            names.pop_back();
        }
    }
    FileDescriptor parent(openFolderChain(base, names, names.size() - 1, O_PATH));
    return everythingGone && parent.valid() && removeEntry(parent.get(), names.back(), record, guarded);
}

} // namespace

std::optional<std::size_t> SharedFolder::copyChanges(const SharedItem& from, const SharedItem& copy,
                                                     CopiedItem& record, Error* error,
                                                     const NameFilter& leftOut) {
    const auto now = status(from, error);
    if (!now) {
        return std::nullopt;
    }
    if (!record.isUnchanged(*now)) {
        // The item itself was replaced: its copy is made afresh.
        removeTreeAt(copy.folder.get(), copy.name, nullptr);
        record = CopiedItem();
        if (!copyItem(from, copy, error, leftOut, &record)) {
            return std::nullopt;
        }
        return 1;
    }
    if (!now->isDirectory()) {
        return 0;
    }
    std::vector<std::string> fromNames{from.name};
    std::vector<std::string> copyNames{copy.name};
    return changesIn(from.folder.get(), copy.folder.get(), fromNames, copyNames, record, leftOut, error);
}

bool SharedFolder::removeCopied(const SharedItem& item, const CopiedItem& record,
                                const GuardedStep& guarded) {
    if (item.isRoot()) {
        return false;
    }
    if (!record.status.isDirectory()) {
        return removeEntry(item.folder.get(), item.name, record, guarded);
    }
    std::vector<std::string> names{item.name};
    return removeRecorded(item.folder.get(), names, record, guarded);
}

} // namespace platform
