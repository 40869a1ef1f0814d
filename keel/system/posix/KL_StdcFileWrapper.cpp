// KL_StdcFileWrapper: owns one standard-I/O handle.
#include "KL_StdcFileWrapper.h"

#include "KL_PosixFile.h"

#include <cerrno>

KL_StdcFileWrapper::KL_StdcFileWrapper(FILE* file, const char* name, bool is_standard)
    : m_File(file), m_Name(name), m_IsStandard(is_standard) {}

KL_StdcFileWrapper::~KL_StdcFileWrapper() {
    (void)Close();
}

KL_Result KL_StdcFileWrapper::Close() {
    if (m_File == nullptr) {
        return KL_SUCCESS;
    }
    FILE* file = m_File;
    if (m_IsStandard && file == stdin) {
        return KL_SUCCESS; // flushing an input stream would drop what it has read ahead
    }
    int status = m_IsStandard ? std::fflush(file) : std::fclose(file);
    int e = errno;
    if (!m_IsStandard) {
        m_File = nullptr;
    }
    return status == 0 ? KL_SUCCESS : KL_MapFileErrno(e);
}
