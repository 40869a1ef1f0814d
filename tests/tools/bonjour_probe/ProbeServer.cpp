#include "ProbeServer.h"

#include "ProbeMainLoop.h"

#include <cstdio>
#include <utility>

ProbeServer::ProbeServer(std::string label)
    : _label(std::move(label)), _server(std::make_shared<WebServer>()) {
    _server->setDelegate(this);
}

ProbeServer::~ProbeServer() {
    if (_server->isRunning()) {
        stopAndWait(10.0);
    }
    _server->setDelegate(nullptr);
}

bool ProbeServer::start(const std::optional<std::string>& bonjourName, long long port,
                        const std::optional<std::string>& serverName,
                        const std::optional<std::string>& bonjourType) {
    ServerOptions options{{WebServerOption_Port, port}, {WebServerOption_BindToLocalhost, false}};
    if (bonjourName) {
        options[WebServerOption_BonjourName] = *bonjourName;
    }
    if (serverName) {
        options[WebServerOption_ServerName] = *serverName;
    }
    if (bonjourType) {
        options[WebServerOption_BonjourType] = *bonjourType;
    }
    Error error;
    if (!_server->startWithOptions(options, &error)) {
        std::printf("%s: start failed: %s\n", _label.c_str(), error.description.c_str());
        return false;
    }
    return true;
}

bool ProbeServer::waitForRegistration(double seconds) {
    const int before = _registrations;
    return runMainLoopUntil([this, before] { return _registrations > before; }, seconds);
}

bool ProbeServer::stopAndWait(double seconds) {
    const int before = _stops;
    _server->stop();
    return runMainLoopUntil([this, before] { return _stops > before; }, seconds);
}

void ProbeServer::noteNotification(WebServer& server) {
    if (!insideMainLoop() || &server != _server.get()) {
        _notifiedOnMainQueue = false;
    }
}

void ProbeServer::webServerDidStart(WebServer& server) {
    noteNotification(server);
    ++_starts;
}

void ProbeServer::webServerDidCompleteBonjourRegistration(WebServer& server) {
    noteNotification(server);
    if (_starts == 0) {
        _startedBeforeRegistration = false;
    }
    ++_registrations;
}

void ProbeServer::webServerDidStop(WebServer& server) {
    noteNotification(server);
    ++_stops;
}
