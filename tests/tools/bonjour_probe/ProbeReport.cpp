#include "ProbeReport.h"

#include <cstdio>

bool ProbeReport::check(bool ok, const std::string& what) {
    std::printf("%s: %s\n", ok ? "PASS" : "FAIL", what.c_str());
    std::fflush(stdout);
    if (!ok) {
        ++_failures;
    }
    return ok;
}

bool ProbeReport::checkEqual(const std::string& actual, const std::string& expected,
                             const std::string& what) {
    if (actual == expected) {
        return check(true, what + " is \"" + expected + "\"");
    }
    return check(false, what + " is \"" + actual + "\", expected \"" + expected + "\"");
}
