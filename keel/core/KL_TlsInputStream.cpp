#include "KL_TlsInputStream.h"

#include "KL_TlsSessionImpl.h"

KL_TlsInputStream::KL_TlsInputStream(const KL_Reference<KL_TlsSessionImpl>& session) : m_Session(session) {}

KL_Result KL_TlsInputStream::Read(void* buffer, KL_Size bytes_to_read, KL_Size* bytes_read) {
    if (bytes_read != nullptr) {
        *bytes_read = 0;
    }
    if (bytes_to_read == 0) {
        return KL_SUCCESS;
    }
    KL_Size count = 0;
    const KL_Result result = m_Session->Read(buffer, bytes_to_read, count);
    if (KL_SUCCEEDED(result)) {
        m_Position += count;
        if (bytes_read != nullptr) {
            *bytes_read = count;
        }
    }
    return result;
}

KL_Result KL_TlsInputStream::Seek(KL_Position) {
    return KL_ERROR_NOT_IMPLEMENTED;
}

KL_Result KL_TlsInputStream::Tell(KL_Position& offset) {
    offset = m_Position;
    return KL_SUCCESS;
}

KL_Result KL_TlsInputStream::GetSize(KL_LargeSize& size) {
    size = 0;
    return KL_ERROR_NOT_IMPLEMENTED;
}

KL_Result KL_TlsInputStream::GetAvailable(KL_LargeSize& available) {
    available = 0;
    return KL_SUCCESS;
}
