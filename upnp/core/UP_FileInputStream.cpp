#include "UP_FileInputStream.h"

#include "KL_Result.h"

#include <cerrno>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

KL_Result UP_FileInputStream::Open(const char* path, KL_InputStreamReference& stream) {
    if (path == nullptr) {
        return KL_ERROR_INVALID_PARAMETERS;
    }
    // O_NONBLOCK: opening a FIFO without a writer would wait for one; regular files ignore it.
    int fd = ::open(path, O_RDONLY | O_NONBLOCK | O_CLOEXEC | O_NOCTTY);
    if (fd < 0) {
        return KL_ResultFromErrno(errno);
    }
    return Adopt(fd, stream);
}

KL_Result UP_FileInputStream::Adopt(int fd, KL_InputStreamReference& stream) {
    struct stat info {};
    if (fd < 0 || ::fstat(fd, &info) != 0 || !S_ISREG(info.st_mode)) {
        if (fd >= 0) {
            ::close(fd);
        }
        return KL_ERROR_NO_SUCH_ITEM;
    }
    int flags = ::fcntl(fd, F_GETFL);
    if (flags >= 0 && (flags & O_NONBLOCK) != 0) {
        (void)::fcntl(fd, F_SETFL, flags & ~O_NONBLOCK);
    }
    stream = KL_InputStreamReference(new UP_FileInputStream(fd));
    return KL_SUCCESS;
}

UP_FileInputStream::~UP_FileInputStream() {
    ::close(m_Fd);
}

KL_Result UP_FileInputStream::Read(void* buffer, KL_Size bytes_to_read, KL_Size* bytes_read) {
    if (bytes_read != nullptr) {
        *bytes_read = 0;
    }
    if (bytes_to_read == 0) {
        return KL_SUCCESS;
    }
    ssize_t count;
    do {
        count = ::read(m_Fd, buffer, bytes_to_read);
    } while (count < 0 && errno == EINTR);
    if (count < 0) {
        return KL_ResultFromErrno(errno);
    }
    if (count == 0) {
        return KL_ERROR_EOS;
    }
    if (bytes_read != nullptr) {
        *bytes_read = KL_Size(count);
    }
    return KL_SUCCESS;
}

KL_Result UP_FileInputStream::Seek(KL_Position offset) {
    if (::lseek(m_Fd, off_t(offset), SEEK_SET) < 0) {
        return KL_ResultFromErrno(errno);
    }
    return KL_SUCCESS;
}

KL_Result UP_FileInputStream::Tell(KL_Position& offset) {
    off_t position = ::lseek(m_Fd, 0, SEEK_CUR);
    if (position < 0) {
        return KL_ResultFromErrno(errno);
    }
    offset = KL_Position(position);
    return KL_SUCCESS;
}

KL_Result UP_FileInputStream::GetSize(KL_LargeSize& size) {
    struct stat info {};
    if (::fstat(m_Fd, &info) != 0) {
        return KL_ResultFromErrno(errno);
    }
    size = KL_LargeSize(info.st_size);
    return KL_SUCCESS;
}

KL_Result UP_FileInputStream::GetAvailable(KL_LargeSize& available) {
    KL_LargeSize size = 0;
    KL_Position position = 0;
    KL_Result result = GetSize(size);
    if (KL_SUCCEEDED(result)) {
        result = Tell(position);
    }
    available = (KL_SUCCEEDED(result) && size > position) ? size - position : 0;
    return result;
}
