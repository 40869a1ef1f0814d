// Logging interface of the keel runtime, as every source file uses it.
//
//   KL_SET_LOCAL_LOGGER("keel.http");          // once per .cpp, at file scope
//   KL_LOG_WARNING("cannot open %s", path);    // printf-style, tested against the logger's level
//
// Each file caches its named logger; while no logger is returned for the name (logging disabled,
// or not configured) the line is skipped before anything is formatted. The level test is made
// here, by the caller, without any lock.
//
// The three KL_Log* functions below are the seam to the log manager, which implements them
// (KL_LogManager.cpp); with no configuration every logger is OFF and nothing is written.
#pragma once

#include <atomic>
#include <cstdarg>

// Levels: a line is written when the logger's level <= the line's level.
constexpr int KL_LOG_LEVEL_FATAL = 700;
constexpr int KL_LOG_LEVEL_SEVERE = 600;
constexpr int KL_LOG_LEVEL_WARNING = 500;
constexpr int KL_LOG_LEVEL_INFO = 400;
constexpr int KL_LOG_LEVEL_FINE = 300;
constexpr int KL_LOG_LEVEL_FINER = 200;
constexpr int KL_LOG_LEVEL_FINEST = 100;
constexpr int KL_LOG_LEVEL_ALL = 0;
constexpr int KL_LOG_LEVEL_OFF = 32767;

class KL_Logger; // defined by the log manager

// --- seam to the log manager ---------------------------------------------------------------
// The logger of that name, or null (nothing is to be logged under that name for now).
KL_Logger* KL_LogGetLogger(const char* name);
// The logger's current level.
int KL_LogGetLevel(const KL_Logger* logger);
// Formats and dispatches one line (the caller has already tested the level).
void KL_LogWriteV(KL_Logger* logger, int level, const char* file, unsigned int line, const char* function,
                  const char* format, va_list args) __attribute__((format(printf, 6, 0)));
// --------------------------------------------------------------------------------------------

void KL_LogWrite(KL_Logger* logger, int level, const char* file, unsigned int line, const char* function,
                 const char* format, ...) __attribute__((format(printf, 6, 7)));

// A named logger, looked up on first use and cached (lookup is repeated while it answers null).
class KL_LoggerReference {
public:
    explicit constexpr KL_LoggerReference(const char* name) : m_Name(name) {}
    KL_LoggerReference(const KL_LoggerReference&) = delete;
    KL_LoggerReference& operator=(const KL_LoggerReference&) = delete;

    KL_Logger* Get() {
        KL_Logger* logger = m_Logger.load(std::memory_order_acquire);
        if (logger == nullptr) {
            logger = KL_LogGetLogger(m_Name);
            if (logger != nullptr) {
                m_Logger.store(logger, std::memory_order_release);
            }
        }
        return logger;
    }
    // The logger when a line of that level is to be written, else null.
    KL_Logger* GetIfLoggable(int level) {
        KL_Logger* logger = Get();
        return (logger != nullptr && KL_LogGetLevel(logger) <= level) ? logger : nullptr;
    }
    const char* GetName() const { return m_Name; }

private:
    const char* m_Name;
    std::atomic<KL_Logger*> m_Logger{nullptr};
};

// A named logger reference of one's own (for a second logger in the same file).
#define KL_DEFINE_LOGGER(variable, name) [[maybe_unused]] static KL_LoggerReference variable(name)
// The file's own logger, used by KL_LOG_* and KL_CHECK*.
#define KL_SET_LOCAL_LOGGER(name) KL_DEFINE_LOGGER(KL_LocalLogger, name)

// One line to a given logger reference at a given level.
#define KL_LOG_TO(logger_reference, level, ...)                                                              \
    do {                                                                                                     \
        if (KL_Logger* kl_log_target_ = (logger_reference).GetIfLoggable(level)) {                           \
            KL_LogWrite(kl_log_target_, (level), __FILE__, __LINE__, __func__, __VA_ARGS__);                 \
        }                                                                                                    \
    } while (0)

// One line to the file's logger.
#define KL_LOG(level, ...) KL_LOG_TO(KL_LocalLogger, level, __VA_ARGS__)
#define KL_LOG_FATAL(...) KL_LOG(KL_LOG_LEVEL_FATAL, __VA_ARGS__)
#define KL_LOG_SEVERE(...) KL_LOG(KL_LOG_LEVEL_SEVERE, __VA_ARGS__)
#define KL_LOG_WARNING(...) KL_LOG(KL_LOG_LEVEL_WARNING, __VA_ARGS__)
#define KL_LOG_INFO(...) KL_LOG(KL_LOG_LEVEL_INFO, __VA_ARGS__)
#define KL_LOG_FINE(...) KL_LOG(KL_LOG_LEVEL_FINE, __VA_ARGS__)
#define KL_LOG_FINER(...) KL_LOG(KL_LOG_LEVEL_FINER, __VA_ARGS__)
#define KL_LOG_FINEST(...) KL_LOG(KL_LOG_LEVEL_FINEST, __VA_ARGS__)
