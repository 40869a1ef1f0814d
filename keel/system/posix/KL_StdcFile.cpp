// KL_StdcFile: opens a KL_File's path with the C library and hands out its streams.
#include "KL_StdcFile.h"

#include "KL_Check.h"
#include "KL_File.h"
#include "KL_PosixFile.h"
#include "KL_StdcFileStream.h"

#include <cerrno>
#include <fcntl.h>
#include <unistd.h>

KL_SET_LOCAL_LOGGER("keel.file");

namespace {
// Opens a path the way the mode asks. Write + create without truncate keeps an existing file's
// bytes: open(2) creates without emptying, then the descriptor becomes a stream.
FILE* OpenPath(const char* path, KL_FileOpenMode mode) {
    if ((mode & KL_FILE_OPEN_MODE_WRITE) == 0) {
        return std::fopen(path, "rbe");
    }
    if ((mode & KL_FILE_OPEN_MODE_APPEND) != 0) {
        return std::fopen(path, "a+be");
    }
    if ((mode & KL_FILE_OPEN_MODE_TRUNCATE) != 0) {
        return std::fopen(path, "w+be");
    }
    if ((mode & KL_FILE_OPEN_MODE_CREATE) != 0) {
        int fd = ::open(path, O_RDWR | O_CREAT | O_CLOEXEC, 0666);
        if (fd < 0) {
            return nullptr;
        }
        FILE* file = ::fdopen(fd, "r+b");
        if (file == nullptr) {
            int e = errno;
            ::close(fd);
            errno = e;
        }
        return file;
    }
    return std::fopen(path, "r+be");
}
} // namespace

KL_StdcFile::KL_StdcFile(KL_File& delegator) : m_Delegator(delegator) {}

KL_StdcFile::~KL_StdcFile() {
    Close();
}

KL_Result KL_StdcFile::Open(KL_FileOpenMode mode) {
    if (!m_FileReference.IsNull()) {
        return KL_ERROR_FILE_ALREADY_OPEN;
    }
    const KL_String& name = m_Delegator.GetPath();
    FILE* file = nullptr;
    bool is_standard = true;
    if (name == KL_FILE_STANDARD_INPUT) {
        file = stdin;
    } else if (name == KL_FILE_STANDARD_OUTPUT) {
        file = stdout;
    } else if (name == KL_FILE_STANDARD_ERROR) {
        file = stderr;
    } else {
        is_standard = false;
        file = OpenPath(name.GetChars(), mode);
        if (file == nullptr) {
            return KL_MapStdcFileErrno(errno);
        }
        if ((mode & KL_FILE_OPEN_MODE_UNBUFFERED) != 0) {
            std::setvbuf(file, nullptr, _IONBF, 0);
        }
    }
    m_FileReference = KL_StdcFileReference(new KL_StdcFileWrapper(file, name.GetChars(), is_standard), true);
    m_Mode = mode;
    return KL_SUCCESS;
}

KL_Result KL_StdcFile::Close() {
    KL_Result result = KL_SUCCESS;
    // The last holder closes now, so the caller learns whether the close failed.
    if (m_FileReference.GetCounter() == 1) {
        result = m_FileReference->Close();
    }
    m_FileReference.Release();
    m_Mode = 0;
    return result;
}

KL_Result KL_StdcFile::GetInputStream(KL_InputStreamReference& stream) {
    stream.Release();
    if (m_FileReference.IsNull()) {
        return KL_ERROR_FILE_NOT_OPEN;
    }
    if ((m_Mode & KL_FILE_OPEN_MODE_READ) == 0) {
        return KL_ERROR_FILE_NOT_READABLE;
    }
    stream = KL_InputStreamReference(new KL_StdcFileInputStream(m_FileReference), true);
    return KL_SUCCESS;
}

KL_Result KL_StdcFile::GetOutputStream(KL_OutputStreamReference& stream) {
    stream.Release();
    if (m_FileReference.IsNull()) {
        return KL_ERROR_FILE_NOT_OPEN;
    }
    if ((m_Mode & KL_FILE_OPEN_MODE_WRITE) == 0) {
        return KL_ERROR_FILE_NOT_WRITABLE;
    }
    stream = KL_OutputStreamReference(new KL_StdcFileOutputStream(m_FileReference), true);
    return KL_SUCCESS;
}
