// KL_Logger: a named logger in the log manager's tree ("keel.http" is a child of "keel", the root
// has an empty name). A line passes when the logger's level <= the line's level; it is formatted
// once and handed to this logger's handlers and, while forwarding is on, to its ancestors'.
//
// Loggers are made and owned by KL_LogManager and live until it goes; callers keep pointers.
#pragma once

#include "KL_List.h"
#include "KL_Log.h"
#include "KL_LogHandler.h"
#include "KL_Result.h"
#include "KL_String.h"

#include <atomic>
#include <cstdarg>

class KL_LogManager;

class KL_Logger {
public:
    // Level OFF, inherited, forwarding on, no parent, no handlers.
    KL_Logger(KL_LogManager& manager, const char* name);
    KL_Logger(const KL_Logger&) = delete;
    KL_Logger& operator=(const KL_Logger&) = delete;
    ~KL_Logger();

    const KL_String& GetName() const { return m_Name; }
    KL_LogManager& GetManager() const { return m_Manager; }
    // Read without a lock by every caller before it formats anything.
    int GetLevel() const { return m_Level.load(std::memory_order_relaxed); }
    // Sets the level and stops inheriting it.
    void SetLevel(int level);
    bool IsLevelInherited() const { return m_LevelIsInherited; }
    bool GetForward() const { return m_Forward; }
    void SetForward(bool forward);
    KL_Logger* GetParent() const { return m_Parent; }
    // Takes the parent; an inherited level becomes that of the nearest ancestor whose level is
    // not inherited (or of the topmost one).
    void SetParent(KL_Logger* parent);

    // Null: KL_ERROR_INVALID_PARAMETERS. Without ownership the handler is only forgotten later.
    KL_Result AddHandler(KL_LogHandler* handler, bool transfer_ownership);
    // Deletes the owned handlers and forgets the others.
    void DeleteHandlers();
    const KL_List<KL_LogHandler*>& GetHandlers() const { return m_Handlers; }

    // Formats one line (at most 61,438 characters are kept) and dispatches it.
    void Log(int level, const char* file, unsigned int line, const char* function, const char* format, ...)
        __attribute__((format(printf, 6, 7)));
    void LogV(int level, const char* file, unsigned int line, const char* function, const char* format,
              va_list args) __attribute__((format(printf, 6, 0)));

    // True while the calling thread is inside the log machinery (formatting or dispatching a line,
    // or making a logger's handlers): lines it logs meanwhile are dropped, so a handler whose
    // own code logs cannot recurse.
    static bool IsCurrentThreadBusy();
    class BusyScope {
    public:
        BusyScope();
        ~BusyScope();
        BusyScope(const BusyScope&) = delete;
        BusyScope& operator=(const BusyScope&) = delete;

    private:
        bool m_WasBusy;
    };

    // Hands the record to this logger's handlers (the manager calls it under its lock).
    void Publish(const KL_LogRecord& record);

private:
    KL_LogManager& m_Manager;
    KL_String m_Name;
    std::atomic<int> m_Level{KL_LOG_LEVEL_OFF};
    bool m_LevelIsInherited = true;
    bool m_Forward = true;
    KL_Logger* m_Parent = nullptr;
    KL_List<KL_LogHandler*> m_Handlers;
    KL_List<KL_LogHandler*> m_HandlersNotOwned;
};
