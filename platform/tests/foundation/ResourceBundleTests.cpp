#include "foundation/FileSystem.h"
#include "foundation/MainBundle.h"
#include "foundation/ResourceBundle.h"

#include <gtest/gtest.h>

#include <fstream>
#include <stdlib.h>
#include <sys/stat.h>
#include <unistd.h>

using platform::FileSystem;
using platform::ResourceBundle;

namespace {

// A scratch tree: prefix/bin (the executable's folder) and prefix/share/lanyard.
class BundleTree : public ::testing::Test {
protected:
    void SetUp() override {
        std::string pattern = "/tmp/lanyard-bundle-XXXXXX";
        ASSERT_TRUE(::mkdtemp(pattern.data()));
        root = pattern;
        for (const char* folder : {"/bin", "/share", "/share/lanyard"}) {
            ASSERT_EQ(::mkdir((root + folder).c_str(), 0755), 0);
        }
    }
    void TearDown() override { FileSystem::removeItem(root); }

    void makeBundle(const std::string& path) {
        ASSERT_EQ(::mkdir(path.c_str(), 0755), 0);
        ASSERT_EQ(::mkdir((path + "/en.lproj").c_str(), 0755), 0);
        ASSERT_EQ(::mkdir((path + "/js").c_str(), 0755), 0);
        write(path + "/index.html", "<html>");
        write(path + "/js/page.js", "");
        write(path + "/en.lproj/Localizable.strings",
              "\"PROLOGUE\" = \"<p>Welcome</p>\";\n\"FOOTER_FORMAT\" = \"%@ %@\";");
        write(path + "/en.lproj/Help.html", "help");
    }
    static void write(const std::string& path, const std::string& text) {
        std::ofstream out(path);
        out << text;
    }

    std::string root;
};

} // namespace

TEST_F(BundleTree, FoundBesideTheExecutableThenInTheInstallTree) {
    EXPECT_FALSE(ResourceBundle::findFromDirectory(root + "/bin", "WebUploader"));
    write(root + "/bin/WebUploader.bundle", "a file, not a folder");
    EXPECT_FALSE(ResourceBundle::findFromDirectory(root + "/bin", "WebUploader"));
    EXPECT_FALSE(ResourceBundle::findFromDirectory("", "WebUploader"));
    EXPECT_FALSE(ResourceBundle::bundleWithPath(root + "/nothing"));

    makeBundle(root + "/share/lanyard/WebUploader.bundle");
    auto bundle = ResourceBundle::findFromDirectory(root + "/bin", "WebUploader", "bundle");
    ASSERT_TRUE(bundle);
    EXPECT_EQ(bundle->bundlePath(), root + "/share/lanyard/WebUploader.bundle");

    ASSERT_EQ(::unlink((root + "/bin/WebUploader.bundle").c_str()), 0);
    makeBundle(root + "/bin/WebUploader.bundle");
    bundle = ResourceBundle::findFromDirectory(root + "/bin", "WebUploader");
    ASSERT_TRUE(bundle);
    EXPECT_EQ(bundle->bundlePath(), root + "/bin/WebUploader.bundle");
    EXPECT_EQ(bundle->resourcePath(), bundle->bundlePath());
}

TEST_F(BundleTree, ResourcesAtTheTopThenLocalized) {
    makeBundle(root + "/bin/WebUploader.bundle");
    const auto bundle = ResourceBundle::findFromDirectory(root + "/bin", "WebUploader");
    ASSERT_TRUE(bundle);
    EXPECT_EQ(bundle->pathForResource("index", "html"), root + "/bin/WebUploader.bundle/index.html");
    EXPECT_EQ(bundle->pathForResource("Help", "html"), root + "/bin/WebUploader.bundle/en.lproj/Help.html");
    EXPECT_FALSE(bundle->pathForResource("missing", "html"));
    EXPECT_FALSE(bundle->pathForResource("js", "")) << "a folder is not a resource file";
    EXPECT_FALSE(bundle->pathForResource("../bin", "")) << "names stay inside the bundle";
}

TEST_F(BundleTree, LocalizedStringsWithDefaults) {
    makeBundle(root + "/bin/WebUploader.bundle");
    auto bundle = ResourceBundle::findFromDirectory(root + "/bin", "WebUploader");
    ASSERT_TRUE(bundle);
    EXPECT_EQ(bundle->localizedString("PROLOGUE", ""), "<p>Welcome</p>");
    EXPECT_EQ(bundle->localizedString("FOOTER_FORMAT", "x"), "%@ %@");
    EXPECT_EQ(bundle->localizedString("EPILOGUE", "none"), "none");
    EXPECT_EQ(bundle->localizedString("PROLOGUE", "other", "Missing"), "other");

    // A malformed table gives the defaults.
    write(root + "/bin/WebUploader.bundle/en.lproj/Localizable.strings", "\"PROLOGUE\" = \"unterminated");
    bundle = ResourceBundle::findFromDirectory(root + "/bin", "WebUploader");
    ASSERT_TRUE(bundle);
    EXPECT_EQ(bundle->localizedString("PROLOGUE", "default"), "default");
}

TEST(ResourceBundle, SearchStartsBesideTheRunningExecutable) {
    // This test program has no bundle named so beside it or in an install tree.
    EXPECT_FALSE(ResourceBundle::find("NoSuchBundleOfLanyard"));
    EXPECT_FALSE(platform::MainBundle::executableDirectory().empty());
}
