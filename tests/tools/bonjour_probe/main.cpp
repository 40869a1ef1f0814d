// bonjour_probe check HOST [--port80]
// bonjour_probe hold HOST NAME
//
// Publishes servers over DNS-SD through the Avahi daemon that DBUS_SYSTEM_BUS_ADDRESS leads to and
// checks what each server reports once its publication is complete. HOST is the daemon's host
// name ("name.local"). Meant for a private daemon inside a network namespace of its own
// (tests/e2e/bonjour_e2e.sh): it publishes for real.
//
// check: a sequence of servers (class name, renamed on collision, ServerName, a given name and
//   type, withdrawal on stop, publication again after a restart); with --port80 one server takes
//   port 80, which is only free in a namespace of its own.
// hold: publishes one server under NAME beside one that is not published, prints
//   "published PORT UNPUBLISHED-PORT URL", then reads commands on standard input: "stop" stops the
//   published server and prints "stopped"; "quit" (or the end of input) exits.
// Every check prints a "PASS:" or "FAIL:" line; the exit status is 0 when all passed, else 1.

#include "ProbeMainLoop.h"
#include "ProbeReport.h"
#include "ProbeServer.h"

#include <poll.h>
#include <unistd.h>

#include <cstdio>
#include <cstring>
#include <string>
#include <utility>

namespace {

constexpr double kRegistrationTimeout = 15.0;
constexpr double kStopTimeout = 10.0;

struct PublishCase {
    PublishCase(std::optional<std::string> name, std::string expected)
        : bonjourName(std::move(name)), expectedName(std::move(expected)) {}

