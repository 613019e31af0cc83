#include "orvane/ShortURLManager.h"

#include <Poco/Logger.h>
#include <Poco/RandomStream.h>

#include <exception>

#include "ProfileStore.h"

namespace Orvane {
namespace Misc {
namespace {

const std::size_t CODE_LENGTH = 8;
const int MAX_CODE_ATTEMPTS = 32;
const char CODE_CHARS[] = "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789";

ProfileStore& store() {
    static ProfileStore s("shorturls.db",
                          "CREATE TABLE IF NOT EXISTS SHORTURL (CODE TEXT PRIMARY KEY NOT NULL, "
                          "PATH TEXT NOT NULL UNIQUE);");
    return s;
}

Poco::Logger& logger() {
    return Poco::Logger::get("ShortURLManager");
}

std::string randomCode() {
    Poco::RandomInputStream random;
    const unsigned alphabet = sizeof(CODE_CHARS) - 1;
    // Rejection keeps every character equally likely.
    const unsigned limit = 256 - 256 % alphabet;
    std::string code;
    while (code.size() < CODE_LENGTH) {
        const unsigned b = static_cast<unsigned char>(random.get());
        if (b < limit)
            code += CODE_CHARS[b % alphabet];
    }
    return code;
}

// The redirect answer carries the path in a header: refuse anything that is
// not a plain host path.
bool isHostPath(const std::string& path) {
    if (path.empty() || path[0] != '/')
        return false;
    for (unsigned char c : path)
        if (c < 0x20 || c == 0x7F)
            return false;
    return true;
}

bool findCode(SqliteDB& db, const std::string& path, std::string& code) {
    SqliteRows rows =
        db.execQuery(SqliteDB::format("SELECT CODE FROM SHORTURL WHERE PATH='%q';", path.c_str()));
    if (rows.empty())
        return false;
    code = rows.front().getString("CODE");
    return true;
}

bool codeTaken(SqliteDB& db, const std::string& code) {
    return db.execScalar(SqliteDB::format("SELECT COUNT(*) FROM SHORTURL WHERE CODE='%q';",
                                          code.c_str())) > 0;
}

}  // namespace

bool ShortURLManager::addShortURL(const std::string& path, std::string& code) {
    if (!isHostPath(path))
        return false;
    try {
        std::shared_ptr<SqliteDB> db = store().connection();
        Poco::Mutex::ScopedLock lock(db->mutex());
        if (findCode(*db, path, code))
            return true;
        for (int attempt = 0; attempt < MAX_CODE_ATTEMPTS; ++attempt) {
            const std::string candidate = randomCode();
            if (codeTaken(*db, candidate))
                continue;
            db->execDML(SqliteDB::format("INSERT INTO SHORTURL (CODE, PATH) VALUES ('%q', '%q');",
                                         candidate.c_str(), path.c_str()));
            code = candidate;
            return true;
        }
        logger().error("No free short code found for " + path);
    } catch (const std::exception& e) {
        logger().error(std::string("Registering a short link failed: ") + e.what());
    }
    return false;
}

bool ShortURLManager::deleteShortURL(const std::string& codeOrPath) {
    try {
        std::shared_ptr<SqliteDB> db = store().connection();
        Poco::Mutex::ScopedLock lock(db->mutex());
        const std::string where = SqliteDB::format("WHERE CODE='%q' OR PATH='%q';",
                                                   codeOrPath.c_str(), codeOrPath.c_str());
        if (db->execScalar("SELECT COUNT(*) FROM SHORTURL " + where) == 0)
            return false;
        db->execDML("DELETE FROM SHORTURL " + where);
        return true;
    } catch (const std::exception& e) {
        logger().error(std::string("Removing a short link failed: ") + e.what());
        return false;
    }
}

bool ShortURLManager::resolveShortURL(const std::string& code, std::string& path) {
    try {
        std::shared_ptr<SqliteDB> db = store().connection();
        SqliteRows rows = db->execQuery(
            SqliteDB::format("SELECT PATH FROM SHORTURL WHERE CODE='%q';", code.c_str()));
        if (rows.empty())
            return false;
        path = rows.front().getString("PATH");
        return true;
    } catch (const std::exception& e) {
        logger().error(std::string("Resolving a short link failed: ") + e.what());
        return false;
    }
}

}  // namespace Misc

Misc::ShortURLManager& ShortURLManager() {
    static Misc::ShortURLManager manager;
    return manager;
}

}  // namespace Orvane
