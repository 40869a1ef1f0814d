// UP_SharedFolder: the shared folder kept open as a descriptor, and every path below it opened
// beneath that descriptor, so that a file or folder swapped for a symbolic link while a request
// runs can never lead it outside: what was checked is what is used.
//
// A link met on the way is followed when it stays inside: a relative target from the link's own
// folder (".." never climbs above the shared folder), an absolute one only when it lies inside the
// folder's real path. A link that leads out, or more than 40 links in one path, fails with EXDEV
// or ELOOP.
//
//   UP_SharedFolder share("/srv/media");
//   UP_SharedFolder::Descriptor file(share.Open("Movies/a.mp4", O_PATH));
//   struct stat status; ::fstat(file.Get(), &status);
//
// The folder is opened (and its real path resolved) once, at construction. Thread-safe: nothing
// changes afterwards. UP_FollowedFolder opens another one when the path comes to name another
// folder.
#pragma once

#include "KL_String.h"

#include <sys/types.h>

struct stat;

class UP_SharedFolder {
public:
    static constexpr int kMaximumLinks = 40;

    // Owns one open descriptor (closed with the object); -1 when none.
    class Descriptor {
    public:
        Descriptor() = default;
        explicit Descriptor(int fd) : m_Fd(fd) {}
        ~Descriptor() { Reset(); }
        Descriptor(Descriptor&& other) noexcept : m_Fd(other.Release()) {}
        Descriptor& operator=(Descriptor&& other) noexcept {
            if (this != &other) {
                Reset(other.Release());
            }
            return *this;
        }
        Descriptor(const Descriptor&) = delete;
        Descriptor& operator=(const Descriptor&) = delete;

        int Get() const { return m_Fd; }
        bool IsValid() const { return m_Fd >= 0; }
        int Release() {
            const int fd = m_Fd;
            m_Fd = -1;
            return fd;
        }
        void Reset(int fd = -1);

    private:
        int m_Fd = -1;
    };

    // Opens the folder (links in its own path followed). IsOpen tells whether that worked.
    explicit UP_SharedFolder(const char* path);
    UP_SharedFolder(const UP_SharedFolder&) = delete;
    UP_SharedFolder& operator=(const UP_SharedFolder&) = delete;

    bool IsOpen() const { return m_Root.IsValid(); }
    // Why the folder could not be opened (an errno value); 0 when it is open.
    int GetError() const { return m_Error; }
    // True when the status (of a path) is that of the folder held open: same device and inode.
    bool Holds(const struct stat& status) const;
    // The folder's path with every link resolved.
    const KL_String& GetRealPath() const { return m_RealPath; }

    // Opens what the relative path names ("" or "." is the folder itself; no leading "/") with the
    // open flags given (O_CLOEXEC is added), following links in every component as above. An
    // invalid descriptor with errno set when it cannot.
    Descriptor Open(const char* relative_path, int flags) const;
    // Opens a regular file for reading without ever opening anything else (a FIFO or device put
    // there is refused with ENOENT, not opened); st receives its status.
    Descriptor OpenFile(const char* relative_path, struct stat& status) const;

    // The absolute path without ".", ".." and repeated "/" (textually; "/.." stays "/").
    static KL_String Standardize(const char* path);

private:
    Descriptor OpenByWalk(const char* relative_path, int flags) const;

    Descriptor m_Root;
    KL_String m_RealPath;
    dev_t m_Device = 0; // of the folder held open
    ino_t m_Inode = 0;
    int m_Error = 0;
};
