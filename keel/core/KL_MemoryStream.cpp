// KL_MemoryStream: a growing byte buffer read and written through separate offsets.
#include "KL_MemoryStream.h"

#include "KL_Check.h"

#include <algorithm>
#include <cstring>

KL_SET_LOCAL_LOGGER("keel.streams");

KL_MemoryStream::KL_MemoryStream(KL_Size initial_capacity) : m_Buffer(initial_capacity) {}

KL_MemoryStream::KL_MemoryStream(const void* data, KL_Size size)
    : m_Buffer(static_cast<const KL_Byte*>(data), size, true) {}

KL_Result KL_MemoryStream::Read(void* buffer, KL_Size bytes_to_read, KL_Size* bytes_read) {
    if (bytes_read != nullptr) {
        *bytes_read = 0;
    }
    if (bytes_to_read == 0) {
        return KL_SUCCESS;
    }
    KL_CHECK_POINTER(buffer);
    KL_Size data_size = m_Buffer.GetDataSize();
    KL_Size count = m_ReadOffset < data_size ? std::min(bytes_to_read, data_size - m_ReadOffset) : 0;
    if (count == 0) {
        return KL_ERROR_EOS;
    }
    std::memcpy(buffer, m_Buffer.GetData() + m_ReadOffset, count);
    m_ReadOffset += count;
    if (bytes_read != nullptr) {
        *bytes_read = count;
    }
    return KL_SUCCESS;
}

KL_Result KL_MemoryStream::GetSize(KL_LargeSize& size) {
    size = m_Buffer.GetDataSize();
    return KL_SUCCESS;
}

KL_Result KL_MemoryStream::GetAvailable(KL_LargeSize& available) {
    KL_Size data_size = m_Buffer.GetDataSize();
    available = m_ReadOffset < data_size ? data_size - m_ReadOffset : 0;
    return KL_SUCCESS;
}

KL_Result KL_MemoryStream::InputSeek(KL_Position offset) {
    if (offset > m_Buffer.GetDataSize()) {
        return KL_ERROR_OUT_OF_RANGE;
    }
    m_ReadOffset = static_cast<KL_Size>(offset);
    return KL_SUCCESS;
}

KL_Result KL_MemoryStream::InputTell(KL_Position& offset) {
    offset = m_ReadOffset;
    return KL_SUCCESS;
}

KL_Result KL_MemoryStream::Write(const void* data, KL_Size bytes_to_write, KL_Size* bytes_written) {
    if (bytes_written != nullptr) {
        *bytes_written = 0;
    }
    if (bytes_to_write == 0) {
        return KL_SUCCESS;
    }
    KL_CHECK_POINTER(data);
    if (bytes_to_write > 0xFFFFFFFFu - m_WriteOffset) {
        return KL_ERROR_OUT_OF_RANGE;
    }
    KL_Size end = m_WriteOffset + bytes_to_write;
    KL_CHECK(m_Buffer.Reserve(end));
    std::memcpy(m_Buffer.UseData() + m_WriteOffset, data, bytes_to_write);
    m_WriteOffset = end;
    if (end > m_Buffer.GetDataSize()) {
        KL_CHECK(m_Buffer.SetDataSize(end));
    }
    if (bytes_written != nullptr) {
        *bytes_written = bytes_to_write;
    }
    return KL_SUCCESS;
}

KL_Result KL_MemoryStream::OutputSeek(KL_Position offset) {
    if (offset > m_Buffer.GetDataSize()) {
        return KL_ERROR_OUT_OF_RANGE;
    }
    m_WriteOffset = static_cast<KL_Size>(offset);
    return KL_SUCCESS;
}

KL_Result KL_MemoryStream::OutputTell(KL_Position& offset) {
    offset = m_WriteOffset;
    return KL_SUCCESS;
}

const uint8_t* KL_MemoryStream::GetData() const {
    return m_Buffer.GetData();
}

KL_Size KL_MemoryStream::GetDataSize() const {
    return m_Buffer.GetDataSize();
}

KL_Result KL_MemoryStream::SetDataSize(KL_Size size) {
    KL_CHECK(m_Buffer.SetDataSize(size));
    m_ReadOffset = std::min(m_ReadOffset, size);
    m_WriteOffset = std::min(m_WriteOffset, size);
    return KL_SUCCESS;
}
