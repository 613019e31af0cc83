#include "orvane/SqliteDB.h"

#include <Poco/Logger.h>
#include <sqlite3.h>

#include <cstdarg>
#include <cstdlib>
#include <new>

namespace Orvane {
namespace Misc {
namespace {

const int BUSY_TIMEOUT_MS = 5000;

// Holds the connection's own mutex so that a statement and the error text
// it leaves behind belong together even when other threads share the handle.
class ConnectionLock {
public:
    explicit ConnectionLock(sqlite3* db) : m_mutex(sqlite3_db_mutex(db)) {
        sqlite3_mutex_enter(m_mutex);
    }
    ~ConnectionLock() { sqlite3_mutex_leave(m_mutex); }
    ConnectionLock(const ConnectionLock&) = delete;
    ConnectionLock& operator=(const ConnectionLock&) = delete;

private:
    sqlite3_mutex* m_mutex;
};

class Statement {
public:
    Statement(sqlite3* db, const std::string& sql) {
        if (sqlite3_prepare_v2(db, sql.c_str(), static_cast<int>(sql.size()), &m_stmt, nullptr) !=
            SQLITE_OK)
            throw SqliteException(sqlite3_errmsg(db));
    }
    ~Statement() { sqlite3_finalize(m_stmt); }
    Statement(const Statement&) = delete;
    Statement& operator=(const Statement&) = delete;
    sqlite3_stmt* get() const { return m_stmt; }

private:
    sqlite3_stmt* m_stmt = nullptr;
};

// A statement without a result set (an empty text or a lone comment) still
// has to run cleanly; step() returns SQLITE_DONE straight away for those.
bool stepRow(sqlite3* db, sqlite3_stmt* stmt) {
    if (!stmt)
        return false;
    const int rc = sqlite3_step(stmt);
    if (rc == SQLITE_ROW)
        return true;
    if (rc == SQLITE_DONE)
        return false;
    throw SqliteException(sqlite3_errmsg(db));
}

SqliteRow readRow(sqlite3_stmt* stmt) {
    SqliteRow row;
    const int columns = sqlite3_column_count(stmt);
    row.reserve(static_cast<std::size_t>(columns));
    for (int i = 0; i < columns; ++i) {
        const char* name = sqlite3_column_name(stmt, i);
        const bool null = sqlite3_column_type(stmt, i) == SQLITE_NULL;
        const unsigned char* text = sqlite3_column_text(stmt, i);
        const int bytes = sqlite3_column_bytes(stmt, i);
        row.set(name ? name : "",
                text ? std::string(reinterpret_cast<const char*>(text), bytes) : std::string(),
                null);
    }
    return row;
}

// Counts a statement that may have written once it has ended, however it
// ends.
class ChangeNote {
public:
    ChangeNote(std::atomic<std::uint64_t>& changes, bool writes)
        : m_changes(changes), m_writes(writes) {}
    ~ChangeNote() {
        if (m_writes)
            m_changes.fetch_add(1, std::memory_order_acq_rel);
    }
    ChangeNote(const ChangeNote&) = delete;
    ChangeNote& operator=(const ChangeNote&) = delete;

private:
    std::atomic<std::uint64_t>& m_changes;
    const bool m_writes;
};

// The row id of the last insert made through execDML by this thread. The
// connection's own value would report another thread's insert when two
// threads insert at nearly the same time.
struct LastInsert {
    const sqlite3* db = nullptr;
    std::int64_t rowId = 0;
};
thread_local LastInsert t_lastInsert;

}  // namespace

void SqliteRow::set(std::string column, std::string value, bool isNull) {
    for (Field& field : m_fields) {
        if (field.column == column) {
            field.value = std::move(value);
            field.isNull = isNull;
            return;
        }
    }
    m_fields.push_back(Field{std::move(column), std::move(value), isNull});
}

const SqliteRow::Field* SqliteRow::find(const std::string& column) const {
    for (const Field& field : m_fields) {
        if (field.column == column)
            return &field;
    }
    return nullptr;
}

std::string SqliteRow::getString(const std::string& column) const {
    const Field* field = find(column);
    if (!field || field->isNull)
        return std::string();
    return field->value;
}

std::int64_t SqliteRow::getInt64(const std::string& column) const {
    const Field* field = find(column);
    if (!field || field->isNull)
        return 0;
    return std::strtoll(field->value.c_str(), nullptr, 10);
}

int SqliteRow::getInt(const std::string& column) const {
    return static_cast<int>(getInt64(column));
}

bool SqliteRow::isNull(const std::string& column) const {
    const Field* field = find(column);
    return !field || field->isNull;
}

SqliteDB::SqliteDB() = default;

SqliteDB::~SqliteDB() {
    closeDB();
}

bool SqliteDB::openDB(const std::string& path, const std::string& key) {
    Poco::Mutex::ScopedLock lock(m_mutex);
    Poco::Logger& log = Poco::Logger::get("SqliteDB");
    if (!key.empty()) {
        log.error("Encrypted databases are not supported: " + path);
        return false;
    }
    closeDB();
    sqlite3* db = nullptr;
    const int flags = SQLITE_OPEN_FULLMUTEX | SQLITE_OPEN_READWRITE | SQLITE_OPEN_CREATE;
    if (sqlite3_open_v2(path.c_str(), &db, flags, nullptr) != SQLITE_OK) {
        log.error("Cannot open " + path + ": " + (db ? sqlite3_errmsg(db) : "out of memory"));
        sqlite3_close_v2(db);
        return false;
    }
    sqlite3_busy_timeout(db, BUSY_TIMEOUT_MS);
    // Every download writes a history row: with the write-ahead log a commit
    // no longer waits for the disk twice, and readers never block the writer.
    sqlite3_exec(db, "PRAGMA journal_mode=WAL; PRAGMA synchronous=NORMAL;", nullptr, nullptr,
                 nullptr);
    m_db = db;
    m_path = path;
    noteChange();
    try {
        return initDB();
    } catch (const SqliteException& e) {
        log.error("Initialising " + path + " failed: " + e.message());
        return false;
    }
}

void SqliteDB::closeDB() {
    Poco::Mutex::ScopedLock lock(m_mutex);
    if (!m_db)
        return;
    {
        ConnectionLock connection(m_db);
        for (auto& kept : m_prepared)
            sqlite3_finalize(kept.second);
        m_prepared.clear();
    }
    sqlite3_close_v2(m_db);
    m_db = nullptr;
    m_path.clear();
    noteChange();
}

std::string SqliteDB::format(const char* fmt, ...) {
    va_list args;
    va_start(args, fmt);
    char* text = sqlite3_vmprintf(fmt, args);
    va_end(args);
    if (!text)
        throw std::bad_alloc();
    std::string out(text);
    sqlite3_free(text);
    return out;
}

void SqliteDB::requireOpen() const {
    if (!m_db)
        throw SqliteException("Database is not open");
}

void SqliteDB::execDML(const std::string& sql) {
    requireOpen();
    ConnectionLock lock(m_db);
    ChangeNote note(m_changes, true);
    char* error = nullptr;
    if (sqlite3_exec(m_db, sql.c_str(), nullptr, nullptr, &error) != SQLITE_OK) {
        std::string message = error ? error : sqlite3_errmsg(m_db);
        sqlite3_free(error);
        throw SqliteException(message);
    }
    t_lastInsert.db = m_db;
    t_lastInsert.rowId = sqlite3_last_insert_rowid(m_db);
}

// The kept statement for sql, prepared on first use; the connection is held.
sqlite3_stmt* SqliteDB::preparedLocked(const std::string& sql) {
    sqlite3_stmt*& stmt = m_prepared[sql];
    if (!stmt && sqlite3_prepare_v2(m_db, sql.c_str(), static_cast<int>(sql.size()), &stmt,
                                    nullptr) != SQLITE_OK) {
        m_prepared.erase(sql);
        throw SqliteException(sqlite3_errmsg(m_db));
    }
    return stmt;
}

void SqliteDB::execPreparedEach(const std::string& sql,
                                const std::vector<std::vector<std::string>>& valueSets) {
    requireOpen();
    ConnectionLock lock(m_db);
    sqlite3_stmt* stmt = preparedLocked(sql);
    ChangeNote note(m_changes, true);
    const bool ownTransaction = sqlite3_get_autocommit(m_db) != 0;
    if (ownTransaction && sqlite3_exec(m_db, "BEGIN;", nullptr, nullptr, nullptr) != SQLITE_OK)
        throw SqliteException(sqlite3_errmsg(m_db));
    try {
        for (const std::vector<std::string>& values : valueSets) {
            sqlite3_reset(stmt);
            sqlite3_clear_bindings(stmt);
            for (std::size_t i = 0; i < values.size(); ++i) {
                if (sqlite3_bind_text(stmt, static_cast<int>(i + 1), values[i].data(),
                                      static_cast<int>(values[i].size()),
                                      SQLITE_TRANSIENT) != SQLITE_OK)
                    throw SqliteException(sqlite3_errmsg(m_db));
            }
            while (stepRow(m_db, stmt)) {
            }
        }
        sqlite3_reset(stmt);
        sqlite3_clear_bindings(stmt);
        if (ownTransaction && sqlite3_exec(m_db, "COMMIT;", nullptr, nullptr, nullptr) != SQLITE_OK)
            throw SqliteException(sqlite3_errmsg(m_db));
    } catch (...) {
        sqlite3_reset(stmt);
        sqlite3_clear_bindings(stmt);
        if (ownTransaction && sqlite3_get_autocommit(m_db) == 0)
            sqlite3_exec(m_db, "ROLLBACK;", nullptr, nullptr, nullptr);
        throw;
    }
}

SqliteRows SqliteDB::execPrepared(const std::string& sql, const std::vector<std::string>& values) {
    requireOpen();
    ConnectionLock lock(m_db);
    sqlite3_stmt* stmt = preparedLocked(sql);
    // Counted after the reset below has ended the statement.
    ChangeNote note(m_changes, sqlite3_stmt_readonly(stmt) == 0);
    // Reset however the rows below end, so the next caller starts afresh.
    struct Reset {
        sqlite3_stmt* stmt;
        ~Reset() {
            sqlite3_reset(stmt);
            sqlite3_clear_bindings(stmt);
        }
    } reset{stmt};
    for (std::size_t i = 0; i < values.size(); ++i) {
        if (sqlite3_bind_text(stmt, static_cast<int>(i + 1), values[i].data(),
                              static_cast<int>(values[i].size()), SQLITE_TRANSIENT) != SQLITE_OK)
            throw SqliteException(sqlite3_errmsg(m_db));
    }
    SqliteRows rows;
    while (stepRow(m_db, stmt))
        rows.push_back(readRow(stmt));
    return rows;
}

SqliteRows SqliteDB::execQuery(const std::string& sql) {
    requireOpen();
    ConnectionLock lock(m_db);
    Statement stmt(m_db, sql);
    ChangeNote note(m_changes, sqlite3_stmt_readonly(stmt.get()) == 0);
    SqliteRows rows;
    while (stepRow(m_db, stmt.get()))
        rows.push_back(readRow(stmt.get()));
    return rows;
}

std::int64_t SqliteDB::execScalar(const std::string& sql) {
    requireOpen();
    ConnectionLock lock(m_db);
    Statement stmt(m_db, sql);
    ChangeNote note(m_changes, sqlite3_stmt_readonly(stmt.get()) == 0);
    if (!stepRow(m_db, stmt.get()))
        return 0;
    return sqlite3_column_int64(stmt.get(), 0);
}

bool SqliteDB::TableExists(const std::string& table, const std::string& schema) {
    const std::string master = schema.empty() ? std::string("sqlite_master")
                                              : format("\"%w\".sqlite_master", schema.c_str());
    return execScalar(
               format("SELECT COUNT(*) FROM %s WHERE type='table' AND name='%q' COLLATE NOCASE;",
                      master.c_str(), table.c_str())) > 0;
}

std::int64_t SqliteDB::GetLastRowId() {
    requireOpen();
    if (t_lastInsert.db == m_db)
        return t_lastInsert.rowId;
    return sqlite3_last_insert_rowid(m_db);
}

}  // namespace Misc
}  // namespace Orvane
