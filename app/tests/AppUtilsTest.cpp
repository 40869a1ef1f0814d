#include "AppUtils.h"
#include "AppSetting.h"
#include "CommonFunction.h"
#include "JHDataSet.h"
#include "RunCommand.h"
#include "SqliteDataReader.h"
#include "TempHome.h"

#include <QSettings>

#include <gtest/gtest.h>

#include <filesystem>
#include <regex>

namespace lanyard {
namespace {

namespace fs = std::filesystem;

// The CREATE statement as SQLite keeps it: without "IF NOT EXISTS" and the final ";".
const std::string kStoredSchema =
    "CREATE TABLE sharePath ( ID INTEGER PRIMARY KEY AUTOINCREMENT,\t Name TEXT,\t Val TEXT,\t CreateTime "
    "TEXT, Inuse  INTEGER, Inter2  INTEGER, Inter3  INTEGER, Note1  TEXT,Note2  TEXT,Note3  TEXT,Note4  "
    "TEXT,Note5  TEXT)";

class AppUtilsTest : public ::testing::Test {
protected:
    void SetUp() override {
        QSettings settings;
        settings.clear();
        settings.sync();
        fs::remove(AppUtils::databasePath());
    }

    static std::string schemaFromSqliteProgram() {
        int status = 0;
        const std::string output =
            test::runCommand("sqlite3 '" + AppUtils::databasePath() + "' '.schema sharePath'", &status);
        EXPECT_EQ(status, 0);
        return output;
    }

    // The rows of the list in the main window's order.
    static JHDataSet listByVal() {
        SqliteDataReader reader;
        reader.createDatabase(AppUtils::kDatabaseFileName, std::nullopt, 2);
        JHDataSet set;
        EXPECT_TRUE(reader.excute(&set, AppUtils::kSelectByValSQL));
        return set;
    }

