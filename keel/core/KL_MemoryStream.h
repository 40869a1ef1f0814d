// KL_MemoryStream: a byte buffer that is both an input and an output stream, with separate read
// and write offsets. The input side's Seek and Tell are InputSeek and InputTell, the output
// side's OutputSeek and OutputTell.
#pragma once

#include "KL_DataBuffer.h"
#include "KL_InputStream.h"
#include "KL_OutputStream.h"

// Routes the input side's Seek and Tell to InputSeek and InputTell.
class KL_DelegatingInputStream : public KL_InputStream {
public:
    [[nodiscard]] KL_Result Seek(KL_Position offset) final { return InputSeek(offset); }
    [[nodiscard]] KL_Result Tell(KL_Position& offset) final { return InputTell(offset); }

protected:
    [[nodiscard]] virtual KL_Result InputSeek(KL_Position offset) = 0;
    [[nodiscard]] virtual KL_Result InputTell(KL_Position& offset) = 0;
};

// Routes the output side's Seek and Tell to OutputSeek and OutputTell.
class KL_DelegatingOutputStream : public KL_OutputStream {
public:
    [[nodiscard]] KL_Result Seek(KL_Position offset) final { return OutputSeek(offset); }
    [[nodiscard]] KL_Result Tell(KL_Position& offset) final { return OutputTell(offset); }

protected:
    [[nodiscard]] virtual KL_Result OutputSeek(KL_Position offset) = 0;
    [[nodiscard]] virtual KL_Result OutputTell(KL_Position& offset) = 0;
};

class KL_MemoryStream : public KL_DelegatingInputStream, public KL_DelegatingOutputStream {
public:
    explicit KL_MemoryStream(KL_Size initial_capacity = 0);
    KL_MemoryStream(const void* data, KL_Size size);
    ~KL_MemoryStream() override = default;

    [[nodiscard]] KL_Result Read(void* buffer, KL_Size bytes_to_read, KL_Size* bytes_read = nullptr) override;
    [[nodiscard]] KL_Result GetSize(KL_LargeSize& size) override;
    [[nodiscard]] KL_Result GetAvailable(KL_LargeSize& available) override;

    [[nodiscard]] KL_Result InputSeek(KL_Position offset) override;
    [[nodiscard]] KL_Result InputTell(KL_Position& offset) override;
    [[nodiscard]] KL_Result Write(const void* data, KL_Size bytes_to_write,
                                  KL_Size* bytes_written = nullptr) override;
    [[nodiscard]] KL_Result OutputSeek(KL_Position offset) override;
    [[nodiscard]] KL_Result OutputTell(KL_Position& offset) override;

    const uint8_t* GetData() const;
    KL_Size GetDataSize() const;
    // Sets the data size, then lowers each offset that lies beyond it.
    KL_Result SetDataSize(KL_Size size);

private:
    KL_DataBuffer m_Buffer;
    KL_Size m_ReadOffset = 0;
    KL_Size m_WriteOffset = 0;
};

using KL_MemoryStreamReference = KL_Reference<KL_MemoryStream>;
