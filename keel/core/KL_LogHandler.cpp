#include "KL_LogHandler.h"

#include "KL_LogConsoleHandler.h"
#include "KL_LogCustomHandler.h"
#include "KL_LogFileHandler.h"
#include "KL_LogManager.h"
#include "KL_LogNullHandler.h"
#include "KL_LogTcpHandler.h"
#include "KL_LogUdpHandler.h"

#include <memory>

namespace {

// The settings of one handler: the manager's entries under "<logger>.<kind>".
class HandlerSettings {
public:
    HandlerSettings(const KL_LogManager& manager, const char* logger_name, const char* kind)
        : m_Manager(manager), m_Prefix(KL_String(logger_name) + "." + kind) {}

    const KL_String* Get(const char* suffix) const {
        return m_Manager.GetConfigValue(Key(suffix).GetChars());
    }
    bool GetBoolean(const char* suffix, bool default_value) const {
        return m_Manager.GetBooleanValue(Key(suffix).GetChars(), default_value);
    }
    uint64_t GetNumber(const char* suffix, uint64_t default_value) const {
        return m_Manager.GetNumberValue(Key(suffix).GetChars(), default_value);
    }
    uint16_t GetPort(uint16_t default_port) const {
        const uint64_t port = GetNumber(".port", default_port);
        return port <= 0xFFFF ? static_cast<uint16_t>(port) : default_port;
    }
    KL_String GetText(const char* suffix, const char* default_value) const {
        const KL_String* value = Get(suffix);
        return value != nullptr ? *value : KL_String(default_value);
    }

private:
    KL_String Key(const char* suffix) const { return m_Prefix + suffix; }

    const KL_LogManager& m_Manager;
    KL_String m_Prefix;
};

KL_Result CreateFileHandler(const char* logger_name, const HandlerSettings& settings,
                            KL_LogHandler*& handler) {
    const KL_String default_name =
        logger_name[0] == '\0' ? KL_String("_keel.log") : KL_String(logger_name) + ".log";
    const KL_String* recycle = settings.Get(".recycle");
    uint64_t recycle_size = 0;
    if (recycle != nullptr) {
        // Present: at least the minimum, whatever its value.
        recycle_size = settings.GetNumber(".recycle", 0);
        if (recycle_size < KL_LogFileHandler::MIN_RECYCLE_SIZE) {
            recycle_size = KL_LogFileHandler::MIN_RECYCLE_SIZE;
        }
    }
    auto file = std::make_unique<KL_LogFileHandler>(
        settings.GetText(".filename", default_name.GetChars()).GetChars(),
        settings.GetBoolean(".append", true), settings.GetBoolean(".flush", false),
        static_cast<uint32_t>(settings.GetNumber(".filter", 0)), recycle_size);
    const KL_Result result = file->Open();
    if (KL_FAILED(result)) {
        return result;
    }
    handler = file.release();
    return KL_SUCCESS;
}

KL_Result CreateUdpHandler(const HandlerSettings& settings, KL_LogHandler*& handler) {
    auto udp = std::make_unique<KL_LogUdpHandler>();
    const KL_Result result = udp->SetTarget(settings.GetText(".hostname", "localhost").GetChars(),
                                            settings.GetPort(KL_LogUdpHandler::DEFAULT_PORT));
    if (KL_FAILED(result)) {
        return result;
    }
    handler = udp.release();
    return KL_SUCCESS;
}

} // namespace

KL_Result KL_LogHandler::Create(const char* logger_name, const char* handler_name, KL_LogHandler*& handler) {
    return Create(logger_name, handler_name, handler, KL_LogManager::GetDefault());
}

KL_Result KL_LogHandler::Create(const char* logger_name, const char* handler_name, KL_LogHandler*& handler,
                                const KL_LogManager& manager) {
    handler = nullptr;
    if (logger_name == nullptr || handler_name == nullptr) {
        return KL_ERROR_INVALID_PARAMETERS;
    }
    const HandlerSettings settings(manager, logger_name, handler_name);
    const KL_String kind(handler_name);
    if (kind == "NullHandler") {
        handler = new KL_LogNullHandler();
    } else if (kind == "ConsoleHandler") {
        handler = new KL_LogConsoleHandler(
            static_cast<uint32_t>(settings.GetNumber(".outputs", KL_LOG_CONSOLE_OUTPUT_STDOUT)),
            settings.GetBoolean(".colors", false), static_cast<uint32_t>(settings.GetNumber(".filter", 0)));
    } else if (kind == "FileHandler") {
        return CreateFileHandler(logger_name, settings, handler);
    } else if (kind == "TcpHandler") {
        handler = new KL_LogTcpHandler(settings.GetText(".hostname", "localhost").GetChars(),
                                       settings.GetPort(KL_LogTcpHandler::DEFAULT_PORT));
    } else if (kind == "UdpHandler") {
        return CreateUdpHandler(settings, handler);
    } else if (kind == "CustomHandler") {
        handler = new KL_LogCustomHandler();
    } else {
        return KL_ERROR_NO_SUCH_CLASS;
    }
    return KL_SUCCESS;
}
