// KL_DataBuffer: owned or borrowed byte storage.
#include "KL_DataBuffer.h"

#include <cstdlib>
#include <cstring>

KL_DataBuffer::KL_DataBuffer() = default;

KL_DataBuffer::KL_DataBuffer(KL_Size size) {
    if (size != 0) {
        m_Buffer = static_cast<KL_Byte*>(std::malloc(size));
        m_BufferSize = m_Buffer ? size : 0;
    }
}

KL_DataBuffer::KL_DataBuffer(const void* data, KL_Size size, bool copy) : m_BufferIsLocal(copy) {
    if (!copy) {
        m_Buffer = static_cast<KL_Byte*>(const_cast<void*>(data));
        m_BufferSize = m_DataSize = size;
    } else if (size != 0 && (m_Buffer = static_cast<KL_Byte*>(std::malloc(size))) != nullptr) {
        if (data != nullptr) {
            std::memcpy(m_Buffer, data, size);
        }
        m_BufferSize = m_DataSize = size;
    }
}

KL_DataBuffer::KL_DataBuffer(const KL_DataBuffer& other)
    : KL_DataBuffer(other.m_Buffer, other.m_DataSize, true) {}

KL_DataBuffer::~KL_DataBuffer() {
    KL_DataBuffer::Clear();
}

KL_DataBuffer& KL_DataBuffer::operator=(const KL_DataBuffer& other) {
    if (this != &other) {
        Clear();
        m_BufferIsLocal = true;
        if (other.m_BufferSize != 0 && (m_Buffer = static_cast<KL_Byte*>(std::malloc(other.m_BufferSize)))) {
            std::memcpy(m_Buffer, other.m_Buffer, other.m_BufferSize);
            m_BufferSize = other.m_BufferSize;
            m_DataSize = other.m_DataSize;
        }
    }
    return *this;
}

bool KL_DataBuffer::operator==(const KL_DataBuffer& other) const {
    return m_DataSize == other.m_DataSize &&
           (m_DataSize == 0 || std::memcmp(GetData(), other.GetData(), m_DataSize) == 0);
}

KL_Result KL_DataBuffer::SetBuffer(KL_Byte* data, KL_Size size) {
    Clear();
    m_BufferIsLocal = false;
    m_Buffer = data;
    m_BufferSize = size;
    m_DataSize = 0;
    return KL_SUCCESS;
}

KL_Result KL_DataBuffer::SetBufferSize(KL_Size size) {
    if (!m_BufferIsLocal) {
        return KL_ERROR_NOT_SUPPORTED;
    }
    return ReallocateBuffer(size);
}

KL_Result KL_DataBuffer::Reserve(KL_Size size) {
    if (m_BufferSize >= size) {
        return KL_SUCCESS;
    }
    uint64_t doubled = 2 * uint64_t(m_BufferSize);
    uint64_t grown = doubled > size ? doubled : size;
    return SetBufferSize(grown > 0xFFFFFFFFu ? 0xFFFFFFFFu : KL_Size(grown));
}

KL_Result KL_DataBuffer::Clear() {
    if (m_BufferIsLocal) {
        std::free(m_Buffer);
    }
    m_Buffer = nullptr;
    m_BufferSize = 0;
    m_DataSize = 0;
    return KL_SUCCESS;
}

KL_Result KL_DataBuffer::SetDataSize(KL_Size size) {
    if (size > m_BufferSize) {
        if (!m_BufferIsLocal) {
            return KL_ERROR_NOT_SUPPORTED;
        }
        KL_Result result = ReallocateBuffer(size);
        if (KL_FAILED(result)) {
            return result;
        }
    }
    m_DataSize = size;
    return KL_SUCCESS;
}

KL_Result KL_DataBuffer::SetData(const void* data, KL_Size size) {
    if (size > m_BufferSize) {
        if (!m_BufferIsLocal) {
            return KL_ERROR_INVALID_STATE;
        }
        KL_Result result = ReallocateBuffer(size);
        if (KL_FAILED(result)) {
            return result;
        }
    }
    if (data != nullptr && size != 0) {
        std::memmove(m_Buffer, data, size);
    }
    m_DataSize = size;
    return KL_SUCCESS;
}

KL_Result KL_DataBuffer::ReallocateBuffer(KL_Size size) {
    if (size < m_DataSize) {
        return KL_ERROR_INVALID_PARAMETERS;
    }
    KL_Byte* buffer = nullptr;
    if (size != 0) {
        buffer = static_cast<KL_Byte*>(std::malloc(size));
        if (buffer == nullptr) {
            return KL_ERROR_OUT_OF_MEMORY;
        }
        if (m_DataSize != 0) {
            std::memcpy(buffer, m_Buffer, m_DataSize);
        }
    }
    std::free(m_Buffer);
    m_Buffer = buffer;
    m_BufferSize = size;
    return KL_SUCCESS;
}
