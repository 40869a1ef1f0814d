#include "foundation/OperatingSystem.h"

#include <gtest/gtest.h>

using platform::OperatingSystem;

TEST(OperatingSystem, ParsesOsReleaseFields) {
    const auto fields = OperatingSystem::parseOsRelease("PRETTY_NAME=\"Debian GNU/Linux 12 (bookworm)\"\n"
                                                        "# a comment\n"
                                                        "NAME='Debian GNU/Linux'\n"
                                                        "VERSION_ID=12\n"
                                                        "not a field\n"
                                                        "BAD KEY=1\n"
                                                        "QUOTED=\"a \\\"b\\\" c\"\r\n");
    EXPECT_EQ(fields.at("PRETTY_NAME"), "Debian GNU/Linux 12 (bookworm)");
    EXPECT_EQ(fields.at("NAME"), "Debian GNU/Linux");
    EXPECT_EQ(fields.at("VERSION_ID"), "12");
    EXPECT_EQ(fields.at("QUOTED"), "a \"b\" c");
    EXPECT_EQ(fields.size(), 4u);
}

TEST(OperatingSystem, NameAndVersionFallBack) {
    const auto full =
        OperatingSystem::parseOsRelease("NAME=Fedora Linux\nVERSION=\"40 (Workstation)\"\nVERSION_ID=40\n");
    EXPECT_EQ(OperatingSystem::nameFromFields(full), "Fedora Linux");
    EXPECT_EQ(OperatingSystem::versionFromFields(full), "40");
    EXPECT_EQ(OperatingSystem::prettyNameFromFields(full), "Fedora Linux 40");

    const auto rolling = OperatingSystem::parseOsRelease("NAME=\"Arch Linux\"\nPRETTY_NAME=\"Arch Linux\"\n");
    EXPECT_EQ(OperatingSystem::versionFromFields(rolling), "");
    EXPECT_EQ(OperatingSystem::prettyNameFromFields(rolling), "Arch Linux");

    const auto versionOnly = OperatingSystem::parseOsRelease("VERSION=\"7 (x)\"\n");
    EXPECT_EQ(OperatingSystem::nameFromFields(versionOnly), "Linux");
    EXPECT_EQ(OperatingSystem::versionFromFields(versionOnly), "7 (x)");
}

TEST(OperatingSystem, TheRunningSystemHasAName) {
    EXPECT_FALSE(OperatingSystem::name().empty());
    EXPECT_FALSE(OperatingSystem::prettyName().empty());
}
