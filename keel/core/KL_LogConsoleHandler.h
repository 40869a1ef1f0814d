// KL_LogConsoleHandler: writes each record as one line (see KL_LogFormat.h) to the selected
// outputs: bit 0 standard error (the line without its CR LF, then "\n"), bit 1 standard output.
#pragma once

#include "KL_LogHandler.h"

#include <cstdint>

constexpr uint32_t KL_LOG_CONSOLE_OUTPUT_STDERR = 1;
constexpr uint32_t KL_LOG_CONSOLE_OUTPUT_STDOUT = 2;

class KL_LogConsoleHandler : public KL_LogHandler {
public:
    explicit KL_LogConsoleHandler(uint32_t outputs = KL_LOG_CONSOLE_OUTPUT_STDOUT, bool use_colors = false,
                                  uint32_t filter = 0)
        : m_Outputs(outputs), m_UseColors(use_colors), m_Filter(filter) {}

    void Log(const KL_LogRecord& record) override;

private:
    uint32_t m_Outputs;
    bool m_UseColors;
    uint32_t m_Filter;
};
