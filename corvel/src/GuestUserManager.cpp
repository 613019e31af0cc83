#include "orvane/GuestUserManager.h"

#include <Poco/DigestEngine.h>
#include <Poco/Logger.h>
#include <Poco/RandomStream.h>
#include <openssl/crypto.h>
#include <openssl/evp.h>
#include <openssl/hmac.h>
#include <openssl/sha.h>

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <cstring>
#include <exception>
#include <functional>
#include <map>
#include <memory>
#include <mutex>

#include "ProfileStore.h"
#include "orvane/Exception.h"

namespace Orvane {
namespace {

using Misc::SqliteDB;
using Misc::SqliteRows;
typedef std::chrono::steady_clock Clock;

// New and changed passwords get this many rounds. Every row keeps the count
// it was made with, so older rows still sign in, and are made again with
// this count at their next correct sign-in.
const unsigned PBKDF2_ITERATIONS = 600000;
const unsigned SALT_BYTES = 16;
const unsigned KEY_BYTES = 32;
const std::size_t MAX_NAME_BYTES = 128;
// Basic credentials come with every request: a verified name and password
// are remembered this long, so that a page of thumbnails costs one hash.
const Clock::duration VERIFIED_FOR = std::chrono::minutes(10);
const std::size_t MAX_VERIFIED = 10000;
// Hashed for a name that does not exist, so that it costs what a wrong
// password costs.
const char* const UNKNOWN_NAME_SALT = "00000000000000000000000000000000";

std::atomic<std::uint64_t> g_hashes(0);

// The crypto library registers its exit handler when it starts. Started when
// this library loads, it ends only after the bus's worker threads, which are
// made later and stopped at exit too: each then releases its own per-thread
// state as it ends, instead of leaving it behind.
const int g_cryptoStarted = OPENSSL_init_crypto(OPENSSL_INIT_ADD_ALL_DIGESTS, nullptr);

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

std::string randomBytes(unsigned count) {
    Poco::RandomInputStream random;
    std::string bytes;
    for (unsigned i = 0; i < count; ++i)
        bytes += static_cast<char>(random.get());
    return bytes;
}

std::string hex(const unsigned char* bytes, std::size_t length) {
    return Poco::DigestEngine::digestToHex(Poco::DigestEngine::Digest(bytes, bytes + length));
}

std::string randomSalt() {
    const std::string bytes = randomBytes(SALT_BYTES);
    return hex(reinterpret_cast<const unsigned char*>(bytes.data()), bytes.size());
}

// HMAC-SHA256 keyed with the password, as the two hash states after the
// padded key; every HMAC under that key starts from copies of them.
struct HmacStates {
    explicit HmacStates(const std::string& password) {
        unsigned char key[SHA256_CBLOCK] = {0};
        if (password.size() > sizeof(key)) {
            SHA256(reinterpret_cast<const unsigned char*>(password.data()), password.size(), key);
        } else {
            std::memcpy(key, password.data(), password.size());
        }
        start(inner, key, 0x36);
        start(outer, key, 0x5c);
        OPENSSL_cleanse(key, sizeof(key));
    }
    ~HmacStates() {
        OPENSSL_cleanse(&inner, sizeof(inner));
        OPENSSL_cleanse(&outer, sizeof(outer));
    }
    static void start(SHA256_CTX& state, const unsigned char* key, unsigned char mask) {
        unsigned char pad[SHA256_CBLOCK];
        for (std::size_t i = 0; i < sizeof(pad); ++i)
            pad[i] = key[i] ^ mask;
        SHA256_Init(&state);
        SHA256_Update(&state, pad, sizeof(pad));
        OPENSSL_cleanse(pad, sizeof(pad));
    }
    SHA256_CTX inner, outer;
};

// PBKDF2-HMAC-SHA256 (one 32-byte block) of the password, the salt's text
// taken as its bytes (as the rows made before the rounds were raised were).
// The HMAC's inner and outer states are computed once and copied for every
// round, which makes each round two SHA-256 blocks: the fastest way there is,
// so the rounds cost a guesser no less than they cost us. (The library's own
// PBKDF2 takes twice as long here, and ten times as long in sanitized test
// builds, whose memcpy checks its per-round context copies.)
std::string hashPassword(const std::string& password, const std::string& salt, unsigned rounds) {
    if (rounds == 0)
        throw Orvane::Exception("PBKDF2 needs at least one round");
    const HmacStates hmac(password);
    const unsigned char blockIndex[4] = {0, 0, 0, 1};
    unsigned char u[SHA256_DIGEST_LENGTH], out[SHA256_DIGEST_LENGTH];
    SHA256_CTX round = hmac.inner;
    SHA256_Update(&round, salt.data(), salt.size());
    SHA256_Update(&round, blockIndex, sizeof(blockIndex));
    for (unsigned r = 0; r < rounds; ++r) {
        if (r > 0) {
            round = hmac.inner;
            SHA256_Update(&round, u, sizeof(u));
        }
        SHA256_Final(u, &round);
        round = hmac.outer;
        SHA256_Update(&round, u, sizeof(u));
        SHA256_Final(u, &round);
        for (std::size_t i = 0; i < sizeof(out); ++i)
            out[i] = r == 0 ? u[i] : out[i] ^ u[i];
    }
    ++g_hashes;
    return hex(out, sizeof(out));
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

// A guest whose password was checked, and the row's hash at the time.
struct Verified {
    int id = -1;
    std::string hash;
};

// The hash a user's row holds now, "" when there is no such row.
std::string storedHash(SqliteDB& db, int id) {
    SqliteRows rows = db.execQuery(SqliteDB::format("SELECT HASH FROM GUESTUSER WHERE ID=%d;", id));
    return rows.empty() ? std::string() : rows.front().getString("HASH");
}

// Credentials verified lately, keyed by an HMAC of name and password under a
// key that lives only in this process: neither the password nor anything
// that could be tested against guesses elsewhere is kept. Checks of the same
// credentials that arrive together (a page's thumbnails) wait for the first
// one instead of hashing again. Every change to the store, or another store
// (profile), forgets everything; and a remembered check counts only while
// the row still holds the hash it was made against, so that a password
// changed or a guest removed by another process (the guest command) is not
// honoured either. Thread-safe.
class VerifiedPasswords {
public:
    VerifiedPasswords() : m_key(randomBytes(KEY_BYTES)) {}

    // The id that `check` gives (or gave lately) for these credentials.
    int verify(const std::shared_ptr<SqliteDB>& db, const std::string& name,
               const std::string& password, const std::function<Verified()>& check) {
        const std::string key = keyOf(name, password);
        std::unique_lock<std::mutex> lock(m_mutex);
        follow(db);
        for (;;) {
            Verified known;
            if (cached(key, known)) {
                lock.unlock();
                if (storedHash(*db, known.id) == known.hash)
                    return known.id;
                lock.lock();
                m_entries.erase(key);
                continue;
            }
            auto running = m_flights.find(key);
            if (running == m_flights.end())
                break;
            const std::shared_ptr<Flight> flight = running->second;
            m_done.wait(lock, [&] { return flight->done; });
            if (flight->generation == m_generation)
                return flight->result.id;
        }
        auto flight = std::make_shared<Flight>();
        flight->generation = m_generation;
        m_flights[key] = flight;
        lock.unlock();
        Verified result;
        try {
            result = check();
        } catch (...) {
            finish(key, flight, Verified());
            throw;
        }
        finish(key, flight, result);
        return result.id;
    }

    void forgetAll() {
        std::lock_guard<std::mutex> lock(m_mutex);
        m_entries.clear();
        ++m_generation;
    }

private:
    struct Flight {
        bool done = false;
        Verified result;
        std::uint64_t generation = 0;
    };
    struct Entry {
        Verified verified;
        Clock::time_point until;
    };

    std::string keyOf(const std::string& name, const std::string& password) const {
        const std::string text = std::to_string(name.size()) + ":" + name + password;
        unsigned char mac[EVP_MAX_MD_SIZE];
        unsigned int length = 0;
        HMAC(EVP_sha256(), m_key.data(), static_cast<int>(m_key.size()),
             reinterpret_cast<const unsigned char*>(text.data()), text.size(), mac, &length);
        return std::string(reinterpret_cast<const char*>(mac), length);
    }

    // With m_mutex held: a connection to another file forgets everything.
    void follow(const std::shared_ptr<SqliteDB>& db) {
        if (m_store.lock() == db)
            return;
        m_store = db;
        m_entries.clear();
        ++m_generation;
    }

    // With m_mutex held.
    bool cached(const std::string& key, Verified& verified) {
        auto it = m_entries.find(key);
        if (it == m_entries.end())
            return false;
        if (it->second.until <= Clock::now()) {
            m_entries.erase(it);
            return false;
        }
        verified = it->second.verified;
        return true;
    }

    void finish(const std::string& key, const std::shared_ptr<Flight>& flight,
                const Verified& result) {
        std::lock_guard<std::mutex> lock(m_mutex);
        flight->result = result;
        flight->done = true;
        m_flights.erase(key);
        // A check that began before a change may have read the old row.
        if (result.id != -1 && flight->generation == m_generation)
            remember(key, result);
        m_done.notify_all();
    }

    // With m_mutex held.
    void remember(const std::string& key, const Verified& verified) {
        const Clock::time_point now = Clock::now();
        if (m_entries.size() >= MAX_VERIFIED) {
            for (auto it = m_entries.begin(); it != m_entries.end();)
                it = it->second.until <= now ? m_entries.erase(it) : std::next(it);
        }
        if (m_entries.size() >= MAX_VERIFIED)
            m_entries.clear();
        m_entries[key] = Entry{verified, now + VERIFIED_FOR};
    }

    const std::string m_key;
    std::mutex m_mutex;
    std::condition_variable m_done;
    std::weak_ptr<SqliteDB> m_store;
    std::map<std::string, Entry> m_entries;
    std::map<std::string, std::shared_ptr<Flight>> m_flights;
    std::uint64_t m_generation = 0;
};

VerifiedPasswords& verified() {
    static VerifiedPasswords v;
    return v;
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
    const int id = static_cast<int>(db->GetLastRowId());
    verified().forgetAll();
    return id;
}

void storePassword(SqliteDB& db, int id, const std::string& password) {
    const std::string salt = randomSalt();
    db.execDML(SqliteDB::format(
        "UPDATE GUESTUSER SET SALT='%q', HASH='%q', ITERATIONS=%u WHERE ID=%d;", salt.c_str(),
        hashPassword(password, salt, PBKDF2_ITERATIONS).c_str(), PBKDF2_ITERATIONS, id));
    verified().forgetAll();
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
    verified().forgetAll();
    if (!password.empty())
        storePassword(*db, id, password);
    return true;
}

// A row made with fewer rounds gets today's count, now that the password is
// at hand. Only while the row still holds the hash just checked, so that a
// new password set meanwhile is never overwritten.
void upgradeHash(SqliteDB& db, int id, const std::string& password, const std::string& oldHash) {
    try {
        const std::string salt = randomSalt();
        db.execDML(
            SqliteDB::format("UPDATE GUESTUSER SET SALT='%q', HASH='%q', ITERATIONS=%u "
                             "WHERE ID=%d AND HASH='%q';",
                             salt.c_str(), hashPassword(password, salt, PBKDF2_ITERATIONS).c_str(),
                             PBKDF2_ITERATIONS, id, oldHash.c_str()));
    } catch (const std::exception& e) {
        logFailure("Re-hashing a guest user's password", e);
    }
}

Verified checkPassword(SqliteDB& db, const std::string& name, const std::string& password) {
    SqliteRows rows = db.execQuery(SqliteDB::format(
        "SELECT ID, SALT, HASH, ITERATIONS FROM GUESTUSER WHERE NAME='%q';", name.c_str()));
    Verified verified;
    if (rows.empty()) {
        hashPassword(password, UNKNOWN_NAME_SALT, PBKDF2_ITERATIONS);
        return verified;
    }
    const Misc::SqliteRow& row = rows.front();
    const unsigned rounds = static_cast<unsigned>(row.getInt("ITERATIONS"));
    if (rounds == 0)
        return verified;
    verified.hash = row.getString("HASH");
    if (!sameHash(hashPassword(password, row.getString("SALT"), rounds), verified.hash))
        return Verified();
    verified.id = row.getInt("ID");
    if (rounds < PBKDF2_ITERATIONS) {
        upgradeHash(db, verified.id, password, verified.hash);
        verified.hash = storedHash(db, verified.id);
    }
    return verified;
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
    if (password.empty())
        return -1;
    try {
        std::shared_ptr<SqliteDB> db = store().connection();
        return verified().verify(db, name, password,
                                 [&] { return checkPassword(*db, name, password); });
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
        verified().forgetAll();
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

const std::size_t GuestUserManager::MIN_PASSWORD_CHARACTERS;

bool GuestUserManager::isLongEnough(const std::string& password) {
    std::size_t characters = 0;
    for (unsigned char c : password) {
        if ((c & 0xC0) != 0x80)  // not a UTF-8 continuation byte
            ++characters;
    }
    return characters >= MIN_PASSWORD_CHARACTERS;
}

std::string GuestUserManager::passwordRule() {
    return "A guest's password needs at least " + std::to_string(MIN_PASSWORD_CHARACTERS) +
           " characters.";
}

std::uint64_t GuestUserManager::passwordHashesComputed() {
    return g_hashes.load();
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
