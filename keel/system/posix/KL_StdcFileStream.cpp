// Standard-I/O file streams.
#include "KL_StdcFileStream.h"

#include "KL_Check.h"
#include "KL_File.h"
#include "KL_PosixFile.h"

#include <cerrno>

KL_SET_LOCAL_LOGGER("keel.file");

KL_Result KL_StdcFileStream::SeekFile(KL_Position offset) {
    if (offset > static_cast<KL_Position>(INT64_MAX) ||
        ::fseeko(m_FileReference->GetFile(), static_cast<off_t>(offset), SEEK_SET) != 0) {
        return KL_FAILURE;
    }
    return KL_SUCCESS;
}

KL_Result KL_StdcFileStream::TellFile(KL_Position& offset) {
    offset = 0;
    off_t position = ::ftello(m_FileReference->GetFile());
    if (position < 0) {
        return KL_FAILURE;
    }
    offset = static_cast<KL_Position>(position);
    return KL_SUCCESS;
}

KL_Result KL_StdcFileInputStream::Read(void* buffer, KL_Size bytes_to_read, KL_Size* bytes_read) {
    if (bytes_read != nullptr) {
        *bytes_read = 0;
    }
    if (buffer == nullptr) {
        return KL_ERROR_INVALID_PARAMETERS;
    }
    if (bytes_to_read == 0) {
        return KL_SUCCESS;
    }
    FILE* file = m_FileReference->GetFile();
    size_t count = std::fread(buffer, 1, bytes_to_read, file);
    if (count == 0) {
        if (std::feof(file)) {
            return KL_ERROR_EOS;
        }
        return KL_MapStdcFileErrno(errno);
    }
    if (bytes_read != nullptr) {
        *bytes_read = static_cast<KL_Size>(count);
    }
    return KL_SUCCESS;
}

KL_Result KL_StdcFileInputStream::GetSize(KL_LargeSize& size) {
    size = 0;
    KL_FileInfo info;
    KL_CHECK_FINE(KL_File::GetInfo(m_FileReference->GetName().GetChars(), &info));
    size = info.m_Size;
    return KL_SUCCESS;
}

KL_Result KL_StdcFileInputStream::GetAvailable(KL_LargeSize& available) {
    available = 0;
    KL_LargeSize size = 0;
    KL_Position position = 0;
    if (KL_FAILED(GetSize(size)) || KL_FAILED(Tell(position)) || size < position) {
        return KL_FAILURE;
    }
    available = size - position;
    return KL_SUCCESS;
}

KL_Result KL_StdcFileOutputStream::Write(const void* data, KL_Size bytes_to_write, KL_Size* bytes_written) {
    if (bytes_written != nullptr) {
        *bytes_written = 0;
    }
    if (bytes_to_write == 0) {
        return KL_SUCCESS;
    }
    KL_CHECK_POINTER(data);
    size_t count = std::fwrite(data, 1, bytes_to_write, m_FileReference->GetFile());
    if (count == 0) {
        return KL_ERROR_WRITE_FAILED;
    }
    if (bytes_written != nullptr) {
        *bytes_written = static_cast<KL_Size>(count);
    }
    return KL_SUCCESS;
}

KL_Result KL_StdcFileOutputStream::Flush() {
    if (std::fflush(m_FileReference->GetFile()) != 0) {
        return KL_MapFileErrno(errno);
    }
    return KL_SUCCESS;
}
