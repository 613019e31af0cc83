// Schema creation and upgrades, version bookkeeping, settings and the legacy
// user table of the share database.
#include <Poco/Logger.h>

#include "store/DapplineDB.h"

namespace Orvane {
namespace Dappline {
namespace {

const int CURRENT_VERSION = 5;

Poco::Logger& logger() {
    return Poco::Logger::get("Dappline");
}

void logError(const Misc::SqliteException& e) {
    logger().error(e.message());
}

const char* const CREATE_SHARE =
    "CREATE TABLE SHARE (SHAREID INTEGER primary key AUTOINCREMENT, SHARENAME TEXT, "
    "SHARELOCATION TEXT, VALIDITYPERIOD TEXT, VIEWMODE TEXT, SHARESIZELIMIT INTEGER DEFAULT 0, "
    "VIEWSIZE INTEGER DEFAULT 0, THUMBSIZE INTEGER DEFAULT 1, ALLOWPUBLICACCESS INTEGER DEFAULT "
    "0);";
const char* const CREATE_PERMISSION =
    "CREATE TABLE PERMISSION (ID INTEGER PRIMARY KEY AUTOINCREMENT, SHAREID INTEGER, USERID "
    "INTEGER, WRITEMODE INTEGER DEFAULT 0);";
const char* const CREATE_USER =
    "CREATE TABLE USER (USERID INTEGER primary key AUTOINCREMENT, USERNAME TEXT, USERPASSWORD "
    "TEXT);";
const char* const CREATE_HISTORY =
    "CREATE TABLE HISTORY (HISTORYID INTEGER primary key AUTOINCREMENT, SHAREID INTEGER, "
    "SHARELOCATION TEXT, DATE TEXT, FILESIZE INTEGER, USERID INTEGER, USERNAME TEXT, ISUPLOAD "
    "INTEGER DEFAULT 0);";
const char* const CREATE_PLUGIN_CONFIG =
    "CREATE TABLE PLUGIN_CONFIG (KEY TEXT, NAME TEXT, VALUE TEXT, PRIMARY KEY(KEY, NAME));";
const char* const CREATE_VERSION =
    "CREATE TABLE VERSION (VERSIONID INTEGER PRIMARY KEY, STATUS TEXT, NOTES TEXT);";

}  // namespace

bool DapplineDB::initDB() {
    try {
        if (!TableExists("SHARE", ""))
            execDML(CREATE_SHARE);
        if (!TableExists("PERMISSION", ""))
            execDML(CREATE_PERMISSION);
        if (TableExists("USER", ""))
            userTableFound = true;
        else
            execDML(CREATE_USER);
        if (!TableExists("HISTORY", ""))
            execDML(CREATE_HISTORY);
        if (TableExists("THUMBNAILCACHE", "")) {
            execDML("DROP TABLE THUMBNAILCACHE;");
            execDML("VACUUM;");
            execDML("PRAGMA wal_checkpoint(TRUNCATE);");
        }
        if (TableExists("VIEWIMAGECACHE", "")) {
            execDML("DROP TABLE VIEWIMAGECACHE");
            execDML("VACUUM;");
            execDML("PRAGMA wal_checkpoint(TRUNCATE);");
        }
        if (!TableExists("PLUGIN_CONFIG", ""))
            execDML(CREATE_PLUGIN_CONFIG);
        if (!TableExists("VERSION", "")) {
            execDML(CREATE_VERSION);
            setVersionInfo(CURRENT_VERSION, "OK", "");
        }
        const int version = doVersionUpdates();
        // After the upgrades: an old table gains ISUPLOAD there.
        createHistoryIndexes();
        return version == CURRENT_VERSION;
    } catch (const Misc::SqliteException& e) {
        logError(e);
        return false;
    }
}

namespace {

// One upgrade step: its statements in order, the first failure ending the
// step. A column that exists already makes its ALTER fail harmlessly, so the
// version is advanced either way.
void upgrade(DapplineDB& db, int to, const std::string& startLine,
             const std::vector<std::string>& statements) {
    logger().information(startLine);
    try {
        for (const auto& sql : statements)
            db.execDML(sql);
    } catch (...) {
        logger().information("Dappline Exception updating to version " + std::to_string(to) +
                             "...");
    }
    db.setVersionInfo(to, "OK", "Updated");
}

}  // namespace

int DapplineDB::doVersionUpdates() {
    struct Step {
        int from;
        const char* startLine;
        std::vector<std::string> statements;
    };
    static const Step steps[] = {
        {1,
         "Dappline Updaing DB Version...",
         {"Alter table PERMISSION ADD WRITEMODE INTEGER DEFAULT 0;",
          "ALTER TABLE HISTORY ADD ISUPLOAD INTEGER DEFAULT 0;"}},
        {2,
         "Dappline Updaing DB Version...3",
         {"Alter table SHARE ADD SHARESIZELIMIT INTEGER DEFAULT 0;"}},
        {3,
         "Dappline Updating DB Version...4",
         {"Alter table SHARE ADD THUMBSIZE INTEGER DEFAULT 1;",
          "Alter table SHARE ADD VIEWSIZE INTEGER DEFAULT 0;"}},
        {4,
         "Dappline Updaing DB Version...5",
         {"Alter table SHARE ADD ALLOWPUBLICACCESS INTEGER DEFAULT 0;"}},
    };
    std::string status, notes;
    int version = getVersionInfo(status, notes);
    logger().information("Dappline DB Version is at " + std::to_string(version));
    // Each step reads the version afresh: the one before may have moved it.
    for (const Step& step : steps) {
        if (version == step.from)
            upgrade(*this, step.from + 1, step.startLine, step.statements);
        version = getVersionInfo(status, notes);
    }
    return version;
}

int DapplineDB::getVersionInfo(std::string& status, std::string& notes) {
    Poco::Mutex::ScopedLock lock(m_mutex);
    try {
        Misc::SqliteRows rows = execQuery("select * from VERSION;");
        if (rows.empty())
            return -1;
        status = rows.front().getString("STATUS");
        notes = rows.front().getString("NOTES");
        return rows.front().getInt("VERSIONID");
    } catch (const Misc::SqliteException& e) {
        logError(e);
        return -1;
    }
}

void DapplineDB::setVersionInfo(int version, const std::string& status, const std::string& notes) {
    Poco::Mutex::ScopedLock lock(m_mutex);
    try {
        execDML("DELETE FROM VERSION;");
        execDML(format("INSERT INTO VERSION (VERSIONID, STATUS, NOTES) VALUES (%d, '%q', '%q');",
                       version, status.c_str(), notes.c_str()));
    } catch (const Misc::SqliteException& e) {
        logError(e);
    }
}

bool DapplineDB::doesConfigExist(const std::string& key, const std::string& name) {
    Poco::Mutex::ScopedLock lock(m_mutex);
    try {
        return !execQuery(format("select * from PLUGIN_CONFIG where KEY='%q'                       "
                                 "                         and NAME='%q';",
                                 key.c_str(), name.c_str()))
                    .empty();
    } catch (const Misc::SqliteException& e) {
        logError(e);
        return false;
    }
}

std::string DapplineDB::getConfigValue(const std::string& key, const std::string& name,
                                       const std::string& defaultValue) {
    Poco::Mutex::ScopedLock lock(m_mutex);
    try {
        Misc::SqliteRows rows =
            execQuery(format("select * from PLUGIN_CONFIG where KEY='%q' and NAME='%q';",
                             key.c_str(), name.c_str()));
        return rows.empty() ? defaultValue : rows.front().getString("VALUE");
    } catch (const Misc::SqliteException& e) {
        logError(e);
        return defaultValue;
    }
}

void DapplineDB::setConfigValue(const std::string& key, const std::string& name,
                                const std::string& value) {
    Poco::Mutex::ScopedLock lock(m_mutex);
    try {
        if (!doesConfigExist(key, name))
            execDML(
                format("insert into PLUGIN_CONFIG (KEY, NAME,                            "
                       "VALUE) values ('%q', '%q', '%q');",
                       key.c_str(), name.c_str(), value.c_str()));
        else
            execDML(
                format("update PLUGIN_CONFIG set VALUE='%q'                         where "
                       "KEY='%q' and NAME='%q';",
                       value.c_str(), key.c_str(), name.c_str()));
    } catch (const Misc::SqliteException& e) {
        logError(e);
    }
}

void DapplineDB::dropUserTable() {
    try {
        execDML("DROP TABLE USER;");
        execDML("VACUUM;");
        execDML("PRAGMA wal_checkpoint(TRUNCATE);");
    } catch (const Misc::SqliteException& e) {
        logError(e);
    }
}

void DapplineDB::updateUserIdsFromCore(int oldId, int newId) {
    try {
        execDML(format("UPDATE PERMISSION SET UserId = '%d' WHERE UserId='%d';", newId, oldId));
        execDML(format("UPDATE HISTORY SET UserId = '%d' WHERE UserId='%d';", newId, oldId));
    } catch (const Misc::SqliteException& e) {
        // Passed on: the legacy table must not be dropped after a failed
        // rewrite, or these rows would keep an id that now names someone else.
        logError(e);
        throw;
    }
}

void DapplineDB::userCollectionGet(std::list<DapplineUserPtr>& users) {
    Poco::Mutex::ScopedLock lock(m_mutex);
    try {
        for (const auto& row : execQuery("select * FROM USER ORDER BY USERNAME ASC;"))
            users.push_back(DapplineUserPtr(new DapplineUser(
                row.getInt("USERID"), row.getString("USERNAME"), row.getString("USERPASSWORD"))));
    } catch (const Misc::SqliteException& e) {
        // Passed on: an empty list would let the caller drop the table and
        // lose the users.
        logError(e);
        throw;
    }
}

}  // namespace Dappline
}  // namespace Orvane
