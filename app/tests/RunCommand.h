#pragma once

#include <string>

namespace lanyard::test {

// Runs a shell command line under a time-out (30 seconds unless given) and returns what it wrote to
// standard output; its exit status goes to `status` (-1 when it could not be run or was killed).
std::string runCommand(const std::string& commandLine, int* status = nullptr, int timeoutSeconds = 30);

} // namespace lanyard::test
