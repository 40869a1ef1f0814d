// KL_LogFileHandler: appends each record as one line (without colours) to a file, and rotates the
// file once it grows past a threshold: the full file is renamed to
// "<base>-<local date with '_' for ':'><extension>" ("-1", "-2"… added before the extension when
// that name is taken) and a new file is started.
#pragma once

#include "KL_LogHandler.h"
#include "KL_OutputStream.h"
#include "KL_Types.h"

#include <cstdint>

class KL_LogFileHandler : public KL_LogHandler {
public:
    // Recycle thresholds below this are raised to it (0 never rotates).
    static constexpr uint64_t MIN_RECYCLE_SIZE = 1000000;

    KL_LogFileHandler(const char* filename, bool append = true, bool flush = false, uint32_t filter = 0,
                      uint64_t recycle_size = 0);
    ~KL_LogFileHandler() override;

    // Opens the file (truncated when not appending); the handler is of no use when this fails.
    [[nodiscard]] KL_Result Open();
    void Log(const KL_LogRecord& record) override;

    const KL_String& GetFileName() const { return m_FileName; }

private:
    void Rotate();
    KL_String MakeRotatedName() const;

    KL_String m_FileName;
    bool m_Append;
    bool m_Flush;
    uint32_t m_Filter;
    uint64_t m_RecycleSize;
    KL_OutputStreamReference m_Stream;
    KL_LargeSize m_FileSize = 0; // bytes in the open file
};