    static JHDataSet rowWithID(std::int32_t pathID) {
        SqliteDataReader reader;
        reader.createDatabase(AppUtils::kDatabaseFileName, std::nullopt, 2);
        JHDataSet set;
        EXPECT_TRUE(reader.excute(&set, AppUtils::selectByIDSQL(pathID)));
        return set;
    }
};

TEST_F(AppUtilsTest, FirstRunCreatesFileTableAndSettings) {
    EXPECT_EQ(AppUtils::databasePath(), test::temporaryHome() + "/Documents/useredit.db");
    ASSERT_FALSE(fs::exists(AppUtils::databasePath()));
    AppUtils::buildDB();
    EXPECT_TRUE(fs::exists(AppUtils::databasePath()));
    EXPECT_EQ(schemaFromSqliteProgram(), kStoredSchema + ";\n");
    EXPECT_EQ(AppSetting::getUserStrConfig(AppUtils::kUserDBInitKey), "1");
    EXPECT_EQ(AppSetting::getUserStrConfig(AppUtils::kSelectPathIDKey), "1");
    EXPECT_EQ(AppUtils::getLastPathID(), 0);
}

TEST_F(AppUtilsTest, SecondRunChangesNothing) {
    AppUtils::buildUserDB();
    AppUtils::addNewPath(std::string("/srv/media"));
    AppSetting::setUserIntConfig(7, AppUtils::kSelectPathIDKey);
    AppUtils::buildUserDB();
    EXPECT_EQ(AppSetting::getUserIntConfig(AppUtils::kSelectPathIDKey), 7);
    EXPECT_EQ(AppSetting::getUserIntConfig(AppUtils::kUserDBInitKey), 1);
    EXPECT_EQ(schemaFromSqliteProgram(), kStoredSchema + ";\n");
    EXPECT_EQ(listByVal().rows(), 1);
}

TEST_F(AppUtilsTest, NewestIDAfterAddsAndRemovals) {
    AppUtils::buildUserDB();
    AppUtils::addNewPath(std::nullopt); // an empty path adds nothing
    AppUtils::addNewPath(std::string());
    EXPECT_EQ(AppUtils::getLastPathID(), 0);
    for (const char* path : {"/a", "/b", "/c"}) {
        AppUtils::addNewPath(std::string(path));
    }
    EXPECT_EQ(AppUtils::getLastPathID(), 3);
    EXPECT_EQ(AppUtils::removePathBySelectID(3), 2);
    EXPECT_EQ(AppUtils::removePathBySelectID(1), 2);
    EXPECT_EQ(AppUtils::removePathBySelectID(2), 0);
    EXPECT_EQ(AppUtils::removePathBySelectID(2), 0);
    // Identities are never reused.
    AppUtils::addNewPath(std::string("/d"));
    EXPECT_EQ(AppUtils::getLastPathID(), 4);
}

TEST_F(AppUtilsTest, QuotesAndNonAsciiNamesRoundTrip) {
    AppUtils::buildUserDB();
    const std::string apostrophe = "/home/u/John's";
    const std::string accented = "/home/u/\xC3\x9C"
                                 "bersicht \xE6\x96\x87\xE4\xBB\xB6";
    AppUtils::addNewPath(apostrophe);
    AppUtils::addNewPath(accented + "/");
    ASSERT_EQ(AppUtils::getLastPathID(), 2);

    const JHDataSet first = rowWithID(1);
    ASSERT_EQ(first.rows(), 1);
    EXPECT_EQ(first.getValue(0, "Name"), "John's");
    EXPECT_EQ(first.getValue(0, "Val"), apostrophe);
    EXPECT_EQ(first.getValue(0, "Inuse"), "0");
    EXPECT_EQ(first.getValue(0, "Note1"), std::nullopt);
    const JHDataSet second = rowWithID(2);
    EXPECT_EQ(second.getValue(0, "name"), "\xC3\x9C"
                                          "bersicht \xE6\x96\x87\xE4\xBB\xB6");
    EXPECT_EQ(second.getValue(0, "VAL"), accented + "/");
}

TEST_F(AppUtilsTest, CreateTimeIsLocalTimeOnTheTwelveHourClock) {
    AppUtils::buildUserDB();
    AppUtils::addNewPath(std::string("/srv"));
    const std::string stamp = rowWithID(1).getValue(0, "CreateTime").value_or("");
    EXPECT_TRUE(std::regex_match(stamp, std::regex(R"(\d{4}-\d\d-\d\d (0[1-9]|1[0-2]):[0-5]\d:[0-5]\d)")))
        << stamp;
    const auto parsed = CommonFunction::dateFromString(stamp.substr(0, 10), "yyyy-MM-dd");
    ASSERT_TRUE(parsed.has_value());
    EXPECT_EQ(CommonFunction::daysAgoAgainstMidnight(*parsed), 0);
}

TEST_F(AppUtilsTest, ListIsOrderedByPath) {
    AppUtils::buildUserDB();
    for (const char* path : {"/m", "/b", "/z"}) {
        AppUtils::addNewPath(std::string(path));
    }
    const JHDataSet list = listByVal();
    ASSERT_EQ(list.rows(), 3);
    EXPECT_EQ(list.getValue(0, "Val"), "/b");
    EXPECT_EQ(list.getValue(0, "ID"), "2");
    EXPECT_EQ(list.getValue(2, "Val"), "/z");
}

TEST(AppUtilsPathTest, LastPathComponent) {
    EXPECT_EQ(AppUtils::lastPathComponent("/a/b"), "b");
    EXPECT_EQ(AppUtils::lastPathComponent("/a/b//"), "b");
    EXPECT_EQ(AppUtils::lastPathComponent("/"), "/");
    EXPECT_EQ(AppUtils::lastPathComponent("name"), "name");
    EXPECT_EQ(AppUtils::lastPathComponent("/top"), "top");
}

} // namespace
} // namespace lanyard
