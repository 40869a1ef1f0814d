// klprobe: one program, many sub-commands, each registered by the source file of its family.
//
// Contract: a sub-command prints its results to stdout and returns 0; on failure it returns
// Fail(code), which writes the code's name (or "UNKNOWN (code)") as the only line on stderr and
// gives exit status 1; a usage error returns Usage(text), exit status 2.
#pragma once

#include "KL_Result.h"

#include <cstdint>
#include <string>
#include <vector>

namespace klprobe {

using Args = std::vector<std::string>;
using Command = int (*)(const Args& args);

struct Registration {
    Registration(const char* name, const char* usage, Command command);
};

int Fail(KL_Result result);
int Usage(const char* usage);

// A decimal number of at most max: the whole text, not empty.
bool ParseNumber(const std::string& text, unsigned long max, uint32_t& value);

// Reads all of standard input.
std::string ReadStdin();
// Writes bytes to standard output exactly as they are.
void WriteStdout(const std::string& bytes);

} // namespace klprobe

// KLPROBE_COMMAND(name, "usage line") { ... args ... }
#define KLPROBE_CONCAT2(a, b) a##b
#define KLPROBE_CONCAT(a, b) KLPROBE_CONCAT2(a, b)
#define KLPROBE_COMMAND(name, usage)                                                                         \
    static int KLPROBE_CONCAT(klprobe_cmd_, name)(const klprobe::Args& args);                                \
    static klprobe::Registration KLPROBE_CONCAT(klprobe_reg_, name)(#name, usage,                            \
                                                                    &KLPROBE_CONCAT(klprobe_cmd_, name));    \
    static int KLPROBE_CONCAT(klprobe_cmd_, name)(const klprobe::Args& args)
