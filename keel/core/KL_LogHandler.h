// KL_LogHandler: where a logger's records go. Handlers are entered under the log manager's lock,
// so one handler never sees two records at once.
#pragma once

#include "KL_LogRecord.h"
#include "KL_Result.h"
#include "KL_String.h"

class KL_LogManager;

class KL_LogHandler {
public:
    KL_LogHandler() = default;
    KL_LogHandler(const KL_LogHandler&) = delete;
    KL_LogHandler& operator=(const KL_LogHandler&) = delete;
    virtual ~KL_LogHandler() = default;

    virtual void Log(const KL_LogRecord& record) = 0;
    // A description for the configurator page (empty for every handler here).
    virtual KL_String ToString() const { return KL_String(); }

    // Makes the handler of the named kind ("NullHandler", "ConsoleHandler", "FileHandler",
    // "TcpHandler", "UdpHandler", "CustomHandler") with its settings read from the manager's
    // configuration under the keys logger_name + "." + handler_name + suffix. An unknown kind
    // gives KL_ERROR_NO_SUCH_CLASS; a file that cannot be opened or a host that cannot be
    // resolved gives that failure and no handler.
    static KL_Result Create(const char* logger_name, const char* handler_name, KL_LogHandler*& handler);
    static KL_Result Create(const char* logger_name, const char* handler_name, KL_LogHandler*& handler,
                            const KL_LogManager& manager);
};
