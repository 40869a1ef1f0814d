// KL_DataBuffer: a byte buffer that owns its storage or borrows the caller's.
// Buffer size = storage size; data size = bytes in use (never above the buffer size).
#pragma once

#include "KL_Result.h"
#include "KL_Types.h"

class KL_DataBuffer {
public:
    // Owning, no storage.
    KL_DataBuffer();
    // Owning, that much storage, data size 0.
    explicit KL_DataBuffer(KL_Size size);
    // copy: own a copy; otherwise borrow the caller's bytes. Buffer size = data size = size.
    KL_DataBuffer(const void* data, KL_Size size, bool copy = true);
    // Owns a copy of the other's data.
    KL_DataBuffer(const KL_DataBuffer& other);
    virtual ~KL_DataBuffer();
    // Clears, then owns a copy of the other's whole storage.
    KL_DataBuffer& operator=(const KL_DataBuffer& other);
    // Equal data sizes and bytes.
    bool operator==(const KL_DataBuffer& other) const;

    // Clear, then borrow the caller's storage (data size 0).
    virtual KL_Result SetBuffer(KL_Byte* data, KL_Size size);
    // Borrowed storage: KL_ERROR_NOT_SUPPORTED; otherwise reallocate to exactly size.
    virtual KL_Result SetBufferSize(KL_Size size);
    virtual KL_Size GetBufferSize() const { return m_BufferSize; }
    // Nothing when the buffer holds size; else SetBufferSize(max(2 x buffer size, size)).
    virtual KL_Result Reserve(KL_Size size);
    // Frees owned storage; no storage, both sizes 0 (ownership unchanged).
    virtual KL_Result Clear();
    virtual const KL_Byte* GetData() const { return m_Buffer; }
    virtual KL_Byte* UseData() { return m_Buffer; }
    virtual KL_Size GetDataSize() const { return m_DataSize; }
    // Beyond the buffer size: borrowed gives KL_ERROR_NOT_SUPPORTED, owned reallocates exactly.
    virtual KL_Result SetDataSize(KL_Size size);
    // Beyond the buffer size: borrowed gives KL_ERROR_INVALID_STATE, owned reallocates exactly;
    // copies the bytes when data is not null; data size = size.
    virtual KL_Result SetData(const void* data, KL_Size size);

private:
    KL_Result ReallocateBuffer(KL_Size size);

    bool m_BufferIsLocal = true;
    KL_Byte* m_Buffer = nullptr;
    KL_Size m_BufferSize = 0;
    KL_Size m_DataSize = 0;
};
