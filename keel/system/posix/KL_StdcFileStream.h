// KL_StdcFileStream and its input and output streams: they hold the open-file record, so a
// stream keeps its file open after the KL_File is closed or destroyed.
#pragma once

#include "KL_InputStream.h"
#include "KL_OutputStream.h"
#include "KL_StdcFileWrapper.h"

class KL_StdcFileStream {
protected:
    explicit KL_StdcFileStream(const KL_StdcFileReference& file) : m_FileReference(file) {}
    ~KL_StdcFileStream() = default;

    KL_Result SeekFile(KL_Position offset);
    KL_Result TellFile(KL_Position& offset);

    KL_StdcFileReference m_FileReference;
};

class KL_StdcFileInputStream : public KL_InputStream, private KL_StdcFileStream {
public:
    explicit KL_StdcFileInputStream(const KL_StdcFileReference& file) : KL_StdcFileStream(file) {}
    ~KL_StdcFileInputStream() override = default;

    [[nodiscard]] KL_Result Read(void* buffer, KL_Size bytes_to_read, KL_Size* bytes_read = nullptr) override;
    [[nodiscard]] KL_Result Seek(KL_Position offset) override { return SeekFile(offset); }
    [[nodiscard]] KL_Result Tell(KL_Position& offset) override { return TellFile(offset); }
    [[nodiscard]] KL_Result GetSize(KL_LargeSize& size) override;
    [[nodiscard]] KL_Result GetAvailable(KL_LargeSize& available) override;
};

class KL_StdcFileOutputStream : public KL_OutputStream, private KL_StdcFileStream {
public:
    explicit KL_StdcFileOutputStream(const KL_StdcFileReference& file) : KL_StdcFileStream(file) {}
    ~KL_StdcFileOutputStream() override = default;

    [[nodiscard]] KL_Result Write(const void* data, KL_Size bytes_to_write,
                                  KL_Size* bytes_written = nullptr) override;
    [[nodiscard]] KL_Result Seek(KL_Position offset) override { return SeekFile(offset); }
    [[nodiscard]] KL_Result Tell(KL_Position& offset) override { return TellFile(offset); }
    // The failure of the C library's flush (a full disk shows here).
    [[nodiscard]] KL_Result Flush() override;
};
