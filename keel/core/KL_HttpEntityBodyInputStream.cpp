#include "KL_HttpEntityBodyInputStream.h"

#include "KL_HttpChunkedInputStream.h"

#include <algorithm>

KL_HttpEntityBodyInputStream::KL_HttpEntityBodyInputStream(const KL_InputStreamReference& source,
                                                           uint64_t size, bool size_is_known, bool chunked,
                                                           KL_HttpClient::Connection* connection,
                                                           bool should_persist)
    : m_Size(size), m_SizeIsKnown(size_is_known), m_Chunked(chunked), m_Connection(connection),
      m_ShouldPersist(should_persist) {
    if (size_is_known && size == 0 && !chunked) {
        (void)OnFullyRead();
        return;
    }
    if (chunked) {
        m_Source = KL_InputStreamReference(new KL_HttpChunkedInputStream(source), true);
    } else {
        m_Source = source;
    }
}

KL_HttpEntityBodyInputStream::~KL_HttpEntityBodyInputStream() {
    // A connection still held was not read to its end: deleting it closes it.
    delete m_Connection;
    m_Connection = nullptr;
    m_Source.Release();
}

bool KL_HttpEntityBodyInputStream::IsBoundedByLength() const {
    return m_SizeIsKnown && !m_Chunked;
}

KL_Result KL_HttpEntityBodyInputStream::Read(void* buffer, KL_Size bytes_to_read, KL_Size* bytes_read) {
    if (bytes_read != nullptr) {
        *bytes_read = 0;
    }
    if (KL_FAILED(m_Failure)) {
        return m_Failure;
    }
    if (m_Source.AsPointer() == nullptr) {
        return KL_ERROR_EOS;
    }
    if (IsBoundedByLength()) {
        const uint64_t remaining = m_Size - m_Position;
        if (remaining == 0) {
            return KL_ERROR_EOS;
        }
        bytes_to_read = static_cast<KL_Size>(std::min<uint64_t>(bytes_to_read, remaining));
    }
    KL_Size count = 0;
    const KL_Result result = m_Source->Read(buffer, bytes_to_read, &count);
    if (KL_SUCCEEDED(result)) {
        m_Position += count;
        if (bytes_read != nullptr) {
            *bytes_read = count;
        }
    }
    if (result == KL_ERROR_EOS && IsBoundedByLength() && m_Position < m_Size) {
        // The connection ended before the announced length: the body is cut short, and the
        // connection is not fit for another request.
        m_Failure = KL_ERROR_CONNECTION_ABORTED;
        m_Source.Release();
        return m_Failure;
    }
    if (result == KL_ERROR_EOS || (KL_SUCCEEDED(result) && IsBoundedByLength() && m_Position >= m_Size)) {
        (void)OnFullyRead();
    }
    return result;
}

KL_Result KL_HttpEntityBodyInputStream::Seek(uint64_t) {
    return KL_ERROR_NOT_SUPPORTED;
}

KL_Result KL_HttpEntityBodyInputStream::Tell(uint64_t& offset) {
    offset = m_Position;
    return KL_SUCCESS;
}

KL_Result KL_HttpEntityBodyInputStream::GetSize(uint64_t& size) {
    size = m_SizeIsKnown ? m_Size : 0;
    return KL_SUCCESS;
}

KL_Result KL_HttpEntityBodyInputStream::GetAvailable(uint64_t& available) {
    available = 0;
    if (m_Source.AsPointer() == nullptr) {
        return KL_SUCCESS;
    }
    uint64_t count = 0;
    const KL_Result result = m_Source->GetAvailable(count);
    if (KL_FAILED(result)) {
        return result;
    }
    available = IsBoundedByLength() ? std::min<uint64_t>(count, m_Size - m_Position) : count;
    return KL_SUCCESS;
}

KL_Result KL_HttpEntityBodyInputStream::OnFullyRead() {
    m_Source.Release();
    if (m_Connection == nullptr || !m_ShouldPersist) {
        return KL_SUCCESS;
    }
    KL_HttpClient::Connection* connection = m_Connection;
    m_Connection = nullptr; // the pool owns it from here on
    return connection->Recycle();
}
