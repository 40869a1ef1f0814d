#include "TempHome.h"

#include <QCoreApplication>
#include <QStandardPaths>

#include <gtest/gtest.h>

#include <array>
#include <cstdio>
#include <cstdlib>
#include <filesystem>

namespace lanyard::test {

namespace {

std::string& homeFolder() {
    static std::string folder;
    return folder;
}

class TempHomeEnvironment : public ::testing::Environment {
public:
    void SetUp() override {
        std::array<char, 64> pattern{};
        std::snprintf(pattern.data(), pattern.size(), "/tmp/lanyard-app-core-XXXXXX");
        ASSERT_NE(::mkdtemp(pattern.data()), nullptr);
        homeFolder() = pattern.data();
        const std::string home = homeFolder();
        ::setenv("HOME", home.c_str(), 1);
        ::setenv("XDG_CONFIG_HOME", (home + "/.config").c_str(), 1);
        ::setenv("XDG_DATA_HOME", (home + "/.local/share").c_str(), 1);
        ::setenv("XDG_CACHE_HOME", (home + "/.cache").c_str(), 1);
        ::unsetenv("XDG_DOCUMENTS_DIR");
        QStandardPaths::setTestModeEnabled(true);
        QCoreApplication::setOrganizationName("LanyardTests");
        QCoreApplication::setApplicationName("AppCoreTests");
    }

    void TearDown() override {
        std::error_code ignored;
        std::filesystem::remove_all(homeFolder(), ignored);
    }
};

[[maybe_unused]] ::testing::Environment* const kEnvironment =
    ::testing::AddGlobalTestEnvironment(new TempHomeEnvironment);

} // namespace

const std::string& temporaryHome() {
    return homeFolder();
}

} // namespace lanyard::test
