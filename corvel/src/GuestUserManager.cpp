#include "orvane/GuestUserManager.h"

#include <Poco/DigestEngine.h>
#include <Poco/HMACEngine.h>
#include <Poco/Logger.h>
#include <Poco/PBKDF2Engine.h>
#include <Poco/RandomStream.h>
#include <Poco/SHA2Engine.h>

#include <exception>

#include "ProfileStore.h"

namespace Orvane {
namespace {

using Misc::SqliteDB;
using Misc::SqliteRows;

// Raise for new hashes at will: every row keeps the count it was made with.
const unsigned PBKDF2_ITERATIONS = 20000;
const unsigned SALT_BYTES = 16;
const std::size_t MAX_NAME_BYTES = 128;

// HMACEngine needs the block and digest sizes as constants, which this
// Poco's SHA2Engine does not declare.
class SHA256Engine : public Poco::SHA2Engine {
public:
    enum { BLOCK_SIZE = 64, DIGEST_SIZE = 32 };
    SHA256Engine() : Poco::SHA2Engine(Poco::SHA2Engine::SHA_256) {}
};

typedef Poco::PBKDF2Engine<Poco::HMACEngine<SHA256Engine>> PasswordHasher;

Misc::ProfileStore& store() {
    static Misc::ProfileStore s("guestusers.db",
                                "CREATE TABLE IF NOT EXISTS GUESTUSER (ID INTEGER PRIMARY KEY "
                                "AUTOINCREMENT, NAME TEXT NOT NULL UNIQUE, SALT TEXT NOT NULL, "
                                "HASH TEXT NOT NULL, ITERATIONS INTEGER NOT NULL);");
    return s;
}

Poco::Logger& logger() {
    return Poco::Logger::get("GuestUserManager");
}

void logFailure(const std::string& what, const std::exception& e) {
    logger().error(what + " failed: " + e.what());
}

std::string randomSalt() {
    Poco::RandomInputStream random;
    Poco::DigestEngine::Digest bytes;
    for (unsigned i = 0; i < SALT_BYTES; ++i)
        bytes.push_back(static_cast<unsigned char>(random.get()));
    return Poco::DigestEngine::digestToHex(bytes);
}

std::string hashPassword(const std::string& password, const std::string& salt, unsigned rounds) {
    PasswordHasher hasher(salt, rounds, 32);
    hasher.update(password);
    return Poco::DigestEngine::digestToHex(hasher.digest());
}

// Compares without an early exit so the time taken says nothing about how
// much of a guessed hash was right.
bool sameHash(const std::string& a, const std::string& b) {
    if (a.size() != b.size())
        return false;
    unsigned char diff = 0;
    for (std::size_t i = 0; i < a.size(); ++i)
        diff |= static_cast<unsigned char>(a[i] ^ b[i]);
    return diff == 0;
}

// What any stored name must satisfy.
bool storableName(const std::string& name) {
    if (name.empty() || name.size() > MAX_NAME_BYTES)
        return false;
    for (unsigned char c : name)
        if (c < 0x20 || c == 0x7F)
            return false;
    return true;
}

// New names from the host's own tools are held to more: a name with a colon
// could never sign in (credentials are "name:password"), and surrounding
// blanks are invisible on every screen.
bool validNewName(const std::string& name) {
    if (!storableName(name) || name.find(':') != std::string::npos)
        return false;
    return name.front() != ' ' && name.back() != ' ';
}

int findId(SqliteDB& db, const std::string& name) {
    SqliteRows rows =
        db.execQuery(SqliteDB::format("SELECT ID FROM GUESTUSER WHERE NAME='%q';", name.c_str()));
    return rows.empty() ? -1 : rows.front().getInt("ID");
}

int insertUser(const std::string& name, const std::string& password) {
    std::shared_ptr<SqliteDB> db = store().connection();
    Poco::Mutex::ScopedLock lock(db->mutex());
    if (findId(*db, name) >= 0)
        return -1;
    const std::string salt = randomSalt();
    db->execDML(SqliteDB::format(
        "INSERT INTO GUESTUSER (NAME, SALT, HASH, ITERATIONS) VALUES ('%q', '%q', '%q', %u);",
        name.c_str(), salt.c_str(), hashPassword(password, salt, PBKDF2_ITERATIONS).c_str(),
        PBKDF2_ITERATIONS));
    return static_cast<int>(db->GetLastRowId());
}

void storePassword(SqliteDB& db, int id, const std::string& password) {
    const std::string salt = randomSalt();
    db.execDML(SqliteDB::format(
        "UPDATE GUESTUSER SET SALT='%q', HASH='%q', ITERATIONS=%u WHERE ID=%d;", salt.c_str(),
        hashPassword(password, salt, PBKDF2_ITERATIONS).c_str(), PBKDF2_ITERATIONS, id));
}

// An empty password keeps the stored one, so a rename alone does not lock
// the user out.
bool updateUser(int id, const std::string& name, const std::string& password) {
    std::shared_ptr<SqliteDB> db = store().connection();
    Poco::Mutex::ScopedLock lock(db->mutex());
    if (db->execScalar(SqliteDB::format("SELECT COUNT(*) FROM GUESTUSER WHERE ID=%d;", id)) == 0)
        return false;
    const int holder = findId(*db, name);
    if (holder >= 0 && holder != id)
        return false;
    db->execDML(SqliteDB::format("UPDATE GUESTUSER SET NAME='%q' WHERE ID=%d;", name.c_str(), id));
    if (!password.empty())
        storePassword(*db, id, password);
    return true;
}

int checkPassword(const std::string& name, const std::string& password) {
    if (password.empty())
        return -1;
    std::shared_ptr<SqliteDB> db = store().connection();
    SqliteRows rows = db->execQuery(SqliteDB::format(
        "SELECT ID, SALT, HASH, ITERATIONS FROM GUESTUSER WHERE NAME='%q';", name.c_str()));
    if (rows.empty())
        return -1;
    const Misc::SqliteRow& row = rows.front();
    const unsigned rounds = static_cast<unsigned>(row.getInt("ITERATIONS"));
    if (rounds == 0)
        return -1;
    const std::string hash = hashPassword(password, row.getString("SALT"), rounds);
    return sameHash(hash, row.getString("HASH")) ? row.getInt("ID") : -1;
}

boost::shared_ptr<Data::GuestUser> readUser(int id) {
    std::shared_ptr<SqliteDB> db = store().connection();
    SqliteRows rows =
        db->execQuery(SqliteDB::format("SELECT ID, NAME FROM GUESTUSER WHERE ID=%d;", id));
    if (rows.empty())
        return boost::shared_ptr<Data::GuestUser>();
    return boost::shared_ptr<Data::GuestUser>(
        new Data::GuestUser(rows.front().getInt("ID"), rows.front().getString("NAME"), ""));
}

int lookupId(const std::string& name) {
    std::shared_ptr<SqliteDB> db = store().connection();
    return findId(*db, name);
}

}  // namespace

namespace API {

int GuestUserManager::getGuestUserID(const std::string& name) {
    try {
        return lookupId(name);
    } catch (const std::exception& e) {
        logFailure("Looking up a guest user", e);
        return -1;
    }
}

int GuestUserManager::getGuestUserID(const std::string& name, const std::string& password) {
    try {
        return checkPassword(name, password);
    } catch (const std::exception& e) {
        logFailure("Checking a guest user's password", e);
        return -1;
    }
}

boost::shared_ptr<Data::GuestUser> GuestUserManager::guestUserGet(int id) {
    try {
        return readUser(id);
    } catch (const std::exception& e) {
        logFailure("Reading a guest user", e);
        return boost::shared_ptr<Data::GuestUser>();
    }
}

bool GuestUserManager::guestUserCollectionGet(GuestUserList& list) {
    try {
        std::shared_ptr<SqliteDB> db = store().connection();
        for (const auto& row : db->execQuery("SELECT ID, NAME FROM GUESTUSER ORDER BY NAME;"))
            list.push_back(boost::shared_ptr<Data::GuestUser>(
                new Data::GuestUser(row.getInt("ID"), row.getString("NAME"), "")));
        return true;
    } catch (const std::exception& e) {
        logFailure("Listing the guest users", e);
        return false;
    }
}

int GuestUserManager::addGuestUser(const std::string& name, const std::string& password) {
    if (!validNewName(name) || password.empty())
        return -1;
    try {
        return insertUser(name, password);
    } catch (const std::exception& e) {
        logFailure("Adding a guest user", e);
        return -1;
    }
}

bool GuestUserManager::removeGuestUser(const std::string& name) {
    try {
        std::shared_ptr<SqliteDB> db = store().connection();
        Poco::Mutex::ScopedLock lock(db->mutex());
        if (findId(*db, name) < 0)
            return false;
        db->execDML(SqliteDB::format("DELETE FROM GUESTUSER WHERE NAME='%q';", name.c_str()));
        return true;
    } catch (const std::exception& e) {
        logFailure("Removing a guest user", e);
        return false;
    }
}

bool GuestUserManager::setGuestUserPassword(const std::string& name, const std::string& password) {
    if (password.empty())
        return false;
    try {
        std::shared_ptr<SqliteDB> db = store().connection();
        Poco::Mutex::ScopedLock lock(db->mutex());
        const int id = findId(*db, name);
        if (id < 0)
            return false;
        storePassword(*db, id, password);
        return true;
    } catch (const std::exception& e) {
        logFailure("Changing a guest user's password", e);
        return false;
    }
}

}  // namespace API

namespace Data {

boost::shared_ptr<GuestUser> GuestUserManager::guestUserGet(int id) {
    return API::GuestUserManager::guestUserGet(id);
}

int GuestUserManager::getGuestUserId(const std::string& name) {
    return API::GuestUserManager::getGuestUserID(name);
}

bool GuestUserManager::guestUserAdd(GuestUser& user) {
    if (!storableName(user.getName()))
        return false;
    try {
        const int id = insertUser(user.getName(), user.getPassword());
        if (id < 0)
            return false;
        user.setId(id);
        return true;
    } catch (const std::exception& e) {
        logFailure("Adding a guest user", e);
        return false;
    }
}

bool GuestUserManager::guestUserUpdate(const GuestUser& user) {
    if (!storableName(user.getName()))
        return false;
    try {
        return updateUser(user.getId(), user.getName(), user.getPassword());
    } catch (const std::exception& e) {
        logFailure("Updating a guest user", e);
        return false;
    }
}

}  // namespace Data
}  // namespace Orvane
