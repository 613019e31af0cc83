// One SQLite file of the host kept in the loaded profile (guest users, short
// links). The connection opens on first use and is reopened when another
// profile has been loaded since, so a store never writes into a profile that
// is no longer the current one. Thread-safe; callers that need several
// statements to stay together lock the connection's mutex.
#pragma once

#include <memory>
#include <mutex>
#include <string>

#include "orvane/SqliteDB.h"

namespace Orvane {
namespace Misc {

class ProfileStore {
public:
    // schema: statements run on every open; they must be safe to repeat.
    ProfileStore(const std::string& fileName, const std::string& schema);

    // The connection for the profile loaded now. Throws Orvane::Exception
    // when no profile is loaded, SqliteException when the file is unusable.
    std::shared_ptr<SqliteDB> connection();

private:
    std::mutex m_mutex;
    std::string m_fileName;
    std::string m_schema;
    std::string m_root;
    std::shared_ptr<SqliteDB> m_db;
};

}  // namespace Misc
}  // namespace Orvane
