// The dead properties that WebDAV clients set with PROPPATCH, kept in the
// profile's webdav.db by file-system path, and carried along when files are
// copied, moved or deleted. One store per process, opened on first use for
// the loaded profile. Thread-safe: SQLite in serialized mode, and one mutex
// around every change that spans several statements.
#pragma once

#include <map>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

#include "orvane/SqliteDB.h"
#include "webdav/WebDAVXml.h"

namespace Orvane {
namespace Host {

class WebDAVPropertyStore {
public:
    struct Change {
        PropName prop;
        bool remove = false;
        std::string value;  // inner XML
    };
    typedef std::map<PropName, std::string> Properties;

    static WebDAVPropertyStore& instance();

    Properties list(const std::string& path);
    // The properties of every member of `folder` (not deeper), by path, in
    // one query: a folder of many members is listed at once.
    std::map<std::string, Properties> listMembers(const std::string& folder);
    // All changes or none.
    void apply(const std::string& path, const std::vector<Change>& changes);
    void removeTree(const std::string& path);
    void moveTree(const std::string& from, const std::string& to);
    void copyTree(const std::string& from, const std::string& to);

private:
    Misc::SqliteDB& db();
    static std::string treeClause(const std::string& path);

    std::mutex m_mutex;
    std::unique_ptr<Misc::SqliteDB> m_db;
    std::string m_file;
};

}  // namespace Host
}  // namespace Orvane
