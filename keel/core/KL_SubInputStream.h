// KL_SubInputStream: the window [start, start + size) of another input stream; positions are
// relative to start.
#pragma once

#include "KL_InputStream.h"

class KL_SubInputStream : public KL_InputStream {
public:
    KL_SubInputStream(const KL_InputStreamReference& source, KL_Position start, KL_LargeSize size);
    ~KL_SubInputStream() override = default;

    [[nodiscard]] KL_Result Read(void* buffer, KL_Size bytes_to_read, KL_Size* bytes_read = nullptr) override;
    [[nodiscard]] KL_Result Seek(KL_Position offset) override;
    [[nodiscard]] KL_Result Tell(KL_Position& offset) override;
    [[nodiscard]] KL_Result GetSize(KL_LargeSize& size) override;
    [[nodiscard]] KL_Result GetAvailable(KL_LargeSize& available) override;

private:
    KL_InputStreamReference m_Source;
    KL_Position m_Position = 0;
    KL_Position m_Start;
    KL_LargeSize m_Size;
};
