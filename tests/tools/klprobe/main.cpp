// klprobe: dispatches to the registered sub-commands.
#include "Probe.h"

#include <cstdio>
#include <cstdlib>
#include <iostream>
#include <iterator>
#include <map>
#include <unistd.h>

namespace klprobe {

namespace {
struct Entry {
    const char* usage;
    Command command;
};
std::map<std::string, Entry>& Commands() {
    static std::map<std::string, Entry> commands;
    return commands;
}
} // namespace

Registration::Registration(const char* name, const char* usage, Command command) {
    Commands()[name] = Entry{usage, command};
}

int Fail(KL_Result result) {
    const char* name = KL_GetResultText(result);
    if (std::string(name) == "UNKNOWN") {
        std::fprintf(stderr, "UNKNOWN (%d)\n", static_cast<int>(result));
    } else {
        std::fprintf(stderr, "%s\n", name);
    }
    return 1;
}

int Usage(const char* usage) {
    std::fprintf(stderr, "usage: klprobe %s\n", usage);
    return 2;
}

bool ParseNumber(const std::string& text, unsigned long max, uint32_t& value) {
    char* end = nullptr;
    const unsigned long parsed = std::strtoul(text.c_str(), &end, 10);
    if (text.empty() || *end != '\0' || parsed > max) {
        return false;
    }
    value = static_cast<uint32_t>(parsed);
    return true;
}

std::string ReadStdin() {
    std::string data;
    char buffer[65536];
    for (;;) {
        ssize_t n = ::read(0, buffer, sizeof buffer);
        if (n <= 0) {
            break;
        }
        data.append(buffer, static_cast<size_t>(n));
    }
    return data;
}

void WriteStdout(const std::string& bytes) {
    std::fwrite(bytes.data(), 1, bytes.size(), stdout);
    std::fflush(stdout);
}

} // namespace klprobe

int main(int argc, char** argv) {
    auto& commands = klprobe::Commands();
    if (argc < 2 || commands.find(argv[1]) == commands.end()) {
        std::fprintf(stderr, "usage: klprobe SUBCOMMAND ARGS...\n");
        for (const auto& [name, entry] : commands) {
            std::fprintf(stderr, "  %s\n", entry.usage);
        }
        return 2;
    }
    klprobe::Args args(argv + 2, argv + argc);
    int status = commands[argv[1]].command(args);
    std::fflush(stdout);
    return status;
}
