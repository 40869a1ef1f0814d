#pragma once

#include "foundation/Data.h"
#include "foundation/Error.h"

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace platform {

// The kind of an item as lstat (or stat) reports it.
enum class FileType { regular, directory, symbolicLink, other };

// A time stamp of the file system: seconds and nanoseconds since the epoch.
struct FileTime {
    std::int64_t seconds = 0;
    std::int64_t nanoseconds = 0;
    Date date() const;
    bool operator==(const FileTime&) const = default;
};

// What the file system knows about one item.
struct FileStatus {
    FileType type = FileType::other;
    std::uint64_t size = 0;
    std::uint64_t inode = 0;
    std::uint64_t device = 0;
    std::uint32_t mode = 0; // permission bits (07777)
    FileTime modificationTime;
    // The birth time, where the file system records one.
    std::optional<FileTime> creationTime;

    bool isRegularFile() const { return type == FileType::regular; }
    bool isDirectory() const { return type == FileType::directory; }
    bool isSymbolicLink() const { return type == FileType::symbolicLink; }
};

// Paths and items of the local file system. Every failure is reported as a POSIX error (the
// error number and its text); a path with a NUL byte in it fails with EINVAL.
//
// Paths are handled as text: nothing here resolves symbolic links unless it says so, and "~" has
// no special meaning.
class FileSystem {
public:
    // ---- Path text ----

    // Collapses repeated "/", removes "." components and a trailing "/", and lets ".." remove the
    // component before it ("/.." is "/"; a relative path keeps its leading ".." components). A
    // relative path that collapses to nothing is "."; "" stays "". Symbolic links are not
    // resolved, so "/a/link/.." is "/a" whatever "link" points to.
    static std::string standardizePath(std::string_view path);
    // "~" and "~user" at the start of a path become that home folder (unchanged when unknown).
    static std::string expandingTildeInPath(const std::string& path);
    // A folder as the user names it, the way the servers keep it: tilde expanded, made absolute
    // against the current folder, standardized.
    static std::string absoluteStandardizedPath(const std::string& path);
    // `base` + "/" + `component`, with one "/" between them: a leading "/" of the component does
    // not make it absolute. An empty component gives the base; an empty base the component.
    static std::string appendPathComponent(std::string_view base, std::string_view component);
    // The last component ("/a/b/" → "b"); "/" for "/"; "" for "".
    static std::string lastPathComponent(std::string_view path);
    // The path without its last component ("/a/b" → "/a", "/a" → "/", "a" → "").
    static std::string deletingLastPathComponent(std::string_view path);
    // The extension of the last component without the dot ("a.tar.gz" → "gz"); "" when there is
    // none or the only dot begins the name (".profile").
    static std::string pathExtension(std::string_view path);
    // The path without the extension of its last component and its dot.
    static std::string deletingPathExtension(std::string_view path);

    // True when `child` lies below `parent`, compared by whole components after standardizing
    // both ("/srv/Share/a" is inside "/srv/Share", "/srv/Share2" is not). A path is not inside
    // itself.
    static bool isPathInside(std::string_view child, std::string_view parent);
    // The same, and also true when both standardize to the same path.
    static bool isPathInsideOrEqual(std::string_view child, std::string_view parent);

    // ---- Items ----

    // Status of the item itself: a symbolic link is reported as a link (lstat).
    static std::optional<FileStatus> statusOfItem(const std::string& path, Error* error = nullptr);
    // Status of what the path leads to, following symbolic links (stat).
    static std::optional<FileStatus> statusOfItemFollowingLinks(const std::string& path,
                                                                Error* error = nullptr);
    // Status of an open descriptor.
    static std::optional<FileStatus> statusOfDescriptor(int descriptor, Error* error = nullptr);
    // The absolute path with every symbolic link, "." and ".." resolved (realpath); none when an
    // item on the way does not exist.
    static std::optional<std::string> resolvePath(const std::string& path, Error* error = nullptr);
    // True when something (a dangling symbolic link included) has that name.
    static bool itemExists(const std::string& path);

    // The names in a directory, "." and ".." excepted, in byte order.
    static std::optional<std::vector<std::string>> contentsOfDirectory(const std::string& path,
                                                                       Error* error = nullptr);
    // Creates one directory (no intermediate directories); fails when anything has that name.
    static bool createDirectory(const std::string& path, Error* error = nullptr);

    // Renames `from` to `to`, never replacing an item at `to` (EEXIST). Across file systems it
    // copies and then removes the source; when that removal fails the complete copy is kept and
    // the error is reported.
    static bool moveItemNoReplace(const std::string& from, const std::string& to, Error* error = nullptr);
    // Copies a file, a symbolic link (as a link) or a directory with everything in it to `to`,
    // which must not exist (EEXIST). Modes and modification times are kept. On failure whatever
    // the copy created is removed.
    static bool copyItem(const std::string& from, const std::string& to, Error* error = nullptr);
    // Removes a file, a link or a directory with everything in it. Symbolic links are removed,
    // never followed. Stops at the first failure.
    static bool removeItem(const std::string& path, Error* error = nullptr);
};

} // namespace platform
