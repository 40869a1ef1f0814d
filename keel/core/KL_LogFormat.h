// Level names and the two text forms of a log record: the line of the console and file handlers
// and the record of the TCP and UDP handlers.
#pragma once

#include "KL_LogRecord.h"
#include "KL_String.h"

#include <cstdint>

// Bits of a format filter: a set bit leaves that piece of the line out (16 shortens the file).
constexpr uint32_t KL_LOG_FILTER_SOURCE = 1;
constexpr uint32_t KL_LOG_FILTER_TIMESTAMP = 2;
constexpr uint32_t KL_LOG_FILTER_FUNCTION = 4;
constexpr uint32_t KL_LOG_FILTER_LOGGER_NAME = 8;
constexpr uint32_t KL_LOG_FILTER_SHORT_FILE_NAME = 16;
constexpr uint32_t KL_LOG_FILTER_THREAD_ID = 32;

// "FATAL" .. "FINEST", "ALL", "OFF" (exact case) to their value; any other text gives -1.
int KL_LogLevelFromName(const char* name);
// The name of 100, 200 .. 700, 0 and 32767; an empty text for any other value.
const char* KL_LogLevelName(int level);
// The level's name, or its number when it has none.
KL_String KL_LogLevelText(int level);
// The ANSI colour code of a level ("31" .. "36"), or null.
const char* KL_LogLevelColor(int level);
// A time stamp as a local W3C date with nine fraction digits.
KL_String KL_LogFormatTimeStamp(const KL_TimeStamp& timestamp);

// The console and file line, ending in CR LF.
void KL_LogFormatLine(const KL_LogRecord& record, uint32_t filter, bool use_colors, KL_String& line);
// "Logger: …\r\nLevel: …\r\n…Content-Length: N\r\n\r\n" followed by the message.
void KL_LogFormatNetworkRecord(const KL_LogRecord& record, KL_String& text);
