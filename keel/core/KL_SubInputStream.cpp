// KL_SubInputStream: a window of another input stream.
#include "KL_SubInputStream.h"

#include "KL_Check.h"

#include <algorithm>

KL_SET_LOCAL_LOGGER("keel.streams");

KL_SubInputStream::KL_SubInputStream(const KL_InputStreamReference& source, KL_Position start,
                                     KL_LargeSize size)
    : m_Source(source), m_Start(start), m_Size(size) {}

KL_Result KL_SubInputStream::Read(void* buffer, KL_Size bytes_to_read, KL_Size* bytes_read) {
    if (bytes_read != nullptr) {
        *bytes_read = 0;
    }
    if (bytes_to_read == 0) {
        return KL_SUCCESS;
    }
    KL_CHECK_POINTER(buffer);
    KL_LargeSize left = m_Position < m_Size ? m_Size - m_Position : 0;
    auto count = static_cast<KL_Size>(std::min<KL_LargeSize>(bytes_to_read, left));
    if (count == 0) {
        return KL_ERROR_EOS;
    }
    KL_CHECK_FINE(m_Source->Seek(m_Start + m_Position));
    KL_Size got = 0;
    KL_Result result = m_Source->Read(buffer, count, &got);
    got = std::min(got, count);
    m_Position += got;
    if (bytes_read != nullptr) {
        *bytes_read = got;
    }
    return result;
}

KL_Result KL_SubInputStream::Seek(KL_Position offset) {
    if (offset == m_Position) {
        return KL_SUCCESS;
    }
    if (offset > m_Size) {
        return KL_ERROR_OUT_OF_RANGE;
    }
    m_Position = offset;
    return KL_SUCCESS;
}

KL_Result KL_SubInputStream::Tell(KL_Position& offset) {
    offset = m_Position;
    return KL_SUCCESS;
}

KL_Result KL_SubInputStream::GetSize(KL_LargeSize& size) {
    size = m_Size;
    return KL_SUCCESS;
}

KL_Result KL_SubInputStream::GetAvailable(KL_LargeSize& available) {
    available = m_Position < m_Size ? m_Size - m_Position : 0;
    return KL_SUCCESS;
}