    std::optional<std::string> bonjourName;
    std::string expectedName;
    std::optional<std::string> serverName;
    std::optional<std::string> bonjourType;
    std::string expectedType = "_http._tcp";
    long long port = 0;
};

std::string expectedURL(const std::string& host, std::uint64_t port) {
    return port == 80 ? "http://" + host + "/" : "http://" + host + ":" + std::to_string(port) + "/";
}

// Starts the server, waits for its publication and checks what the server reports about it.
void publishAndCheck(ProbeReport& report, ProbeServer& probe, const PublishCase& c, const std::string& host) {
    const std::string& label = probe.label();
    if (!report.check(probe.start(c.bonjourName, c.port, c.serverName, c.bonjourType), label + " starts")) {
        return;
    }
    WebServer& server = probe.server();
    report.check(!server.bonjourServerURL(), label + " has no Bonjour URL before the service is resolved");
    if (!report.check(probe.waitForRegistration(kRegistrationTimeout),
                      label + " reports its publication within 15 s")) {
        return;
    }
    const std::string name = server.bonjourName().value_or("(none)");
    const std::string type = server.bonjourType().value_or("(none)");
    const auto url = server.bonjourServerURL();
    const std::string urlText = url ? url->absoluteString() : "(none)";
    std::printf("%s: port=%llu name=%s type=%s url=%s\n", label.c_str(),
                static_cast<unsigned long long>(server.port()), name.c_str(), type.c_str(), urlText.c_str());
    report.checkEqual(name, c.expectedName, label + " bonjourName");
    report.checkEqual(type, c.expectedType, label + " bonjourType");
    report.checkEqual(urlText, expectedURL(host, server.port()), label + " bonjourServerURL");
    report.check(urlText.find("..") == std::string::npos && urlText.find(".:") == std::string::npos &&
                     urlText.find("./") == std::string::npos,
                 label + " bonjourServerURL has no doubled or trailing dot in its host");
    report.check(url && url->host() == host, label + " bonjourServerURL keeps the whole host name");
    report.check(probe.notifiedOnMainQueue(), label + " notifications arrive on the main queue");
    report.check(probe.startedBeforeRegistration(),
                 label + " webServerDidStart comes before the publication");
}

// Stops the server and checks that it no longer reports a publication.
void stopAndCheck(ProbeReport& report, ProbeServer& probe) {
    const std::string& label = probe.label();
    const int registrations = probe.registrations();
    report.check(probe.stopAndWait(kStopTimeout), label + " stops within 10 s");
    WebServer& server = probe.server();
    report.check(!server.bonjourName() && !server.bonjourType() && !server.bonjourServerURL(),
                 label + " reports no Bonjour name, type or URL once stopped");
    report.check(probe.registrations() == registrations, label + " reports no publication while stopping");
}

void checkUnpublished(ProbeReport& report, ProbeServer& probe) {
    const std::string& label = probe.label();
    if (!report.check(probe.start(std::nullopt), label + " starts without BonjourName")) {
        return;
    }
    WebServer& server = probe.server();
    report.check(!server.bonjourName() && !server.bonjourType() && !server.bonjourServerURL(),
                 label + " reports no Bonjour name, type or URL");
}

int checkMode(const std::string& host, bool port80) {
    ProbeReport report;
    ProbeServer unpublished("unpublished");
    ProbeServer first("first");
    ProbeServer second("second");
    ProbeServer named("named");
    ProbeServer typed("typed");
    ProbeServer third("third");
    checkUnpublished(report, unpublished);
    publishAndCheck(report, first, {"", "WebServer"}, host);
    // The same name again: the second service takes the next alternative name.
    publishAndCheck(report, second, {"", "WebServer #2"}, host);
    PublishCase underServerName("", "Lanyard Probe");
    underServerName.serverName = "Lanyard Probe";
    underServerName.port = port80 ? 80 : 0;
    publishAndCheck(report, named, underServerName, host);
    PublishCase givenNameAndType("Shared Files", "Shared Files");
    givenNameAndType.serverName = "Ignored Name";
    givenNameAndType.bonjourType = givenNameAndType.expectedType = "_webdav._tcp";
    publishAndCheck(report, typed, givenNameAndType, host);
    // Stopping withdraws the service: its name is free again, no rename.
    stopAndCheck(report, first);
    publishAndCheck(report, third, {"", "WebServer"}, host);
    // A restarted server publishes again ("WebServer" and "WebServer #2" are taken).
    publishAndCheck(report, first, {"", "WebServer #3"}, host);
    // Longer than the resolution time-out: nothing more is reported.
    drainMainLoop(1.5);
    report.check(unpublished.registrations() == 0, "unpublished reports no publication");
    report.check(first.registrations() == 2 && second.registrations() == 1 && named.registrations() == 1 &&
                     typed.registrations() == 1 && third.registrations() == 1,
                 "every publication is reported exactly once");
    for (ProbeServer* probe : {&unpublished, &first, &second, &named, &typed, &third}) {
        report.check(probe->stopAndWait(kStopTimeout), probe->label() + " stops within 10 s");
    }
    std::printf("%d failure(s)\n", report.failures());
    return report.failures() == 0 ? 0 : 1;
}

// Reads one command line from standard input without blocking; "quit" at the end of input.
bool readCommand(std::string& buffer, std::string& command) {
    for (;;) {
        const auto newline = buffer.find('\n');
        if (newline != std::string::npos) {
            command = buffer.substr(0, newline);
            buffer.erase(0, newline + 1);
            return true;
        }
        pollfd input{STDIN_FILENO, POLLIN, 0};
        if (::poll(&input, 1, 0) <= 0) {
            return false;
        }
        char chunk[256];
        const ssize_t count = ::read(STDIN_FILENO, chunk, sizeof chunk);
        if (count <= 0) {
            command = "quit";
            return true;
        }
        buffer.append(chunk, static_cast<std::size_t>(count));
    }
}

int holdMode(const std::string& host, const std::string& name) {
    ProbeReport report;
    ProbeServer unpublished("unpublished");
    ProbeServer published("published");
    checkUnpublished(report, unpublished);
    publishAndCheck(report, published, {name, name}, host);
    const auto url = published.server().bonjourServerURL();
    std::printf("published %llu %llu %s\n", static_cast<unsigned long long>(published.server().port()),
                static_cast<unsigned long long>(unpublished.server().port()),
                url ? url->absoluteString().c_str() : "(none)");
    std::fflush(stdout);
    std::string buffer;
    std::string command;
    constexpr double kHoldTimeout = 120.0;
    while (runMainLoopUntil([&] { return readCommand(buffer, command); }, kHoldTimeout) &&
           command != "quit") {
        if (command == "stop") {
            stopAndCheck(report, published);
            std::printf("stopped\n");
            std::fflush(stdout);
        }
    }
    return report.failures() == 0 ? 0 : 1;
}

int usage() {
    std::fprintf(stderr, "usage: bonjour_probe check HOST [--port80] | bonjour_probe hold HOST NAME\n");
    return 2;
}

} // namespace

int main(int argc, char** argv) {
    markMainThread();
    if (argc >= 3 && std::strcmp(argv[1], "check") == 0) {
        if (argc == 3 || (argc == 4 && std::strcmp(argv[3], "--port80") == 0)) {
            return checkMode(argv[2], argc == 4);
        }
    } else if (argc == 4 && std::strcmp(argv[1], "hold") == 0) {
        return holdMode(argv[2], argv[3]);
    }
    return usage();
}
