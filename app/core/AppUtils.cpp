#include "AppUtils.h"

#include "AppSetting.h"
#include "AppText.h"
#include "CommonFunction.h"
#include "JHDataSet.h"
#include "SqliteDataReader.h"

#include <sysconfig/SystemConfiguration.h>

namespace lanyard {

namespace {

// The database file of the list, opened.
bool openListDatabase(SqliteDataReader& reader) {
    return reader.createDatabase(AppUtils::kDatabaseFileName, std::nullopt, 2);
}

} // namespace

std::string AppUtils::deleteByIDSQL(std::int32_t pathID) {
    return "delete from sharePath where ID=" + std::to_string(pathID);
}

std::string AppUtils::selectByIDSQL(std::int32_t pathID) {
    return "select * from sharePath where ID=" + std::to_string(pathID);
}

std::string AppUtils::databasePath() {
    return SqliteDataReader::documentsFolder() + "/" + kDatabaseFileName;
}

void AppUtils::buildDB() {
    buildUserDB();
}

void AppUtils::buildUserDB() {
    SqliteDataReader reader;
    openListDatabase(reader);
    reader.excute(kCreateSharePathSQL);
    if (AppSetting::getUserIntConfig(kUserDBInitKey) == 0) {
        AppSetting::setUserIntConfig(1, kUserDBInitKey);
        AppSetting::setUserIntConfig(1, kSelectPathIDKey);
    }
    reader.close();
}

void AppUtils::addNewPath(const std::optional<std::string>& path) {
    if (!path || path->empty()) {
        return;
    }
    SqliteDataReader reader;
    openListDatabase(reader);
    const std::string now = CommonFunction::getCurrentTime(kCreateTimeFormat);
    reader.excute(kInsertSharePathSQL, {lastPathComponent(*path), *path, now, std::int64_t{0}});
    reader.close();
}

std::int32_t AppUtils::getLastPathID() {
    SqliteDataReader reader;
    openListDatabase(reader);
    JHDataSet dataSet;
    reader.excute(&dataSet, kSelectNewestFirstSQL);
    reader.close();
    if (dataSet.rows() <= 0) {
        return 0;
    }
    return intValueOfText(dataSet.getValue(0, "ID").value_or(std::string()));
}

std::int32_t AppUtils::removePathBySelectID(std::int32_t pathID) {
    SqliteDataReader reader;
    openListDatabase(reader);
    reader.excute(deleteByIDSQL(pathID));
    reader.close();
    return getLastPathID();
}

std::optional<std::string> AppUtils::getComputerName() {
    return platform::SystemConfiguration::computerName();
}

std::string AppUtils::lastPathComponent(const std::string& path) {
    std::size_t end = path.size();
    while (end > 1 && path[end - 1] == '/') {
        --end;
    }
    const std::string trimmed = path.substr(0, end);
    if (trimmed == "/") {
        return trimmed;
    }
    const std::size_t slash = trimmed.rfind('/');
    return slash == std::string::npos ? trimmed : trimmed.substr(slash + 1);
}

} // namespace lanyard
