// Prints the LAN address CommonFunction finds on this machine, or "none". The host-name tests run it
// inside network namespaces they set up.
#include "CommonFunction.h"

#include <cstdio>

int main() {
    const auto address = lanyard::CommonFunction::getHostName();
    std::printf("%s\n", address ? address->c_str() : "none");
    return 0;
}
