#include "KL_LogFormat.h"

#include "KL_DateTime.h"
#include "KL_Log.h"

#include <cstring>

namespace {

struct LevelEntry {
    const char* m_Name;
    int m_Value;
    const char* m_Color;
};

const LevelEntry kLevels[] = {
    {"FATAL", KL_LOG_LEVEL_FATAL, "31"},     {"SEVERE", KL_LOG_LEVEL_SEVERE, "31"},
    {"WARNING", KL_LOG_LEVEL_WARNING, "33"}, {"INFO", KL_LOG_LEVEL_INFO, "32"},
    {"FINE", KL_LOG_LEVEL_FINE, "34"},       {"FINER", KL_LOG_LEVEL_FINER, "35"},
    {"FINEST", KL_LOG_LEVEL_FINEST, "36"},   {"ALL", KL_LOG_LEVEL_ALL, nullptr},
    {"OFF", KL_LOG_LEVEL_OFF, nullptr},
};

const LevelEntry* FindLevel(int level) {
    for (const LevelEntry& entry : kLevels) {
        if (entry.m_Value == level) {
            return &entry;
        }
    }
    return nullptr;
}

const char* Text(const char* text) {
    return text != nullptr ? text : "";
}

// The file name as given, or only its last component.
const char* SourceFileName(const char* file, bool short_name) {
    file = Text(file);
    if (!short_name) {
        return file;
    }
    const char* name = file;
    for (const char* c = file; *c != '\0'; ++c) {
        if (*c == '/' || *c == '\\') {
            name = c + 1;
        }
    }
    return name;
}

} // namespace

int KL_LogLevelFromName(const char* name) {
    if (name == nullptr) {
        return -1;
    }
    for (const LevelEntry& entry : kLevels) {
        if (std::strcmp(entry.m_Name, name) == 0) {
            return entry.m_Value;
        }
    }
    return -1;
}

const char* KL_LogLevelName(int level) {
    // 0 ("ALL") has a name for the parser but is written as a number, like every unnamed value.
    const LevelEntry* entry = FindLevel(level);
    return (entry != nullptr && level != KL_LOG_LEVEL_ALL) ? entry->m_Name : "";
}

KL_String KL_LogLevelText(int level) {
    const char* name = KL_LogLevelName(level);
    return name[0] != '\0' ? KL_String(name) : KL_String::FromInteger(level);
}

const char* KL_LogLevelColor(int level) {
    const LevelEntry* entry = FindLevel(level);
    return entry != nullptr ? entry->m_Color : nullptr;
}

KL_String KL_LogFormatTimeStamp(const KL_TimeStamp& timestamp) {
    const KL_DateTime date(timestamp, true);
    return date.ToString(KL_DateTime::FORMAT_W3C,
                         KL_DateTime::FLAG_W3C_WITH_FRACTION | KL_DateTime::FLAG_W3C_WITH_NANOSECONDS);
}

void KL_LogFormatLine(const KL_LogRecord& record, uint32_t filter, bool use_colors, KL_String& line) {
    if ((filter & KL_LOG_FILTER_SOURCE) == 0) {
        line += SourceFileName(record.m_SourceFile, (filter & KL_LOG_FILTER_SHORT_FILE_NAME) != 0);
        line += "(";
        line += KL_String::FromIntegerU(record.m_SourceLine);
        line += "): ";
    }
    if ((filter & KL_LOG_FILTER_LOGGER_NAME) == 0) {
        line += "[";
        line += Text(record.m_LoggerName);
        line += "] ";
    }
    if ((filter & KL_LOG_FILTER_TIMESTAMP) == 0) {
        line += KL_LogFormatTimeStamp(record.m_TimeStamp);
        line += " ";
    }
    if ((filter & KL_LOG_FILTER_FUNCTION) == 0) {
        line += "[";
        line += Text(record.m_SourceFunction);
        line += "] ";
    }
    if ((filter & KL_LOG_FILTER_THREAD_ID) == 0) {
        line += "(";
        line += KL_String::FromIntegerU(record.m_ThreadId);
        line += ") ";
    }
    const char* color = use_colors ? KL_LogLevelColor(record.m_Level) : nullptr;
    if (color != nullptr) {
        line += "\033[";
        line += color;
        line += ";1m";
    }
    line += KL_LogLevelText(record.m_Level);
    if (color != nullptr) {
        line += "\033[0m";
    }
    line += ": ";
    line += Text(record.m_Message);
    line += "\r\n";
}

void KL_LogFormatNetworkRecord(const KL_LogRecord& record, KL_String& text) {
    const char* message = Text(record.m_Message);
    (void)text.Reserve(2048);
    text += "Logger: ";
    text += Text(record.m_LoggerName);
    text += "\r\nLevel: ";
    text += KL_LogLevelText(record.m_Level);
    text += "\r\nSource-File: ";
    text += Text(record.m_SourceFile);
    text += "\r\nSource-Function: ";
    text += Text(record.m_SourceFunction);
    text += "\r\nSource-Line: ";
    text += KL_String::FromIntegerU(record.m_SourceLine);
    text += "\r\nThread-Id: ";
    text += KL_String::FromIntegerU(record.m_ThreadId);
    text += "\r\nTimeStamp: ";
    text += KL_LogFormatTimeStamp(record.m_TimeStamp);
    text += "\r\nContent-Length: ";
    text += KL_String::FromIntegerU(std::strlen(message));
    text += "\r\n\r\n";
    text += message;
}
