#include "SqliteCacheDB.h"

#include <sqlite3.h>

#include "orvane/Exception.h"

namespace Orvane {
namespace System {
namespace {

// Page handlers and the background run write the same folder's file.
const int BUSY_TIMEOUT_MS = 5000;

const char* const SCHEMA =
    "CREATE TABLE IF NOT EXISTS thumbnails("
    " key TEXT PRIMARY KEY NOT NULL, stamp TEXT NOT NULL, data BLOB NOT NULL);"
    "CREATE TABLE IF NOT EXISTS slides("
    " key TEXT PRIMARY KEY NOT NULL, stamp TEXT NOT NULL, data BLOB NOT NULL);";

// By table, then by query, in the order of SqliteCacheDB's enums.
const char* const SQL[2][5] = {
    {"SELECT 1 FROM thumbnails WHERE key=?1 AND stamp=?2",
     "SELECT data FROM thumbnails WHERE key=?1",
     "SELECT data FROM thumbnails WHERE key=?1 AND stamp=?2",
     "INSERT OR REPLACE INTO thumbnails(key, stamp, data) VALUES(?1, ?2, ?3)",
     "DELETE FROM thumbnails WHERE key=?1"},
    {"SELECT 1 FROM slides WHERE key=?1 AND stamp=?2", "SELECT data FROM slides WHERE key=?1",
     "SELECT data FROM slides WHERE key=?1 AND stamp=?2",
     "INSERT OR REPLACE INTO slides(key, stamp, data) VALUES(?1, ?2, ?3)",
     "DELETE FROM slides WHERE key=?1"},
};

// One use of a kept statement: reset on every way out, so that it holds
// no read transaction open and no pointer to the caller's strings.
class Use {
public:
    explicit Use(sqlite3_stmt* stmt) : m_stmt(stmt) {}
    ~Use() {
        sqlite3_reset(m_stmt);
        sqlite3_clear_bindings(m_stmt);
    }
    Use(const Use&) = delete;
    Use& operator=(const Use&) = delete;
    sqlite3_stmt* get() const { return m_stmt; }
    // The bytes are the caller's and outlive the step (no copy).
    bool bindText(int index, const std::string& text) {
        return sqlite3_bind_text(m_stmt, index, text.data(), static_cast<int>(text.size()),
                                 SQLITE_STATIC) == SQLITE_OK;
    }
    bool bindBlob(int index, const std::string& bytes) {
        return sqlite3_bind_blob(m_stmt, index, bytes.data(), static_cast<int>(bytes.size()),
                                 SQLITE_STATIC) == SQLITE_OK;
    }

private:
    sqlite3_stmt* m_stmt;
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
    for (auto& table : m_statements) {
        for (sqlite3_stmt* stmt : table)
            sqlite3_finalize(stmt);
    }
    sqlite3_close(m_db);
}

bool SqliteCacheDB::readCurrentThumb(const std::string& key, const std::string& stamp,
                                     const PictureSink& sink) {
    return readCurrent(THUMBS, key, stamp, sink);
}

bool SqliteCacheDB::readCurrentSlide(const std::string& key, const std::string& stamp,
                                     const PictureSink& sink) {
    return readCurrent(SLIDES, key, stamp, sink);
}

bool SqliteCacheDB::isThumbPresent(const std::string& key, const std::string& stamp) {
    return isPresent(THUMBS, key, stamp);
}

bool SqliteCacheDB::getThumbImage(const std::string& key, std::string& data) {
    return get(THUMBS, key, data);
}

bool SqliteCacheDB::addThumbImage(const std::string& key, const std::string& data,
                                  const std::string& stamp) {
    return add(THUMBS, key, data, stamp);
}

bool SqliteCacheDB::deleteThumbImage(const std::string& key) {
    return remove(THUMBS, key);
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

sqlite3_stmt* SqliteCacheDB::statement(Table table, Query query, const char* what) {
    sqlite3_stmt*& stmt = m_statements[table][query];
    if (!stmt && sqlite3_prepare_v3(m_db, SQL[table][query], -1, SQLITE_PREPARE_PERSISTENT, &stmt,
                                    nullptr) != SQLITE_OK) {
        stmt = nullptr;
        fail(what);
    }
    return stmt;
}

bool SqliteCacheDB::isPresent(Table table, const std::string& key, const std::string& stamp) {
    std::lock_guard<std::mutex> lock(m_mutex);
    Use stmt(statement(table, PRESENT, "look up"));
    if (!stmt.bindText(1, key) || !stmt.bindText(2, stamp))
        fail("look up");
    const int rc = sqlite3_step(stmt.get());
    if (rc != SQLITE_ROW && rc != SQLITE_DONE)
        fail("look up");
    return rc == SQLITE_ROW;
}

bool SqliteCacheDB::get(Table table, const std::string& key, std::string& data) {
    return readBlob(table, GET, key, nullptr,
                    [&data](const char* bytes, std::size_t length) { data.assign(bytes, length); });
}

bool SqliteCacheDB::readCurrent(Table table, const std::string& key, const std::string& stamp,
                                const PictureSink& sink) {
    return readBlob(table, CURRENT, key, &stamp, sink);
}

// The first column's blob of the query's row, given to sink; false without
// a row. The stamp, when given, is the query's second value.
bool SqliteCacheDB::readBlob(Table table, Query query, const std::string& key,
                             const std::string* stamp, const PictureSink& sink) {
    std::lock_guard<std::mutex> lock(m_mutex);
    Use stmt(statement(table, query, "read"));
    if (!stmt.bindText(1, key) || (stamp && !stmt.bindText(2, *stamp)))
        fail("read");
    const int rc = sqlite3_step(stmt.get());
    if (rc == SQLITE_DONE)
        return false;
    if (rc != SQLITE_ROW)
        fail("read");
    const void* bytes = sqlite3_column_blob(stmt.get(), 0);
    const int length = sqlite3_column_bytes(stmt.get(), 0);
    sink(bytes ? static_cast<const char*>(bytes) : "",
         bytes ? static_cast<std::size_t>(length) : 0);
    return true;
}

bool SqliteCacheDB::add(Table table, const std::string& key, const std::string& data,
                        const std::string& stamp) {
    std::lock_guard<std::mutex> lock(m_mutex);
    Use stmt(statement(table, ADD, "store"));
    if (!stmt.bindText(1, key) || !stmt.bindText(2, stamp) || !stmt.bindBlob(3, data))
        fail("store");
    if (sqlite3_step(stmt.get()) != SQLITE_DONE)
        fail("store");
    return true;
}

bool SqliteCacheDB::remove(Table table, const std::string& key) {
    std::lock_guard<std::mutex> lock(m_mutex);
    Use stmt(statement(table, REMOVE, "delete"));
    if (!stmt.bindText(1, key))
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
