#include "SqliteCacheDB.h"

#include <sqlite3.h>

#include "orvane/Exception.h"

namespace Orvane {
namespace System {
namespace {

// Page handlers and the background run write the same folder's file.
const int BUSY_TIMEOUT_MS = 5000;

const char* const THUMBNAILS = "thumbnails";
const char* const SLIDES = "slides";

const char* const SCHEMA =
    "CREATE TABLE IF NOT EXISTS thumbnails("
    " key TEXT PRIMARY KEY NOT NULL, stamp TEXT NOT NULL, data BLOB NOT NULL);"
    "CREATE TABLE IF NOT EXISTS slides("
    " key TEXT PRIMARY KEY NOT NULL, stamp TEXT NOT NULL, data BLOB NOT NULL);";

// One prepared statement, finalized on every way out.
class Statement {
public:
    Statement(sqlite3* db, const std::string& sql) {
        if (sqlite3_prepare_v2(db, sql.c_str(), -1, &m_stmt, nullptr) != SQLITE_OK)
            m_stmt = nullptr;
    }
    ~Statement() { sqlite3_finalize(m_stmt); }
    Statement(const Statement&) = delete;
    Statement& operator=(const Statement&) = delete;
    sqlite3_stmt* get() const { return m_stmt; }
    bool bindText(int index, const std::string& text) {
        return sqlite3_bind_text(m_stmt, index, text.data(), static_cast<int>(text.size()),
                                 SQLITE_TRANSIENT) == SQLITE_OK;
    }
    bool bindBlob(int index, const std::string& bytes) {
        return sqlite3_bind_blob(m_stmt, index, bytes.data(), static_cast<int>(bytes.size()),
                                 SQLITE_TRANSIENT) == SQLITE_OK;
    }

private:
    sqlite3_stmt* m_stmt = nullptr;
};

}  // namespace

SqliteCacheDB::SqliteCacheDB(const std::string& file) : m_file(file) {
    const int flags = SQLITE_OPEN_READWRITE | SQLITE_OPEN_CREATE | SQLITE_OPEN_NOMUTEX;
    if (sqlite3_open_v2(file.c_str(), &m_db, flags, nullptr) != SQLITE_OK) {
        const std::string text = m_db ? sqlite3_errmsg(m_db) : "out of memory";
        sqlite3_close(m_db);
        m_db = nullptr;
        throw Orvane::Exception("Cannot open the image cache " + file + ": " + text);
    }
    try {
        sqlite3_busy_timeout(m_db, BUSY_TIMEOUT_MS);
        exec("PRAGMA journal_mode=WAL");
        // A lost cache entry after a power cut is only drawn again.
        exec("PRAGMA synchronous=NORMAL");
        exec(SCHEMA);
    } catch (...) {
        sqlite3_close(m_db);
        m_db = nullptr;
        throw;
    }
}

SqliteCacheDB::~SqliteCacheDB() {
    sqlite3_close(m_db);
}

bool SqliteCacheDB::isThumbPresent(const std::string& key, const std::string& stamp) {
    return isPresent(THUMBNAILS, key, stamp);
}

bool SqliteCacheDB::getThumbImage(const std::string& key, std::string& data) {
    return get(THUMBNAILS, key, data);
}

bool SqliteCacheDB::addThumbImage(const std::string& key, const std::string& data,
                                  const std::string& stamp) {
    return add(THUMBNAILS, key, data, stamp);
}

bool SqliteCacheDB::deleteThumbImage(const std::string& key) {
    return remove(THUMBNAILS, key);
}

bool SqliteCacheDB::isSlidePresent(const std::string& key, const std::string& stamp) {
    return isPresent(SLIDES, key, stamp);
}

bool SqliteCacheDB::getSlideImage(const std::string& key, std::string& data) {
    return get(SLIDES, key, data);
}

bool SqliteCacheDB::addSlideImage(const std::string& key, const std::string& data,
                                  const std::string& stamp) {
    return add(SLIDES, key, data, stamp);
}

bool SqliteCacheDB::deleteSlideImage(const std::string& key) {
    return remove(SLIDES, key);
}

bool SqliteCacheDB::isPresent(const char* table, const std::string& key, const std::string& stamp) {
    std::lock_guard<std::mutex> lock(m_mutex);
    Statement stmt(m_db, std::string("SELECT 1 FROM ") + table + " WHERE key=?1 AND stamp=?2");
    if (!stmt.get() || !stmt.bindText(1, key) || !stmt.bindText(2, stamp))
        fail("look up");
    const int rc = sqlite3_step(stmt.get());
    if (rc != SQLITE_ROW && rc != SQLITE_DONE)
        fail("look up");
    return rc == SQLITE_ROW;
}

bool SqliteCacheDB::get(const char* table, const std::string& key, std::string& data) {
    std::lock_guard<std::mutex> lock(m_mutex);
    Statement stmt(m_db, std::string("SELECT data FROM ") + table + " WHERE key=?1");
    if (!stmt.get() || !stmt.bindText(1, key))
        fail("read");
    const int rc = sqlite3_step(stmt.get());
    if (rc == SQLITE_DONE)
        return false;
    if (rc != SQLITE_ROW)
        fail("read");
    const void* bytes = sqlite3_column_blob(stmt.get(), 0);
    const int length = sqlite3_column_bytes(stmt.get(), 0);
    data.assign(bytes ? static_cast<const char*>(bytes) : "", bytes ? length : 0);
    return true;
}

bool SqliteCacheDB::add(const char* table, const std::string& key, const std::string& data,
                        const std::string& stamp) {
    std::lock_guard<std::mutex> lock(m_mutex);
    Statement stmt(m_db, std::string("INSERT OR REPLACE INTO ") + table +
                             "(key, stamp, data) VALUES(?1, ?2, ?3)");
    if (!stmt.get() || !stmt.bindText(1, key) || !stmt.bindText(2, stamp) ||
        !stmt.bindBlob(3, data))
        fail("store");
    if (sqlite3_step(stmt.get()) != SQLITE_DONE)
        fail("store");
    return true;
}

bool SqliteCacheDB::remove(const char* table, const std::string& key) {
    std::lock_guard<std::mutex> lock(m_mutex);
    Statement stmt(m_db, std::string("DELETE FROM ") + table + " WHERE key=?1");
    if (!stmt.get() || !stmt.bindText(1, key))
        fail("delete");
    if (sqlite3_step(stmt.get()) != SQLITE_DONE)
        fail("delete");
    return true;
}

void SqliteCacheDB::exec(const char* sql) {
    char* error = nullptr;
    if (sqlite3_exec(m_db, sql, nullptr, nullptr, &error) != SQLITE_OK) {
        const std::string text = error ? error : sqlite3_errmsg(m_db);
        sqlite3_free(error);
        throw Orvane::Exception("Cannot prepare the image cache " + m_file + ": " + text);
    }
}

void SqliteCacheDB::fail(const std::string& what) const {
    throw Orvane::Exception("Cannot " + what + " in the image cache " + m_file + ": " +
                            sqlite3_errmsg(m_db));
}

}  // namespace System
}  // namespace Orvane
