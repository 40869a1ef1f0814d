#pragma once

#include <array>
#include <cstdint>
#include <optional>
#include <string>
#include <variant>
#include <vector>

struct sqlite3;
struct sqlite3_stmt;

namespace lanyard {

class JHDataSet;

// A value bound to a "?" parameter: NULL, an integer or a text.
using SqliteValue = std::variant<std::monostate, std::int64_t, std::string>;

// One SQLite database file: choose the path, then open, execute, query into a JHDataSet and close.
// Main thread only; the connection is closed on destruction.
class SqliteDataReader {
public:
    // Paths must fit this buffer with their terminating NUL.
    static constexpr std::size_t kMaxPathBytes = 2048;

    SqliteDataReader();
    ~SqliteDataReader();
    SqliteDataReader(const SqliteDataReader&) = delete;
    SqliteDataReader& operator=(const SqliteDataReader&) = delete;

    // Every path method closes an open connection and returns false, leaving no path set, when the
    // path does not fit; open() then fails.

    // The file in the user's documents folder, or in its sub-folder `path` (created when missing).
    bool initWithDocFile(const std::string& fileName, const std::optional<std::string>& path, int type);
    bool initWithFullFile(const std::string& path);
    // The named resource beside the executable (or in ../share/lanyard); false when not found.
    bool initWithBundleFile(const std::string& resourceName);
    // type != 0: the documents-folder file `dstFile`, first copied from the resource when missing (and
    // replaced when `del`); type 0: the resource itself.
    bool initWithCopyTo(const std::string& resourceName, const std::string& dstFile, bool del, int type);

    // The file in the documents folder, opened.
    bool createDatabase(const std::string& fileName, const std::optional<std::string>& pwd, int type);
    bool open();
    void close();
    // Runs statements without results; logs SQLite's message on failure.
    bool excute(const std::string& sql);
    // Runs one statement whose "?" parameters are bound, in order, to the values.
    bool excute(const std::string& sql, const std::vector<SqliteValue>& parameters);
    // Runs one query into the set (emptied first); true when the query has result columns.
    bool excute(JHDataSet* dataSet, const std::string& sql);

    bool setPassword(const std::optional<std::string>& password, int len);
    bool reSetPassword(const std::optional<std::string>& password, int len);

    // The user's documents folder (the platform's standard location), created when missing.
    static std::string documentsFolder();

    bool isOpen() const { return m_isOpen; }
    // The database path, "" when none is set.
    std::string path() const { return std::string(m_dbpath.data()); }

private:
    bool setPath(const std::string& path);
    static std::optional<std::string> bundleResourcePath(const std::string& resourceName);
    void logExecuteFailure();

    std::array<char, kMaxPathBytes> m_dbpath{};
    bool m_isOpen = false;
    sqlite3* m_db = nullptr;
    sqlite3_stmt* m_stmt = nullptr;
    std::array<char, 256> m_password{};
    std::int32_t m_passlen = 0;
};

} // namespace lanyard
