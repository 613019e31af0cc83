#include "webdav/store/WebDAVPropertyStore.h"

#include "orvane/Exception.h"
#include "orvane/ProfileManager.h"

namespace Orvane {
namespace Host {

using Misc::SqliteDB;

namespace {

class Transaction {
public:
    explicit Transaction(SqliteDB& db) : m_db(db) { m_db.execDML("BEGIN IMMEDIATE;"); }
    ~Transaction() {
        if (!m_done) {
            try {
                m_db.execDML("ROLLBACK;");
            } catch (...) {
            }
        }
    }
    void commit() {
        m_db.execDML("COMMIT;");
        m_done = true;
    }

private:
    SqliteDB& m_db;
    bool m_done = false;
};

}  // namespace

WebDAVPropertyStore& WebDAVPropertyStore::instance() {
    static WebDAVPropertyStore store;
    return store;
}

SqliteDB& WebDAVPropertyStore::db() {
    const std::string file = API::ProfileManager::getProfileRootDir() + "/webdav.db";
    if (!m_db || m_file != file) {
        std::unique_ptr<SqliteDB> db(new SqliteDB());
        if (!db->openDB(file, ""))
            throw Orvane::Exception("cannot open " + file);
        db->execDML(
            "CREATE TABLE IF NOT EXISTS PROPS (PATH TEXT NOT NULL, NS TEXT NOT NULL, "
            "NAME TEXT NOT NULL, VALUE TEXT NOT NULL, PRIMARY KEY (PATH, NS, NAME));");
        m_db = std::move(db);
        m_file = file;
    }
    return *m_db;
}

// The path itself and everything below it, without LIKE's wildcards.
std::string WebDAVPropertyStore::treeClause(const std::string& path) {
    const std::string below = path + "/";
    return SqliteDB::format("(PATH = %Q OR substr(PATH, 1, %d) = %Q)", path.c_str(),
                            static_cast<int>(below.size()), below.c_str());
}

WebDAVPropertyStore::Properties WebDAVPropertyStore::list(const std::string& path) {
    std::lock_guard<std::mutex> guard(m_mutex);
    Properties out;
    for (const auto& row :
         db().execQuery(SqliteDB::format("SELECT * FROM PROPS WHERE PATH = %Q;", path.c_str()))) {
        out[PropName{row.getString("NS"), row.getString("NAME")}] = row.getString("VALUE");
    }
    return out;
}

std::map<std::string, WebDAVPropertyStore::Properties> WebDAVPropertyStore::listMembers(
    const std::string& folder) {
    std::lock_guard<std::mutex> guard(m_mutex);
    std::map<std::string, Properties> out;
    // Paths from folder + "/" up to folder + "0" ("/" + 1) take the key's
    // index; the last condition leaves out what lies deeper.
    const std::string below = folder + "/";
    const std::string after = folder + "0";
    for (const auto& row : db().execQuery(SqliteDB::format(
             "SELECT * FROM PROPS WHERE PATH > %Q AND PATH < %Q AND instr(substr(PATH, %d), "
             "'/') = 0;",
             below.c_str(), after.c_str(), static_cast<int>(below.size()) + 1))) {
        out[row.getString("PATH")][PropName{row.getString("NS"), row.getString("NAME")}] =
            row.getString("VALUE");
    }
    return out;
}

void WebDAVPropertyStore::apply(const std::string& path, const std::vector<Change>& changes) {
    std::lock_guard<std::mutex> guard(m_mutex);
    SqliteDB& store = db();
    Transaction t(store);
    for (const Change& c : changes) {
        if (c.remove) {
            store.execDML(
                SqliteDB::format("DELETE FROM PROPS WHERE PATH = %Q AND NS = %Q AND "
                                 "NAME = %Q;",
                                 path.c_str(), c.prop.ns.c_str(), c.prop.name.c_str()));
        } else {
            store.execDML(SqliteDB::format("INSERT OR REPLACE INTO PROPS VALUES (%Q, %Q, %Q, %Q);",
                                           path.c_str(), c.prop.ns.c_str(), c.prop.name.c_str(),
                                           c.value.c_str()));
        }
    }
    t.commit();
}

void WebDAVPropertyStore::removeTree(const std::string& path) {
    std::lock_guard<std::mutex> guard(m_mutex);
    db().execDML("DELETE FROM PROPS WHERE " + treeClause(path) + ";");
}

void WebDAVPropertyStore::moveTree(const std::string& from, const std::string& to) {
    std::lock_guard<std::mutex> guard(m_mutex);
    SqliteDB& store = db();
    Transaction t(store);
    store.execDML("DELETE FROM PROPS WHERE " + treeClause(to) + ";");
    store.execDML(SqliteDB::format("UPDATE PROPS SET PATH = %Q || substr(PATH, %d) WHERE ",
                                   to.c_str(), static_cast<int>(from.size()) + 1) +
                  treeClause(from) + ";");
    t.commit();
}

void WebDAVPropertyStore::copyTree(const std::string& from, const std::string& to) {
    std::lock_guard<std::mutex> guard(m_mutex);
    SqliteDB& store = db();
    Transaction t(store);
    store.execDML("DELETE FROM PROPS WHERE " + treeClause(to) + ";");
    store.execDML(SqliteDB::format("INSERT INTO PROPS SELECT %Q || substr(PATH, %d), NS, NAME, "
                                   "VALUE FROM PROPS WHERE ",
                                   to.c_str(), static_cast<int>(from.size()) + 1) +
                  treeClause(from) + ";");
    t.commit();
}

}  // namespace Host
}  // namespace Orvane
