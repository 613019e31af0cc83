// One picture folder's image cache file: the tables "thumbnails" and "slides"
// (key, stamp, data) in WAL mode, on one SQLite connection whose statements
// are prepared once, on first use, and kept until it closes. Any thread may
// call it: each call holds the object's mutex for its one statement, and the
// busy timeout covers a second connection to the same file.
#pragma once

#include <mutex>
#include <string>

#include "orvane/CacheDB.h"

struct sqlite3;
struct sqlite3_stmt;

namespace Orvane {
namespace System {

class SqliteCacheDB : public OrvaneCacheDB {
public:
    // Opens or creates the file and its tables; throws Orvane::Exception
    // with SQLite's text when it cannot.
    explicit SqliteCacheDB(const std::string& file);
    ~SqliteCacheDB() override;
    SqliteCacheDB(const SqliteCacheDB&) = delete;
    SqliteCacheDB& operator=(const SqliteCacheDB&) = delete;

    // Each throws Orvane::Exception when the statement fails; the result is
    // the answer itself (present, found, stored, deleted or already gone).
    bool readCurrentThumb(const std::string& key, const std::string& stamp,
                          const PictureSink& sink) override;
    bool readCurrentSlide(const std::string& key, const std::string& stamp,
                          const PictureSink& sink) override;

    bool isThumbPresent(const std::string& key, const std::string& stamp) override;
    bool getThumbImage(const std::string& key, std::string& data) override;
    bool addThumbImage(const std::string& key, const std::string& data,
                       const std::string& stamp) override;
    bool deleteThumbImage(const std::string& key) override;

    bool isSlidePresent(const std::string& key, const std::string& stamp) override;
    bool getSlideImage(const std::string& key, std::string& data) override;
    bool addSlideImage(const std::string& key, const std::string& data,
                       const std::string& stamp) override;
    bool deleteSlideImage(const std::string& key) override;

    const std::string& file() const { return m_file; }

private:
    enum Table { THUMBS, SLIDES, TABLES };
    enum Query { PRESENT, GET, CURRENT, ADD, REMOVE, QUERIES };

    bool isPresent(Table table, const std::string& key, const std::string& stamp);
    bool get(Table table, const std::string& key, std::string& data);
    bool readCurrent(Table table, const std::string& key, const std::string& stamp,
                     const PictureSink& sink);
    bool readBlob(Table table, Query query, const std::string& key, const std::string* stamp,
                  const PictureSink& sink);
    bool add(Table table, const std::string& key, const std::string& data,
             const std::string& stamp);
    bool remove(Table table, const std::string& key);
    // The kept statement, prepared on first use; call with m_mutex held.
    sqlite3_stmt* statement(Table table, Query query, const char* what);
    void exec(const char* sql);
    [[noreturn]] void fail(const std::string& what) const;

    std::string m_file;
    sqlite3* m_db = nullptr;
    sqlite3_stmt* m_statements[TABLES][QUERIES] = {};
    std::mutex m_mutex;
};

}  // namespace System
}  // namespace Orvane
