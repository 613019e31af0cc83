#include "ProfileStore.h"

#include <sys/stat.h>

#include "orvane/Exception.h"
#include "orvane/ProfileManager.h"

namespace Orvane {
namespace Misc {
namespace {

class SchemaDB : public SqliteDB {
public:
    explicit SchemaDB(const std::string& schema) : m_schema(schema) {}
    bool initDB() override {
        execDML(m_schema);
        return true;
    }

private:
    std::string m_schema;
};

}  // namespace

ProfileStore::ProfileStore(const std::string& fileName, const std::string& schema)
    : m_fileName(fileName), m_schema(schema) {}

std::shared_ptr<SqliteDB> ProfileStore::connection() {
    const std::string root = API::ProfileManager::getProfileRootDir();
    if (root.empty())
        throw Orvane::Exception("No profile is loaded");
    std::lock_guard<std::mutex> lock(m_mutex);
    if (m_db && m_root == root)
        return m_db;
    // Threads still holding the previous connection keep it until they finish.
    m_db.reset();
    m_root.clear();
    const std::string path = root + "/" + m_fileName;
    std::shared_ptr<SqliteDB> db = std::make_shared<SchemaDB>(m_schema);
    if (!db->openDB(path, ""))
        throw SqliteException("Cannot open " + path);
    // The stores hold password hashes and links; only the owner reads them.
    ::chmod(path.c_str(), 0600);
    m_db = db;
    m_root = root;
    return m_db;
}

}  // namespace Misc
}  // namespace Orvane
