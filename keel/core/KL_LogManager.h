// KL_LogManager: the process-wide log manager. It holds the configuration entries (key = value,
// in the order they were first set), makes loggers on demand, arranges them in a tree by their
// dotted names and dispatches their lines to the handlers.
//
// The default manager exists before main and is configured on its first GetLogger from
// "KEEL_LOG_CONFIG": sources separated by "|", each "file:PATH" (a file of configuration text),
// "plist:TEXT" (configuration text itself) or "http:port=N" (starts the configurator page on N).
// Configuration text: lines end at LF, CR or ";"; "key = value" sets a key; lines beginning with
// "#" and lines without "=" are ignored. Keys: "<logger>.level", "<logger>.handlers",
// "<logger>.forward" and "<logger>.<HandlerKind>.<setting>" (the root logger's name is empty,
// so ".level=INFO;.handlers=ConsoleHandler" configures the root).
//
// Without configuration the root logger is OFF and nothing is written. Dispatch and logger
// creation run under one re-entrant lock; the level test is made by callers without it.
#pragma once

#include "KL_List.h"
#include "KL_LogRecord.h"
#include "KL_Mutex.h"
#include "KL_Result.h"
#include "KL_String.h"

#include <atomic>
#include <cstdint>

class KL_HttpLoggerConfigurator;
class KL_Logger;

using KL_LogCustomHandlerFunction = void (*)(const KL_LogRecord& record);

class KL_LogManager {
public:
    struct ConfigEntry {
        KL_String m_Key;
        KL_String m_Value;
    };

    // The process's manager (configured from "KEEL_LOG_CONFIG").
    static KL_LogManager& GetDefault();
    // The callback of every KL_LogCustomHandler (null: they do nothing).
    static void SetCustomHandlerFunction(KL_LogCustomHandlerFunction function);
    static KL_LogCustomHandlerFunction GetCustomHandlerFunction();

    // A manager of its own, configured on first use from this source list instead of the
    // environment (null or empty: defaults only).
    explicit KL_LogManager(const char* sources);
    KL_LogManager(const KL_LogManager&) = delete;
    KL_LogManager& operator=(const KL_LogManager&) = delete;
    // Turns logging off, stops the configurator, then deletes the loggers and their handlers.
    ~KL_LogManager();

    // The logger of that name ("" is the root), made when needed; null while logging is disabled
    // (and while the calling thread is inside the log machinery itself).
    KL_Logger* GetLogger(const char* name);
    bool IsEnabled() const { return m_Enabled.load(std::memory_order_acquire); }

    // --- configuration (callers outside the manager hold GetLock) ---
    // Parses configuration text into the entries.
    void ParseConfiguration(const char* text);
    void SetConfigValue(const char* key, const char* value);
    // Null when the key is not set.
    const KL_String* GetConfigValue(const char* key) const;
    // A boolean entry ("true", "yes", "on", "1" / "false", "no", "off", "0", any case), else
    // default_value.
    bool GetBooleanValue(const char* key, bool default_value) const;
    // A relaxed unsigned number, else default_value.
    uint64_t GetNumberValue(const char* key, uint64_t default_value) const;
    const KL_List<ConfigEntry>& GetConfigEntries() const { return m_Entries; }
    // The loggers made so far, the root not included.
    const KL_List<KL_Logger*>& GetLoggers() const { return m_Loggers; }
    // The port of the configurator page, 0 when none runs.
    uint16_t GetConfiguratorPort() const;

    KL_MutexInterface& GetLock() { return m_Mutex; }
    // Hands the record to the logger's handlers, then up the tree while forwarding is on.
    void Dispatch(KL_Logger& logger, const KL_LogRecord& record);

    // 1 true, 0 false, -1 neither.
    static int ParseBoolean(const char* text);
    // A level name or a decimal number >= 0; -1 for anything else.
    static int ParseLevel(const char* text);

private:
    struct DefaultTag {};
    explicit KL_LogManager(DefaultTag);

    void Configure();
    // Ends the configurator's thread and deletes it (nothing when none runs).
    void StopConfigurator();
    static void StopDefaultConfigurator();
    KL_Result ApplySource(const KL_String& source);
    void ConfigureLogger(KL_Logger& logger);
    bool HasLoggerKeys(const KL_String& name) const;
    KL_Logger* FindLogger(const char* name) const;
    KL_Logger* FindOrMakeLogger(const char* name);
    KL_Logger* FindParent(const KL_String& name);

    KL_Mutex m_Mutex;
    std::atomic<bool> m_Enabled{true};
    bool m_IsDefault = false;
    bool m_Configured = false;
    KL_String m_Sources;
    KL_List<ConfigEntry> m_Entries;
    KL_List<KL_Logger*> m_Loggers;
    KL_Logger* m_Root = nullptr;
    KL_HttpLoggerConfigurator* m_Configurator = nullptr;
};
