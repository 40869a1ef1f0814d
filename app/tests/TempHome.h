#pragma once

#include <string>

namespace lanyard::test {

// Points HOME and the XDG folders of this process at a fresh temporary folder (removed at the end)
// and puts QStandardPaths in test mode, so that settings and documents never touch the real ones.
// Installed once per test program, before the first test runs.
const std::string& temporaryHome();

} // namespace lanyard::test
