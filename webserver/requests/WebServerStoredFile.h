#pragma once

#include <cstdint>
#include <sys/stat.h>

// A request body's file as the server wrote it: which file, and how many bytes went in. The file is
// written in append mode, so a file that another program truncated meanwhile ends shorter than
// that. Before a body is put in place, what its name holds is compared with this: a file removed
// and made again, or cut, is never stored as if it were the body. The file is made readable by its
// owner only (0600) while it is received and staged; it gets the permissions of a file of the
// user's only as it goes into place (publishAt).
struct WebServerStoredFile {
    dev_t device = 0;
    ino_t inode = 0;
    std::uint64_t size = 0;
    bool known = false;

    // Notes the open file `file` once `written` bytes went in (before it is closed).
    static WebServerStoredFile of(int file, std::uint64_t written) {
        struct stat status {};
        if (::fstat(file, &status) != 0) {
            return {};
        }
        return {status.st_dev, status.st_ino, written, true};
    }
    // Whether `status` (of what the body's name holds now) is that file, with all its bytes.
    bool isHeldBy(const struct stat& status) const {
        return known && S_ISREG(status.st_mode) && status.st_dev == device && status.st_ino == inode &&
               static_cast<std::uint64_t>(status.st_size) == size;
    }
    // Checks that the name `name` in the open folder `folder` holds this file, whole, and gives that
    // file the permissions of a file of the user's (platform::publishedFileMode), both through one
    // descriptor of it. False with errno set (ESTALE when it is another file, or not whole).
    bool publishAt(int folder, const char* name) const;
};
