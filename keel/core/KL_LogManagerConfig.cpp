// KL_LogManager: reading the configuration and applying it to loggers.
#include "KL_Environment.h"
#include "KL_File.h"
#include "KL_HttpLoggerConfigurator.h"
#include "KL_LogFormat.h"
#include "KL_LogHandler.h"
#include "KL_LogManager.h"
#include "KL_Logger.h"
#include "KL_Utils.h"

#include <cstdlib>
#include <cstring>

namespace {

const char* const kBlanks = " \t";

KL_String Trimmed(const KL_String& text) {
    KL_String copy = text;
    copy.Trim(kBlanks);
    return copy;
}

} // namespace

int KL_LogManager::ParseBoolean(const char* text) {
    static const char* const kTrue[] = {"true", "yes", "on", "1"};
    static const char* const kFalse[] = {"false", "no", "off", "0"};
    for (const char* word : kTrue) {
        if (KL_String::Compare(text, word, true) == 0) {
            return 1;
        }
    }
    for (const char* word : kFalse) {
        if (KL_String::Compare(text, word, true) == 0) {
            return 0;
        }
    }
    return -1;
}

int KL_LogManager::ParseLevel(const char* text) {
    const int named = KL_LogLevelFromName(text);
    if (named >= 0) {
        return named;
    }
    int32_t number = 0;
    if (KL_SUCCEEDED(KL_ParseInteger32(text, number, false)) && number >= 0) {
        return number;
    }
    return -1;
}

void KL_LogManager::SetConfigValue(const char* key, const char* value) {
    KL_AutoLock lock(m_Mutex);
    for (ConfigEntry& entry : m_Entries) {
        if (entry.m_Key == key) {
            entry.m_Value = value;
            return;
        }
    }
    m_Entries.Add(ConfigEntry{KL_String(key), KL_String(value)});
}

const KL_String* KL_LogManager::GetConfigValue(const char* key) const {
    for (const ConfigEntry& entry : m_Entries) {
        if (entry.m_Key == key) {
            return &entry.m_Value;
        }
    }
    return nullptr;
}

bool KL_LogManager::GetBooleanValue(const char* key, bool default_value) const {
    const KL_String* value = GetConfigValue(key);
    const int parsed = value != nullptr ? ParseBoolean(value->GetChars()) : -1;
    return parsed < 0 ? default_value : parsed == 1;
}

uint64_t KL_LogManager::GetNumberValue(const char* key, uint64_t default_value) const {
    const KL_String* value = GetConfigValue(key);
    uint64_t number = 0;
    if (value == nullptr || KL_FAILED(KL_ParseInteger64U(value->GetChars(), number, true))) {
        return default_value;
    }
    return number;
}

void KL_LogManager::ParseConfiguration(const char* text) {
    KL_String line;
    for (const char* c = text != nullptr ? text : "";; ++c) {
        if (*c != '\0' && *c != '\n' && *c != '\r' && *c != ';') {
            line += *c;
            continue;
        }
        const int equals = line.Find('=');
        if (equals >= 0 && !line.StartsWith("#")) {
            const KL_String key = Trimmed(line.Left(static_cast<KL_Size>(equals)));
            const KL_String value = Trimmed(line.SubString(static_cast<KL_Index>(equals) + 1));
            SetConfigValue(key.GetChars(), value.GetChars());
        }
        line = "";
        if (*c == '\0') {
            return;
        }
    }
}

KL_Result KL_LogManager::ApplySource(const KL_String& source) {
    static const char kFile[] = "file:";
    static const char kText[] = "plist:";
    static const char kHttp[] = "http:port=";
    if (source.StartsWith(kFile)) {
        KL_String text;
        const KL_Result result = KL_File::Load(source.GetChars() + std::strlen(kFile), text);
        if (KL_SUCCEEDED(result)) {
            ParseConfiguration(text.GetChars());
        }
        return result;
    }
    if (source.StartsWith(kText)) {
        ParseConfiguration(source.GetChars() + std::strlen(kText));
        return KL_SUCCESS;
    }
    if (source.StartsWith(kHttp)) {
        uint32_t port = 0;
        KL_Result result = KL_ParseInteger32U(source.GetChars() + std::strlen(kHttp), port, true);
        if (KL_FAILED(result) || m_Configurator != nullptr) {
            return KL_FAILED(result) ? result : KL_ERROR_INVALID_STATE;
        }
        auto* configurator = new KL_HttpLoggerConfigurator(*this, static_cast<uint16_t>(port & 0xFFFF));
        result = configurator->Start();
        if (KL_FAILED(result)) {
            delete configurator;
            return result;
        }
        m_Configurator = configurator;
        if (m_IsDefault) {
            // Stopped at exit before the statics made until now go, since its thread uses them.
            (void)std::atexit(&StopDefaultConfigurator);
        }
        return KL_SUCCESS;
    }
    return KL_ERROR_INVALID_SYNTAX;
}

void KL_LogManager::Configure() {
    const bool was_enabled = m_Enabled.exchange(false);
    SetConfigValue(".handlers", "ConsoleHandler");
    KL_String sources;
    if (m_IsDefault) {
        (void)KL_Environment::Get("KEEL_LOG_CONFIG", sources);
    } else {
        sources = m_Sources;
    }
    for (const KL_String& source : sources.Split("|")) {
        const KL_String trimmed = Trimmed(source);
        if (!trimmed.IsEmpty()) {
            (void)ApplySource(trimmed);
        }
    }
    m_Root = new KL_Logger(*this, "");
    m_Root->SetLevel(KL_LOG_LEVEL_OFF);
    ConfigureLogger(*m_Root);
    m_Configured = true;
    m_Enabled.store(was_enabled, std::memory_order_release);
}

bool KL_LogManager::HasLoggerKeys(const KL_String& name) const {
    static const char* const kSuffixes[] = {".level", ".handlers", ".forward"};
    for (const char* suffix : kSuffixes) {
        if (GetConfigValue((name + suffix).GetChars()) != nullptr) {
            return true;
        }
    }
    return false;
}

void KL_LogManager::ConfigureLogger(KL_Logger& logger) {
    const KL_String& name = logger.GetName();
    if (const KL_String* level = GetConfigValue((name + ".level").GetChars())) {
        const int value = ParseLevel(level->GetChars());
        if (value >= 0) {
            logger.SetLevel(value);
        }
    }
    if (const KL_String* handlers = GetConfigValue((name + ".handlers").GetChars())) {
        // Making a handler may log (sockets, files): those lines are dropped, not re-entered.
        KL_Logger::BusyScope busy;
        for (const KL_String& kind : handlers->Split(",")) {
            KL_LogHandler* handler = nullptr;
            if (KL_SUCCEEDED(
                    KL_LogHandler::Create(name.GetChars(), Trimmed(kind).GetChars(), handler, *this))) {
                (void)logger.AddHandler(handler, true);
            }
        }
    }
    if (const KL_String* forward = GetConfigValue((name + ".forward").GetChars())) {
        if (ParseBoolean(forward->GetChars()) != 1) {
            logger.SetForward(false);
        }
    }
}
