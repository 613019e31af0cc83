// A thin wrapper over one SQLite connection: statements formatted with
// SQLite's own printf, rows read by column name, errors as SqliteException.
// The connection is opened in serialized mode, so statements may come from any
// thread; mutex() serialises multi-statement work that must not interleave.
#pragma once

#include <Poco/Mutex.h>
#include <atomic>
#include <cstdint>
#include <map>
#include <stdexcept>
#include <string>
#include <vector>

struct sqlite3;
struct sqlite3_stmt;

namespace Orvane {
namespace Misc {

class SqliteException : public std::runtime_error {
public:
    explicit SqliteException(const std::string& message) : std::runtime_error(message) {}
    std::string message() const { return what(); }
};

// One result row; a missing or NULL column reads "" or 0. A column set
// twice keeps its last value.
class SqliteRow {
public:
    void set(std::string column, std::string value, bool isNull);
    std::string getString(const std::string& column) const;
    int getInt(const std::string& column) const;
    std::int64_t getInt64(const std::string& column) const;
    bool isNull(const std::string& column) const;
    bool hasColumn(const std::string& column) const { return find(column) != nullptr; }
    void reserve(std::size_t columns) { m_fields.reserve(columns); }

private:
    struct Field {
        std::string column;
        std::string value;
        bool isNull;
    };
    const Field* find(const std::string& column) const;

    // A row has a handful of columns: a search of them beats a tree's nodes.
    std::vector<Field> m_fields;
};

typedef std::vector<SqliteRow> SqliteRows;

class SqliteDB {
public:
    SqliteDB();
    virtual ~SqliteDB();
    SqliteDB(const SqliteDB&) = delete;
    SqliteDB& operator=(const SqliteDB&) = delete;

    // Opens or creates the file, then calls initDB(). The key is reserved for
    // encrypted stores and must be empty. False when the file cannot be
    // opened or initDB() fails.
    bool openDB(const std::string& path, const std::string& key);
    void closeDB();
    bool isOpen() const { return m_db != nullptr; }
    const std::string& path() const { return m_path; }

    virtual bool initDB() { return true; }

    // sqlite3_mprintf: %q doubles quotes, %Q quotes or NULL, %d, %lld, %s, %%.
    static std::string format(const char* fmt, ...);

    // All throw SqliteException with SQLite's message.
    void execDML(const std::string& sql);
    SqliteRows execQuery(const std::string& sql);
    // The same, for a query asked again and again with other values: the
    // statement stays prepared on the connection (until closeDB) and the
    // values are bound as text to its ?1, ?2, ...
    SqliteRows execPrepared(const std::string& sql, const std::vector<std::string>& values);
    // A prepared statement run once per set of values, all in one
    // transaction (or in one the caller has open), with the connection held
    // throughout so that no other thread's statement lands in between; on an
    // error nothing of it stays (in a transaction of its own).
    void execPreparedEach(const std::string& sql,
                          const std::vector<std::vector<std::string>>& valueSets);
    // First column of the first row; 0 when there is no row.
    std::int64_t execScalar(const std::string& sql);
    bool TableExists(const std::string& table, const std::string& schema = "");
    std::int64_t GetLastRowId();

    // Poco::Mutex is recursive (FastMutex is the plain one).
    Poco::Mutex& mutex() { return m_mutex; }

    // Moves on after every statement run through this object that may have
    // written (and at open and close), never before it ends: a value read
    // before a query and found again afterwards means the query's rows are
    // still what the database holds, as far as this connection knows.
    std::uint64_t changeCount() const { return m_changes.load(std::memory_order_acquire); }

protected:
    sqlite3* handle() const { return m_db; }
    Poco::Mutex m_mutex;

private:
    void requireOpen() const;
    sqlite3_stmt* preparedLocked(const std::string& sql);
    void noteChange() { m_changes.fetch_add(1, std::memory_order_acq_rel); }

    sqlite3* m_db = nullptr;
    std::string m_path;
    // Guarded by the connection's own mutex.
    std::map<std::string, sqlite3_stmt*> m_prepared;
    std::atomic<std::uint64_t> m_changes{0};
};

}  // namespace Misc
}  // namespace Orvane
