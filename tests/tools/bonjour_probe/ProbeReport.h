#pragma once

#include <string>

// Counts the probe's failed checks; every check prints one "PASS:" or "FAIL:" line on standard
// output.
class ProbeReport {
public:
    // Records a check; returns `ok`.
    bool check(bool ok, const std::string& what);
    // Records a check that two texts are equal, showing both when they differ.
    bool checkEqual(const std::string& actual, const std::string& expected, const std::string& what);
    int failures() const { return _failures; }

private:
    int _failures = 0;
};
