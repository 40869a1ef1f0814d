#include "WebServerStoredFile.h"

#include "foundation/SharedFolder.h"
#include "foundation/TemporaryFile.h"

#include <cerrno>
#include <fcntl.h>

bool WebServerStoredFile::publishAt(int folder, const char* name) const {
    // Opened without waiting and never through a link, whatever holds the name now.
    const platform::FileDescriptor file(
        ::openat(folder, name, O_RDONLY | O_NOFOLLOW | O_NONBLOCK | O_NOCTTY | O_CLOEXEC));
    if (!file.valid()) {
        return false;
    }
    struct stat status {};
    if (::fstat(file.get(), &status) != 0) {
        return false;
    }
    if (!isHeldBy(status)) {
        errno = ESTALE;
        return false;
    }
    return (status.st_mode & 07777) == platform::publishedFileMode() ||
           ::fchmod(file.get(), platform::publishedFileMode()) == 0;
}
