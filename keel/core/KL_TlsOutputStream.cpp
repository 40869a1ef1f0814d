#include "KL_TlsOutputStream.h"

#include "KL_TlsSessionImpl.h"

KL_TlsOutputStream::KL_TlsOutputStream(const KL_Reference<KL_TlsSessionImpl>& session) : m_Session(session) {}

KL_Result KL_TlsOutputStream::Write(const void* buffer, KL_Size bytes_to_write, KL_Size* bytes_written) {
    if (bytes_written != nullptr) {
        *bytes_written = 0;
    }
    if (bytes_to_write == 0) {
        return KL_SUCCESS;
    }
    KL_Size count = 0;
    const KL_Result result = m_Session->Write(buffer, bytes_to_write, count);
    if (KL_SUCCEEDED(result)) {
        m_Position += count;
        if (bytes_written != nullptr) {
            *bytes_written = count;
        }
    }
    return result;
}

KL_Result KL_TlsOutputStream::Seek(KL_Position) {
    return KL_ERROR_NOT_IMPLEMENTED;
}

KL_Result KL_TlsOutputStream::Tell(KL_Position& offset) {
    offset = m_Position;
    return KL_SUCCESS;
}
