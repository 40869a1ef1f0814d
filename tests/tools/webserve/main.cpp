// webserve MODE FOLDER PORT [--localhost] [--auth basic|digest USER PASSWORD] [--idle-timeout S]
//          [--head-timeout S] [--nonce-lifetime S] [--max-per-peer N]
//
// Runs one server on FOLDER until SIGINT or SIGTERM. Once it listens it prints one line
// "listening on URL"; when the start fails it prints the error and exits with status 1.
// Nothing is ever published over DNS-SD.

#include "WebserveModes.h"
#include "dispatch/MainQueue.h"

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <iostream>
#include <iterator>
#include <map>
#include <optional>
#include <string>

namespace {

int usage() {
    std::fprintf(stderr, "usage: webserve echo|static|uploader|webdav FOLDER PORT [--localhost] "
                         "[--auth basic|digest USER PASSWORD] [--idle-timeout S] [--head-timeout S] "
                         "[--nonce-lifetime S] [--max-per-peer N]\n");
    return 2;
}

// Prints the listening line once the server has started (on the main queue).
class StartReporter : public WebServerDelegate {
public:
    explicit StartReporter(bool localhost) : _localhost(localhost) {}
    void webServerDidStart(WebServer& server) override {
        std::string url;
        if (_localhost) {
            url = "http://127.0.0.1:" + std::to_string(server.port());
        } else if (auto serverURL = server.serverURL()) {
            url = serverURL->absoluteString();
        } else {
            url = "http://0.0.0.0:" + std::to_string(server.port());
        }
        std::printf("listening on %s\n", url.c_str());
        std::fflush(stdout);
    }

private:
    bool _localhost;
};

} // namespace

int main(int argc, char** argv) {
    if (argc < 4) {
        return usage();
    }
    const std::string mode = argv[1];
    const std::string folder = argv[2];
    char* end = nullptr;
    const long port = std::strtol(argv[3], &end, 10);
    if (!end || *end || port < 0 || port > 65535) {
        return usage();
    }
    bool localhost = false;
    // Seconds given with --idle-timeout, --head-timeout and --nonce-lifetime, and the share of one
    // peer address given with --max-per-peer, by option key.
    const std::pair<const char*, const char*> timeOptions[] = {
        {"--idle-timeout", WebServerOption_ConnectionIdleTimeout},
        {"--head-timeout", WebServerOption_HeadTimeout},
        {"--nonce-lifetime", WebServerOption_DigestNonceLifetime},
        {"--max-per-peer", WebServerOption_MaxConnectionsPerPeer}};
    std::map<std::string, double> seconds;
    std::string authMethod;
    ServerAccounts accounts;
    for (int i = 4; i < argc; ++i) {
        if (std::strcmp(argv[i], "--localhost") == 0) {
            localhost = true;
        } else if (const auto* timeOption = std::find_if(
                       std::begin(timeOptions), std::end(timeOptions),
                       [&](const auto& option) { return std::strcmp(argv[i], option.first) == 0; });
                   timeOption != std::end(timeOptions) && i + 1 < argc) {
            char* rest = nullptr;
            const double value = std::strtod(argv[i + 1], &rest);
            if (!rest || *rest || !(value > 0)) {
                return usage();
            }
            seconds[timeOption->second] = value;
            ++i;
        } else if (std::strcmp(argv[i], "--auth") == 0 && i + 3 < argc) {
            const std::string kind = argv[i + 1];
            if (kind != "basic" && kind != "digest") {
                return usage();
            }
            authMethod = kind == "basic" ? WebServerAuthenticationMethod_Basic
                                         : WebServerAuthenticationMethod_DigestAccess;
            accounts[argv[i + 2]] = argv[i + 3];
            i += 3;
        } else {
            return usage();
        }
    }

    std::shared_ptr<WebServer> server;
    if (mode == "echo") {
        server = makeEchoServer(folder);
    } else if (mode == "static") {
        server = makeStaticServer(folder);
    } else if (mode == "uploader") {
        server = makeUploaderServer(folder);
    } else if (mode == "webdav") {
        server = makeWebDAVServer(folder);
    } else {
        return usage();
    }
    if (!server) {
        std::fprintf(stderr, "webserve: cannot make the %s server for %s\n", mode.c_str(), folder.c_str());
        return 1;
    }

    StartReporter reporter(localhost);
    server->setDelegate(&reporter);
    ServerOptions options{{WebServerOption_Port, static_cast<long long>(port)},
                          {WebServerOption_BindToLocalhost, localhost}};
    for (const auto& [key, value] : seconds) {
        options[key] = value;
    }
    if (!authMethod.empty()) {
        options[WebServerOption_AuthenticationMethod] = authMethod;
        options[WebServerOption_AuthenticationAccounts] = accounts;
    }
    Error error;
    if (!server->runWithOptions(options, &error)) {
        std::fprintf(stderr, "webserve: %s (%s %lld)\n", error.description.c_str(), error.domain.c_str(),
                     error.code);
        return 1;
    }
    server->setDelegate(nullptr);
    return 0;
}
