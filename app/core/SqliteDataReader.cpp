#include "SqliteDataReader.h"

#include "AppText.h"
#include "JHDataSet.h"

#include <foundation/MainBundle.h>

#include <QDir>
#include <QFileInfo>
#include <QStandardPaths>

#include <sqlite3.h>

#include <algorithm>
#include <cstdio>
#include <cstring>
#include <filesystem>

namespace lanyard {

namespace {

QString qstr(const std::string& text) {
    return QString::fromStdString(text);
}

bool exists(const std::string& path) {
    std::error_code error;
    return std::filesystem::exists(std::filesystem::path(path), error);
}

void logOpenFailure() {
    std::fprintf(stderr, "open数据库失败！\n");
}

// Binds one value; SQLite copies the text.
int bindValue(sqlite3_stmt* statement, int index, const SqliteValue& value) {
    if (const auto* number = std::get_if<std::int64_t>(&value)) {
        return sqlite3_bind_int64(statement, index, *number);
    }
    if (const auto* text = std::get_if<std::string>(&value)) {
        return sqlite3_bind_text(statement, index, text->data(), static_cast<int>(text->size()),
                                 SQLITE_TRANSIENT);
    }
    return sqlite3_bind_null(statement, index);
}

} // namespace

SqliteDataReader::SqliteDataReader() = default;

SqliteDataReader::~SqliteDataReader() {
    close();
}

std::string SqliteDataReader::documentsFolder() {
    const QString folder = QStandardPaths::writableLocation(QStandardPaths::DocumentsLocation);
    if (folder.isEmpty()) {
        return {};
    }
    // A fresh Linux account may have no documents folder yet.
    QDir().mkpath(folder);
    return folder.toStdString();
}

bool SqliteDataReader::setPath(const std::string& path) {
    close();
    m_dbpath.fill('\0');
    // Never cut a path short: the shorter path would name a different file.
    if (path.empty() || path.size() >= m_dbpath.size() || path.find('\0') != std::string::npos) {
        return false;
    }
    std::memcpy(m_dbpath.data(), path.data(), path.size());
    return true;
}

bool SqliteDataReader::initWithDocFile(const std::string& fileName, const std::optional<std::string>& path,
                                       int /*type*/) {
    const std::string documents = documentsFolder();
    if (!path || path->empty()) {
        return setPath(documents + "/" + fileName);
    }
    const std::string folder = documents + "/" + *path;
    if (!exists(folder)) {
        QDir().mkdir(qstr(folder));
    }
    return setPath(folder + "/" + fileName);
}

bool SqliteDataReader::initWithFullFile(const std::string& path) {
    return setPath(path);
}

std::optional<std::string> SqliteDataReader::bundleResourcePath(const std::string& resourceName) {
    if (resourceName.empty()) {
        return std::nullopt;
    }
    const std::string directory = platform::MainBundle::executableDirectory();
    for (const std::string& candidate :
         {directory + "/" + resourceName, directory + "/../share/lanyard/" + resourceName}) {
        if (QFileInfo(qstr(candidate)).isFile()) {
            return candidate;
        }
    }
    return std::nullopt;
}

bool SqliteDataReader::initWithBundleFile(const std::string& resourceName) {
    const std::optional<std::string> resource = bundleResourcePath(resourceName);
    if (!resource) {
        setPath({});
        return false;
    }
    return setPath(*resource);
}

bool SqliteDataReader::initWithCopyTo(const std::string& resourceName, const std::string& dstFile, bool del,
                                      int type) {
    const std::optional<std::string> resource = bundleResourcePath(resourceName);
    if (type == 0) {
        return setPath(resource.value_or(std::string()));
    }
    const std::string destination = documentsFolder() + "/" + dstFile;
    if (!exists(destination)) {
        if (resource) {
            std::error_code ignored;
            std::filesystem::copy_file(*resource, destination, ignored);
        }
    } else if (del) {
        std::error_code ignored;
        std::filesystem::remove_all(destination, ignored);
        return initWithCopyTo(resourceName, dstFile, false, 1);
    }
    return setPath(destination);
}

bool SqliteDataReader::createDatabase(const std::string& fileName, const std::optional<std::string>& pwd,
                                      int type) {
    initWithDocFile(fileName, std::nullopt, type);
    if (pwd && !pwd->empty()) {
        setPassword(pwd, static_cast<int>(pwd->size()));
    }
    return open();
}

bool SqliteDataReader::open() {
    if (m_db && m_isOpen) {
        return true;
    }
    m_stmt = nullptr;
    if (m_dbpath[0] == '\0') {
        // SQLite would open a private temporary database for an empty name.
        logOpenFailure();
        return false;
    }
    sqlite3* db = nullptr;
    if (sqlite3_open(m_dbpath.data(), &db) != SQLITE_OK) {
        sqlite3_close(db);
        m_db = nullptr;
        logOpenFailure();
        return false;
    }
    m_db = db;
    m_isOpen = true;
    return true;
}

void SqliteDataReader::close() {
    sqlite3_close(m_db);
    m_db = nullptr;
    m_isOpen = false;
}

void SqliteDataReader::logExecuteFailure() {
    std::fprintf(stderr, "excute sql failed:%s\n", sqlite3_errmsg(m_db));
}

bool SqliteDataReader::excute(const std::string& sql) {
    if (!open()) {
        return false;
    }
    char* message = nullptr;
    if (sqlite3_exec(m_db, sql.c_str(), nullptr, nullptr, &message) != SQLITE_OK) {
        std::fprintf(stderr, "excute sql failed:%s\n", message ? message : sqlite3_errmsg(m_db));
        sqlite3_free(message);
        return false;
    }
    return true;
}

bool SqliteDataReader::excute(const std::string& sql, const std::vector<SqliteValue>& parameters) {
    if (!open()) {
        return false;
    }
    sqlite3_stmt* statement = nullptr;
    if (sqlite3_prepare_v2(m_db, sql.c_str(), -1, &statement, nullptr) != SQLITE_OK) {
        logExecuteFailure();
        return false;
    }
    int result = SQLITE_OK;
    for (std::size_t i = 0; i < parameters.size() && result == SQLITE_OK; ++i) {
        result = bindValue(statement, static_cast<int>(i + 1), parameters[i]);
    }
    if (result == SQLITE_OK) {
        result = sqlite3_step(statement);
    }
    const bool done = result == SQLITE_DONE || result == SQLITE_ROW;
    if (!done) {
        logExecuteFailure();
    }
    sqlite3_finalize(statement);
    return done;
}

bool SqliteDataReader::excute(JHDataSet* dataSet, const std::string& sql) {
    if (!dataSet) {
        return false;
    }
    dataSet->closeSet();
    if (!open()) {
        return false;
    }
    sqlite3_stmt* statement = nullptr;
    if (sqlite3_prepare_v2(m_db, sql.c_str(), -1, &statement, nullptr) != SQLITE_OK) {
        return false;
    }
    const int columns = sqlite3_column_count(statement);
    for (int c = 0; c < columns; ++c) {
        const char* name = sqlite3_column_name(statement, c);
        dataSet->addComn(name ? name : "");
    }
    int row = 0;
    while (sqlite3_step(statement) == SQLITE_ROW) {
        for (int c = 0; c < columns; ++c) {
            const auto* text = reinterpret_cast<const char*>(sqlite3_column_text(statement, c));
            if (text) {
                const std::string value(text);
                dataSet->setValue(row, c, isValidUtf8(value) ? value : std::string());
            }
        }
        ++row;
    }
    sqlite3_finalize(statement);
    dataSet->setStatus(0);
    dataSet->setRows(row);
    return columns > 0;
}

bool SqliteDataReader::setPassword(const std::optional<std::string>& password, int len) {
    m_password.fill('\0');
    if (password) {
        const std::size_t count =
            std::min({static_cast<std::size_t>(std::max(len, 0)), password->size(), m_password.size() - 1});
        std::memcpy(m_password.data(), password->data(), count);
    }
    m_passlen = len;
    return true;
}

bool SqliteDataReader::reSetPassword(const std::optional<std::string>& /*password*/, int /*len*/) {
    if (!m_isOpen) {
        open();
    }
    return true;
}

} // namespace lanyard
