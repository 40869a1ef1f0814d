#include "RunCommand.h"

#include <array>
#include <cstdio>
#include <sys/wait.h>

namespace lanyard::test {

std::string runCommand(const std::string& commandLine, int* status, int timeoutSeconds) {
    const std::string bounded = "timeout " + std::to_string(timeoutSeconds) + " " + commandLine;
    FILE* pipe = ::popen(bounded.c_str(), "r");
    if (!pipe) {
        if (status) {
            *status = -1;
        }
        return {};
    }
    std::string output;
    std::array<char, 4096> buffer{};
    std::size_t count = 0;
    while ((count = std::fread(buffer.data(), 1, buffer.size(), pipe)) > 0) {
        output.append(buffer.data(), count);
    }
    const int result = ::pclose(pipe);
    if (status) {
        *status = WIFEXITED(result) ? WEXITSTATUS(result) : -1;
    }
    return output;
}

} // namespace lanyard::test
