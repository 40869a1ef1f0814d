#include "KL_Logger.h"

#include "KL_LogManager.h"
#include "KL_Mutex.h"
#include "KL_System.h"
#include "KL_Thread.h"

#include <cstdio>
#include <memory>

namespace {

thread_local bool t_Busy = false;

// The first buffer holds 510 characters; each retry takes 2 x size + 8 KiB while that stays
// within 64 KiB (9216, 26624, 61440 bytes), then the text is cut.
constexpr size_t kFirstBufferSize = 512;
constexpr size_t kMaxBufferSize = 65536;

bool Fits(int length, size_t buffer_size) {
    return length < 0 || static_cast<size_t>(length) <= buffer_size - 2;
}

int FormatInto(char* buffer, size_t buffer_size, const char* format, va_list args) {
    va_list copy;
    va_copy(copy, args);
    const int length = std::vsnprintf(buffer, buffer_size - 1, format, copy);
    va_end(copy);
    buffer[buffer_size - 1] = '\0';
    if (length < 0) {
        buffer[0] = '\0';
    }
    return length;
}

} // namespace

KL_Logger::BusyScope::BusyScope() : m_WasBusy(t_Busy) {
    t_Busy = true;
}

KL_Logger::BusyScope::~BusyScope() {
    t_Busy = m_WasBusy;
}

bool KL_Logger::IsCurrentThreadBusy() {
    return t_Busy;
}

KL_Logger::KL_Logger(KL_LogManager& manager, const char* name) : m_Manager(manager), m_Name(name) {}

KL_Logger::~KL_Logger() {
    DeleteHandlers();
}

void KL_Logger::SetLevel(int level) {
    KL_AutoLock lock(m_Manager.GetLock());
    m_Level.store(level, std::memory_order_relaxed);
    m_LevelIsInherited = false;
}

void KL_Logger::SetForward(bool forward) {
    KL_AutoLock lock(m_Manager.GetLock());
    m_Forward = forward;
}

void KL_Logger::SetParent(KL_Logger* parent) {
    KL_AutoLock lock(m_Manager.GetLock());
    m_Parent = parent;
    if (!m_LevelIsInherited || parent == nullptr) {
        return;
    }
    const KL_Logger* source = parent;
    while (source->m_LevelIsInherited && source->m_Parent != nullptr) {
        source = source->m_Parent;
    }
    m_Level.store(source->GetLevel(), std::memory_order_relaxed);
}

KL_Result KL_Logger::AddHandler(KL_LogHandler* handler, bool transfer_ownership) {
    if (handler == nullptr) {
        return KL_ERROR_INVALID_PARAMETERS;
    }
    KL_AutoLock lock(m_Manager.GetLock());
    m_Handlers.Add(handler);
    if (!transfer_ownership) {
        m_HandlersNotOwned.Add(handler);
    }
    return KL_SUCCESS;
}

void KL_Logger::DeleteHandlers() {
    KL_AutoLock lock(m_Manager.GetLock());
    for (KL_LogHandler* handler : m_Handlers) {
        bool owned = true;
        for (const KL_LogHandler* other : m_HandlersNotOwned) {
            owned = owned && other != handler;
        }
        if (owned) {
            delete handler;
        }
    }
    m_Handlers.Clear();
    m_HandlersNotOwned.Clear();
}

void KL_Logger::Publish(const KL_LogRecord& record) {
    for (KL_LogHandler* handler : m_Handlers) {
        handler->Log(record);
    }
}

void KL_Logger::Log(int level, const char* file, unsigned int line, const char* function, const char* format,
                    ...) {
    va_list args;
    va_start(args, format);
    LogV(level, file, line, function, format, args);
    va_end(args);
}

void KL_Logger::LogV(int level, const char* file, unsigned int line, const char* function, const char* format,
                     va_list args) {
    if (!m_Manager.IsEnabled() || GetLevel() > level || t_Busy || format == nullptr) {
        return;
    }
    BusyScope busy;
    char first[kFirstBufferSize];
    const char* message = first;
    int length = FormatInto(first, sizeof(first), format, args);
    std::unique_ptr<char[]> larger;
    for (size_t size = kFirstBufferSize; !Fits(length, size);) {
        size = 2 * size + 8192;
        if (size > kMaxBufferSize) {
            break;
        }
        larger.reset(new char[size]);
        length = FormatInto(larger.get(), size, format, args);
        message = larger.get();
    }

    KL_LogRecord record;
    record.m_LoggerName = m_Name.GetChars();
    record.m_Level = level;
    record.m_Message = message;
    (void)KL_System::GetCurrentTimeStamp(record.m_TimeStamp);
    record.m_SourceFile = file != nullptr ? file : "";
    record.m_SourceLine = line;
    record.m_SourceFunction = function != nullptr ? function : "";
    record.m_ThreadId = static_cast<uint64_t>(KL_Thread::GetCurrentThreadId());
    m_Manager.Dispatch(*this, record);
}
