#include "KL_LogManager.h"

#include "KL_HttpLoggerConfigurator.h"
#include "KL_Log.h"
#include "KL_Logger.h"

namespace {

// Cleared (before anything is deleted) when the default manager goes at exit: from then on the
// logging interface answers no logger and the OFF level, even for loggers cached earlier.
constinit std::atomic<bool> s_DefaultManagerAlive{false};
constinit std::atomic<KL_LogCustomHandlerFunction> s_CustomHandlerFunction{nullptr};

} // namespace

// --- the logging interface of KL_Log.h ------------------------------------------------------------

KL_Logger* KL_LogGetLogger(const char* name) {
    if (!s_DefaultManagerAlive.load(std::memory_order_acquire)) {
        return nullptr;
    }
    return KL_LogManager::GetDefault().GetLogger(name);
}

int KL_LogGetLevel(const KL_Logger* logger) {
    if (logger == nullptr || !s_DefaultManagerAlive.load(std::memory_order_acquire)) {
        return KL_LOG_LEVEL_OFF;
    }
    return logger->GetLevel();
}

void KL_LogWriteV(KL_Logger* logger, int level, const char* file, unsigned int line, const char* function,
                  const char* format, va_list args) {
    if (logger != nullptr && s_DefaultManagerAlive.load(std::memory_order_acquire)) {
        logger->LogV(level, file, line, function, format, args);
    }
}

// --- the manager ----------------------------------------------------------------------------------

KL_LogManager& KL_LogManager::GetDefault() {
    static KL_LogManager manager{DefaultTag{}};
    return manager;
}

namespace {
// The default manager is made before main (and before any logger lookup of another static).
[[maybe_unused]] KL_LogManager& s_DefaultManager = KL_LogManager::GetDefault();
} // namespace

void KL_LogManager::SetCustomHandlerFunction(KL_LogCustomHandlerFunction function) {
    s_CustomHandlerFunction.store(function, std::memory_order_release);
}

KL_LogCustomHandlerFunction KL_LogManager::GetCustomHandlerFunction() {
    return s_CustomHandlerFunction.load(std::memory_order_acquire);
}

KL_LogManager::KL_LogManager(const char* sources) : m_Sources(sources) {}

KL_LogManager::KL_LogManager(DefaultTag) : m_IsDefault(true) {
    s_DefaultManagerAlive.store(true, std::memory_order_release);
}

KL_LogManager::~KL_LogManager() {
    if (m_IsDefault) {
        s_DefaultManagerAlive.store(false, std::memory_order_release);
    }
    m_Enabled.store(false, std::memory_order_release);
    StopConfigurator();
    KL_AutoLock lock(m_Mutex);
    for (KL_Logger* logger : m_Loggers) {
        delete logger;
    }
    m_Loggers.Clear();
    delete m_Root;
    m_Root = nullptr;
    m_Entries.Clear();
}

void KL_LogManager::StopConfigurator() {
    KL_HttpLoggerConfigurator* configurator = nullptr;
    {
        KL_AutoLock lock(m_Mutex);
        configurator = m_Configurator;
        m_Configurator = nullptr;
    }
    // Its thread reads the entries and loggers under the lock: it is waited for outside it.
    delete configurator;
}

void KL_LogManager::StopDefaultConfigurator() {
    GetDefault().StopConfigurator();
}

uint16_t KL_LogManager::GetConfiguratorPort() const {
    return m_Configurator != nullptr ? m_Configurator->GetPort() : 0;
}

KL_Logger* KL_LogManager::GetLogger(const char* name) {
    if (!IsEnabled() || KL_Logger::IsCurrentThreadBusy()) {
        return nullptr;
    }
    KL_AutoLock lock(m_Mutex);
    if (!m_Configured) {
        Configure();
    }
    if (name == nullptr || name[0] == '\0') {
        return m_Root;
    }
    return FindOrMakeLogger(name);
}

KL_Logger* KL_LogManager::FindLogger(const char* name) const {
    for (KL_Logger* logger : m_Loggers) {
        if (logger->GetName() == name) {
            return logger;
        }
    }
    return nullptr;
}

KL_Logger* KL_LogManager::FindOrMakeLogger(const char* name) {
    if (KL_Logger* existing = FindLogger(name)) {
        return existing;
    }
    KL_Logger* logger = new KL_Logger(*this, name);
    ConfigureLogger(*logger);
    logger->SetParent(FindParent(logger->GetName()));
    m_Loggers.Add(logger);
    return logger;
}

// The longest existing prefix ("a.b" of "a.b.c"), or the longest one that has logger keys of its
// own (made now), or the root.
KL_Logger* KL_LogManager::FindParent(const KL_String& name) {
    KL_String prefix = name;
    for (;;) {
        int dot = -1;
        for (KL_Index i = 0; i < prefix.GetLength(); ++i) {
            if (prefix[i] == '.') {
                dot = static_cast<int>(i);
            }
        }
        if (dot <= 0) {
            return m_Root; // no "." left, or only an empty prefix (the root's own keys)
        }
        prefix = prefix.Left(static_cast<KL_Size>(dot));
        if (KL_Logger* existing = FindLogger(prefix.GetChars())) {
            return existing;
        }
        if (HasLoggerKeys(prefix)) {
            return FindOrMakeLogger(prefix.GetChars());
        }
    }
}

void KL_LogManager::Dispatch(KL_Logger& logger, const KL_LogRecord& record) {
    KL_AutoLock lock(m_Mutex);
    if (!IsEnabled()) {
        return;
    }
    for (KL_Logger* current = &logger; current != nullptr;
         current = current->GetForward() ? current->GetParent() : nullptr) {
        current->Publish(record);
    }
}
