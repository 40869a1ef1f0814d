// KL_HttpLoggerConfigurator: a small page that shows the log manager's configuration and its
// loggers. A thread of its own serves it with a KL_HttpServer on all IPv4 addresses; every path
// answers GET with the page, any other method with KL_ERROR_HTTP_METHOD_NOT_SUPPORTED (500). It
// changes nothing.
//
// Owned by its log manager, which stops it (and waits for its thread) before the loggers go.
#pragma once

#include "KL_HttpRequestHandler.h"
#include "KL_HttpServer.h"
#include "KL_Thread.h"

#include <atomic>
#include <cstdint>

class KL_LogManager;

class KL_HttpLoggerConfigurator : public KL_HttpRequestHandler, public KL_Thread {
public:
    // A silent client holds the page's thread for at most this long per read or write.
    static constexpr KL_Timeout IO_TIMEOUT_MS = 5000;

    KL_HttpLoggerConfigurator(KL_LogManager& manager, uint16_t port);
    ~KL_HttpLoggerConfigurator() override;

    // Binds the port (0: any free one) and listens, then starts the thread.
    KL_Result Start() override;
    // Ends the thread after the request it is serving, if any, and waits for it.
    void Stop();
    uint16_t GetPort() const { return m_Server.GetPort(); }

    void Run() override;
    [[nodiscard]] KL_Result SetupResponse(KL_HttpRequest& request, const KL_HttpRequestContext& context,
                                          KL_HttpResponse& response) override;

    // "<ul><li>key=value</li>…</ul><ul><li>name, level=N, handlers=…</li>…</ul>"
    static KL_String MakePage(KL_LogManager& manager);

private:
    // The server, listening as soon as it is bound (so the page answers once Start returns).
    class Server : public KL_HttpServer {
    public:
        explicit Server(uint16_t port) : KL_HttpServer(port) {}
        [[nodiscard]] KL_Result BindAndListen();
    };

    KL_LogManager& m_Manager;
    Server m_Server;
    std::atomic<bool> m_Stopping{false};
    bool m_Started = false;
};
