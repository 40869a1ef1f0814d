#include "SqliteDataReader.h"
#include "JHDataSet.h"
#include "TempHome.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>
#include <fstream>

namespace lanyard {
namespace {

namespace fs = std::filesystem;

class SqliteDataReaderTest : public ::testing::Test {
protected:
    void SetUp() override {
        folder =
            test::temporaryHome() + "/db-" + ::testing::UnitTest::GetInstance()->current_test_info()->name();
        fs::create_directories(folder);
        ASSERT_TRUE(reader.initWithFullFile(folder + "/test.db"));
        ASSERT_TRUE(reader.excute("CREATE TABLE t (ID INTEGER PRIMARY KEY, Name TEXT, Note TEXT);"));
    }

    std::string folder;
    SqliteDataReader reader;
};

TEST_F(SqliteDataReaderTest, OpenWithoutPathFailsAndAPathChangeClosesTheConnection) {
    SqliteDataReader fresh;
    EXPECT_FALSE(fresh.open());
    EXPECT_FALSE(fresh.isOpen());
    EXPECT_FALSE(fresh.excute("select 1"));
    ASSERT_TRUE(reader.open());
    EXPECT_TRUE(reader.initWithFullFile(folder + "/other.db"));
    EXPECT_FALSE(reader.isOpen());
}

// A folder under `base` whose path is exactly `length` bytes long (made of components that the file
// system accepts).
std::string folderOfLength(const std::string& base, std::size_t length) {
    std::string path = base;
    while (path.size() < length) {
        const std::size_t room = length - path.size() - 1;
        path.push_back('/');
        path.append(std::min<std::size_t>(room, 200), 'd');
    }
    fs::create_directories(path);
    return path;
}

TEST_F(SqliteDataReaderTest, PathThatDoesNotFitIsRefused) {
    // A file whose path is the longest that fits (2047 bytes and the NUL)...
    const std::string suffix = "/list.db";
    const std::string deep = folderOfLength(folder, SqliteDataReader::kMaxPathBytes - 1 - suffix.size());
    const std::string fits = deep + suffix;
    ASSERT_EQ(fits.size(), SqliteDataReader::kMaxPathBytes - 1);
    std::ofstream(fits) << "kept";
    SqliteDataReader other;
    EXPECT_TRUE(other.initWithFullFile(fits));
    EXPECT_EQ(other.path(), fits);

    // ...must not be reached through a longer path cut short.
    const std::string tooLong = fits + "x";
    EXPECT_FALSE(reader.initWithFullFile(tooLong));
    EXPECT_EQ(reader.path(), "");
    EXPECT_FALSE(reader.open());
    EXPECT_FALSE(reader.excute("CREATE TABLE intruder (a);"));
    EXPECT_FALSE(fs::exists(tooLong));
    EXPECT_EQ(fs::file_size(fits), 4u);
}

TEST_F(SqliteDataReaderTest, QueryResultsWithoutRowsWithoutColumnsAndFailed) {
    JHDataSet set;
    EXPECT_TRUE(reader.excute(&set, "select * from t"));
    EXPECT_EQ(set.rows(), 0);
    EXPECT_EQ(set.status(), 0);
    EXPECT_EQ(set.comns(), (std::vector<std::string>{"ID", "Name", "Note"}));
    EXPECT_FALSE(reader.excute(&set, "delete from t")); // no result columns
    EXPECT_EQ(set.status(), 0);

    ASSERT_TRUE(reader.excute(&set, "select 1 as one"));
    ASSERT_EQ(set.rows(), 1);
    EXPECT_FALSE(reader.excute(&set, "select * from missing_table"));
    EXPECT_EQ(set.rows(), 0);
    EXPECT_EQ(set.status(), -1);
    EXPECT_TRUE(set.comns().empty());
    EXPECT_FALSE(reader.excute(nullptr, "select 1"));
}

TEST_F(SqliteDataReaderTest, NullColumnHasNoValueAndTextThatIsNotUtf8ReadsAsEmpty) {
    ASSERT_TRUE(reader.excute("INSERT INTO t (ID, Name, Note) VALUES (1, 'a', NULL);"));
    ASSERT_TRUE(reader.excute("INSERT INTO t (ID, Name) VALUES (2, CAST(X'41FF42' AS TEXT));"));
    JHDataSet set;
    ASSERT_TRUE(reader.excute(&set, "select * from t order by ID"));
    ASSERT_EQ(set.rows(), 2);
    EXPECT_EQ(set.getValue(0, "Name"), "a");
    EXPECT_EQ(set.getValue(0, "Note"), std::nullopt);
    EXPECT_EQ(set.getValue(1, "name"), "");
}

TEST_F(SqliteDataReaderTest, BoundValuesAreNeverParsedAsSqlAndFailingStatementsChangeNothing) {
    const std::string tricky = "it's'); DROP TABLE t; --";
    ASSERT_TRUE(reader.excute("INSERT INTO t (Name, Note) VALUES (?, ?);", {tricky, SqliteValue{}}));
    EXPECT_FALSE(reader.excute("INSERT INTO t (Name) VALUES (?);", {std::string("a"), std::string("b")}));
    EXPECT_FALSE(reader.excute("INSERT INTO nowhere (Name) VALUES (?);", {std::string("a")}));
    EXPECT_FALSE(reader.excute("INSERT INTO t (ID, Nope) VALUES (1, 2);"));
    EXPECT_FALSE(reader.excute("not sql at all"));
    JHDataSet set;
    ASSERT_TRUE(reader.excute(&set, "select * from t"));
    ASSERT_EQ(set.rows(), 1);
    EXPECT_EQ(set.getValue(0, "Name"), tricky);
    EXPECT_EQ(set.getValue(0, "Note"), std::nullopt);
}

TEST_F(SqliteDataReaderTest, DocumentFileInSubfolder) {
    SqliteDataReader doc;
    ASSERT_TRUE(doc.initWithDocFile("sub.db", std::string("Lists"), 0));
    const std::string expected = SqliteDataReader::documentsFolder() + "/Lists/sub.db";
    EXPECT_EQ(doc.path(), expected);
    EXPECT_TRUE(fs::is_directory(SqliteDataReader::documentsFolder() + "/Lists"));
    ASSERT_TRUE(doc.excute("CREATE TABLE IF NOT EXISTS x (a);"));
    doc.close();
    EXPECT_TRUE(fs::exists(expected));
}

TEST_F(SqliteDataReaderTest, CopyToDocumentsReplacesOnRequest) {
    SqliteDataReader copy;
    const std::string destination = SqliteDataReader::documentsFolder() + "/copied.db";
    fs::remove(destination);
    // No such resource: nothing to copy, but the destination is still the path.
    EXPECT_TRUE(copy.initWithCopyTo("no-such-resource.db", "copied.db", false, 1));
    EXPECT_EQ(copy.path(), destination);
    ASSERT_TRUE(copy.excute("CREATE TABLE y (a);"));
    copy.close();
    EXPECT_TRUE(copy.initWithCopyTo("no-such-resource.db", "copied.db", true, 1));
    EXPECT_FALSE(fs::exists(destination));
    EXPECT_FALSE(copy.initWithCopyTo("no-such-resource.db", "copied.db", false, 0));
    EXPECT_FALSE(copy.initWithBundleFile("no-such-resource.db"));
}

} // namespace
} // namespace lanyard
