#pragma once

#include "WebServer.h"

#include <memory>
#include <optional>
#include <string>

// One server of the probe and what its delegate has seen. Notifications are expected on the main
// thread, while the main queue runs; each one records whether that held.
class ProbeServer final : public WebServerDelegate {
public:
    explicit ProbeServer(std::string label);
    ~ProbeServer() override;
    ProbeServer(const ProbeServer&) = delete;
    ProbeServer& operator=(const ProbeServer&) = delete;

    // Starts on a port of the system's choice (or `port`), bound to the wildcard addresses,
    // published under `bonjourName` when one is given (ServerName and BonjourType when given).
    bool start(const std::optional<std::string>& bonjourName, long long port = 0,
               const std::optional<std::string>& serverName = std::nullopt,
               const std::optional<std::string>& bonjourType = std::nullopt);
    // Runs the main queue until the publication is reported, at most `seconds`.
    bool waitForRegistration(double seconds);
    // Stops the server and runs the main queue until webServerDidStop, at most `seconds`.
    bool stopAndWait(double seconds);

    WebServer& server() { return *_server; }
    const std::string& label() const { return _label; }
    int registrations() const { return _registrations; }
    int stops() const { return _stops; }
    // Every notification so far arrived on the main thread from the main queue.
    bool notifiedOnMainQueue() const { return _notifiedOnMainQueue; }
    // webServerDidStart came before the first webServerDidCompleteBonjourRegistration.
    bool startedBeforeRegistration() const { return _startedBeforeRegistration; }

    void webServerDidStart(WebServer& server) override;
    void webServerDidCompleteBonjourRegistration(WebServer& server) override;
    void webServerDidStop(WebServer& server) override;

private:
    void noteNotification(WebServer& server);

    std::string _label;
    std::shared_ptr<WebServer> _server;
    int _starts = 0;
    int _registrations = 0;
    int _stops = 0;
    bool _notifiedOnMainQueue = true;
    bool _startedBeforeRegistration = true;
};
