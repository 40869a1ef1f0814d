#pragma once

#include <cstdint>
#include <optional>
#include <string>

namespace lanyard {

// The application's operations on its list of shared folders, the table sharePath of "useredit.db"
// in the user's documents folder. Each operation opens the database and closes it again.
class AppUtils {
public:
    static constexpr const char* kDatabaseFileName = "useredit.db";
    static constexpr const char* kCreateSharePathSQL =
        "CREATE TABLE IF NOT EXISTS sharePath ( ID INTEGER PRIMARY KEY AUTOINCREMENT,\t Name TEXT,\t Val "
        "TEXT,\t CreateTime TEXT, Inuse  INTEGER, Inter2  INTEGER, Inter3  INTEGER, Note1  TEXT,Note2  "
        "TEXT,Note3  TEXT,Note4  TEXT,Note5  TEXT);";
    // The folder's values are bound, never pasted into the text.
    static constexpr const char* kInsertSharePathSQL =
        "INSERT INTO sharePath (Name  ,Val  ,CreateTime  ,Inuse) VALUES (?, ?, ?, ?);";
    static constexpr const char* kSelectNewestFirstSQL = "select * from sharePath where 1=1 order by ID desc";
    // The main window's list, ordered by path.
    static constexpr const char* kSelectByValSQL = "select * from sharePath where 1=1 order by Val";
    static constexpr const char* kCreateTimeFormat = "yyyy-MM-dd hh:mm:ss";
    // Settings written on the first run.
    static constexpr const char* kUserDBInitKey = "key_userdbinit";
    static constexpr const char* kSelectPathIDKey = "key_selectPathID";

    // "delete from sharePath where ID=<id>".
    static std::string deleteByIDSQL(std::int32_t pathID);
    // "select * from sharePath where ID=<id>": the main window's current path.
    static std::string selectByIDSQL(std::int32_t pathID);
    // The full path of the database file.
    static std::string databasePath();

    static void buildDB();
    // Creates the table when missing; on the first run stores key_userdbinit = 1 and then
    // key_selectPathID = 1.
    static void buildUserDB();
    // Adds the folder (nothing for none or ""), stamped with the local time.
    static void addNewPath(const std::optional<std::string>& path);
    // The highest ID in the list, 0 when it is empty.
    static std::int32_t getLastPathID();
    // Removes the entry; returns the highest remaining ID (0 when none is left).
    static std::int32_t removePathBySelectID(std::int32_t pathID);
    // The computer's name, as the system configuration holds it.
    static std::optional<std::string> getComputerName();
    // The last component of a path ("/a/b/" → "b", "/" → "/").
    static std::string lastPathComponent(const std::string& path);
};

} // namespace lanyard
