// The host's guest users, stored in the loaded profile: names, hashes of
// today's and of older rounds, verified passwords remembered until a change.
#include <Poco/DigestEngine.h>
#include <Poco/HMACEngine.h>
#include <Poco/PBKDF2Engine.h>
#include <Poco/SHA2Engine.h>
#include <gtest/gtest.h>

#include <thread>
#include <vector>

#include "StoreTestSupport.h"
#include "orvane/GuestUserManager.h"

using Orvane::API::GuestUserManager;

namespace {

// How rows were hashed before the rounds were raised: Poco's PBKDF2 engine,
// 20,000 rounds, the salt's hex text as the salt.
class SHA256Engine : public Poco::SHA2Engine {
public:
    enum { BLOCK_SIZE = 64, DIGEST_SIZE = 32 };
    SHA256Engine() : Poco::SHA2Engine(Poco::SHA2Engine::SHA_256) {}
};

std::string olderHash(const std::string& password, const std::string& salt) {
    Poco::PBKDF2Engine<Poco::HMACEngine<SHA256Engine>> hasher(salt, 20000, 32);
    hasher.update(password);
    return Poco::DigestEngine::digestToHex(hasher.digest());
}

class StoreGuestUsersTest : public StoreTest::ProfileTest {
protected:
    std::string dbPath() const { return m_profileDir + "/guestusers.db"; }
};

TEST_F(StoreGuestUsersTest, AddAndSignIn) {
    const int id = GuestUserManager::addGuestUser("alice", "s3cret pass");
    ASSERT_GT(id, 0);
    EXPECT_EQ(id, GuestUserManager::getGuestUserID("alice"));
    EXPECT_EQ(id, GuestUserManager::getGuestUserID("alice", "s3cret pass"));
    EXPECT_EQ(-1, GuestUserManager::getGuestUserID("alice", "s3cret pas"));
    EXPECT_EQ(-1, GuestUserManager::getGuestUserID("alice", ""));
    EXPECT_EQ(-1, GuestUserManager::getGuestUserID("Alice", "s3cret pass"));
    EXPECT_EQ(-1, GuestUserManager::getGuestUserID("bob"));
    EXPECT_EQ(-1, GuestUserManager::getGuestUserID("bob", "s3cret pass"));
    auto user = GuestUserManager::guestUserGet(id);
    ASSERT_TRUE(user);
    EXPECT_EQ("alice", user->getName());
    EXPECT_EQ("", user->getPassword());
    EXPECT_FALSE(GuestUserManager::guestUserGet(id + 100));
}

TEST_F(StoreGuestUsersTest, PasswordsAreSaltedHashesNeverClearText) {
    ASSERT_GT(GuestUserManager::addGuestUser("alice", "same-password-1"), 0);
    ASSERT_GT(GuestUserManager::addGuestUser("bob", "same-password-1"), 0);
    const std::string file = TestSupport::readFile(dbPath());
    EXPECT_EQ(std::string::npos, file.find("same-password-1"));
    auto rows = StoreTest::querySql(dbPath(), "SELECT SALT, HASH FROM GUESTUSER ORDER BY NAME;");
    ASSERT_EQ(2u, rows.size());
    EXPECT_NE(rows[0][0], rows[1][0]) << "each user has a salt of their own";
    EXPECT_NE(rows[0][1], rows[1][1]) << "equal passwords must not give equal hashes";
    EXPECT_EQ(64u, rows[0][1].size()) << "SHA-256 sized key, hex";
    EXPECT_EQ("600000", StoreTest::querySql(dbPath(), "SELECT ITERATIONS FROM GUESTUSER;")[0][0]);
}

TEST_F(StoreGuestUsersTest, OlderHashesStillSignInAndAreMadeAgain) {
    ASSERT_GT(GuestUserManager::addGuestUser("alice", "made today"), 0);
    const std::string salt = "0123456789abcdef0123456789abcdef";
    StoreTest::runSql(
        dbPath(), "INSERT INTO GUESTUSER (NAME, SALT, HASH, ITERATIONS) VALUES ('olga', '" + salt +
                      "', '" + olderHash("old secret", salt) + "', 20000);");
    EXPECT_EQ(-1, GuestUserManager::getGuestUserID("olga", "old secreT"));
    const auto before =
        StoreTest::querySql(dbPath(), "SELECT HASH, ITERATIONS FROM GUESTUSER WHERE NAME='olga';");
    ASSERT_EQ("20000", before[0][1]) << "a wrong password changes nothing";

    const int olga = GuestUserManager::getGuestUserID("olga", "old secret");
    ASSERT_GT(olga, 0);
    const auto after =
        StoreTest::querySql(dbPath(), "SELECT HASH, ITERATIONS FROM GUESTUSER WHERE NAME='olga';");
    EXPECT_EQ("600000", after[0][1]);
    EXPECT_NE(before[0][0], after[0][0]);
    GuestUserManager::setGuestUserPassword("alice", "forgets what was verified");
    EXPECT_EQ(olga, GuestUserManager::getGuestUserID("olga", "old secret"));
    EXPECT_EQ(-1, GuestUserManager::getGuestUserID("olga", "old secreT"));
}

TEST_F(StoreGuestUsersTest, AVerifiedPasswordCostsOneHashUntilItChanges) {
    const int ann = GuestUserManager::addGuestUser("ann", "thumbnails galore");
    ASSERT_GT(ann, 0);
    const auto hashes = [] { return GuestUserManager::passwordHashesComputed(); };
    const auto start = hashes();
    // A page and its thumbnails: many requests at once with the same Basic
    // credentials.
    std::vector<std::thread> requests;
    std::vector<int> ids(64, 0);
    for (std::size_t i = 0; i < ids.size(); ++i) {
        requests.emplace_back(
            [&ids, i] { ids[i] = GuestUserManager::getGuestUserID("ann", "thumbnails galore"); });
    }
    for (auto& t : requests)
        t.join();
    EXPECT_EQ(std::vector<int>(ids.size(), ann), ids);
    EXPECT_EQ(start + 1, hashes());

    // Wrong passwords and unknown names are never remembered, and cost a
    // hash each alike.
    EXPECT_EQ(-1, GuestUserManager::getGuestUserID("ann", "thumbnails"));
    EXPECT_EQ(-1, GuestUserManager::getGuestUserID("ann", "thumbnails"));
    EXPECT_EQ(-1, GuestUserManager::getGuestUserID("nobody", "thumbnails galore"));
    EXPECT_EQ(start + 4, hashes());

    ASSERT_TRUE(GuestUserManager::setGuestUserPassword("ann", "a new password"));
    EXPECT_EQ(-1, GuestUserManager::getGuestUserID("ann", "thumbnails galore"));
    EXPECT_EQ(ann, GuestUserManager::getGuestUserID("ann", "a new password"));
    EXPECT_EQ(ann, GuestUserManager::getGuestUserID("ann", "a new password"));
    EXPECT_EQ(start + 7, hashes());
    // Another process (the guest command) removes ann: what this one
    // remembers no longer counts.
    StoreTest::runSql(dbPath(), "DELETE FROM GUESTUSER WHERE NAME='ann';");
    EXPECT_EQ(-1, GuestUserManager::getGuestUserID("ann", "a new password"));
}

TEST(GuestPasswordRule, TenCharactersNotBytes) {
    EXPECT_FALSE(GuestUserManager::isLongEnough("123456789"));
    EXPECT_TRUE(GuestUserManager::isLongEnough("1234567890"));
    // Nine letters of two bytes each are still nine characters.
    EXPECT_FALSE(
        GuestUserManager::isLongEnough("\xC3\xA9\xC3\xA9\xC3\xA9\xC3\xA9\xC3\xA9"
                                       "\xC3\xA9\xC3\xA9\xC3\xA9\xC3\xA9"));
    EXPECT_NE(std::string::npos, GuestUserManager::passwordRule().find("10 characters"));
}

TEST_F(StoreGuestUsersTest, NamesAreUniqueAndChecked) {
    ASSERT_GT(GuestUserManager::addGuestUser("alice", "pw"), 0);
    EXPECT_EQ(-1, GuestUserManager::addGuestUser("alice", "other"));
    EXPECT_EQ(-1, GuestUserManager::addGuestUser("", "pw"));
    EXPECT_EQ(-1, GuestUserManager::addGuestUser("with:colon", "pw"));
    EXPECT_EQ(-1, GuestUserManager::addGuestUser(" padded", "pw"));
    EXPECT_EQ(-1, GuestUserManager::addGuestUser("line\nbreak", "pw"));
    EXPECT_EQ(-1, GuestUserManager::addGuestUser("nopassword", ""));
    EXPECT_GT(GuestUserManager::addGuestUser("O'Brien & <Co>", "pw"), 0);
    EXPECT_EQ(-1, GuestUserManager::getGuestUserID("alice", "other"));
}

TEST_F(StoreGuestUsersTest, ListRemoveAndPasswordChange) {
    ASSERT_GT(GuestUserManager::addGuestUser("carol", "pw"), 0);
    ASSERT_GT(GuestUserManager::addGuestUser("alice", "pw"), 0);
    ASSERT_GT(GuestUserManager::addGuestUser("bob", "pw"), 0);
    GuestUserManager::GuestUserList list;
    ASSERT_TRUE(GuestUserManager::guestUserCollectionGet(list));
    ASSERT_EQ(3u, list.size());
    EXPECT_EQ("alice", list[0]->getName());
    EXPECT_EQ("bob", list[1]->getName());
    EXPECT_EQ("carol", list[2]->getName());

    EXPECT_TRUE(GuestUserManager::setGuestUserPassword("bob", "new"));
    EXPECT_EQ(-1, GuestUserManager::getGuestUserID("bob", "pw"));
    EXPECT_GT(GuestUserManager::getGuestUserID("bob", "new"), 0);
    EXPECT_FALSE(GuestUserManager::setGuestUserPassword("nobody", "new"));

    EXPECT_TRUE(GuestUserManager::removeGuestUser("carol"));
    EXPECT_FALSE(GuestUserManager::removeGuestUser("carol"));
    EXPECT_EQ(-1, GuestUserManager::getGuestUserID("carol"));
}

TEST_F(StoreGuestUsersTest, StoreObjectSharesTheFile) {
    Orvane::Data::GuestUserManager store;
    Orvane::Data::GuestUser user("dave", "pw1");
    ASSERT_TRUE(store.guestUserAdd(user));
    EXPECT_GT(user.getId(), 0);
    EXPECT_EQ(user.getId(), GuestUserManager::getGuestUserID("dave", "pw1"));
    EXPECT_EQ(user.getId(), store.getGuestUserId("dave"));
    Orvane::Data::GuestUser duplicate("dave", "pw2");
    EXPECT_FALSE(store.guestUserAdd(duplicate));

    // Rename and new password.
    ASSERT_TRUE(store.guestUserUpdate(Orvane::Data::GuestUser(user.getId(), "david", "pw3")));
    EXPECT_EQ(-1, store.getGuestUserId("dave"));
    EXPECT_EQ(user.getId(), GuestUserManager::getGuestUserID("david", "pw3"));
    // A rename alone keeps the password.
    ASSERT_TRUE(store.guestUserUpdate(Orvane::Data::GuestUser(user.getId(), "dave", "")));
    EXPECT_EQ(user.getId(), GuestUserManager::getGuestUserID("dave", "pw3"));
    ASSERT_TRUE(store.guestUserGet(user.getId()));
    EXPECT_EQ("dave", store.guestUserGet(user.getId())->getName());
    EXPECT_FALSE(store.guestUserGet(user.getId() + 1));

    // Neither an unknown id nor another user's name.
    EXPECT_FALSE(store.guestUserUpdate(Orvane::Data::GuestUser(user.getId() + 50, "x", "y")));
    ASSERT_GT(GuestUserManager::addGuestUser("erin", "pw"), 0);
    EXPECT_FALSE(store.guestUserUpdate(Orvane::Data::GuestUser(user.getId(), "erin", "z")));
    EXPECT_EQ(user.getId(), GuestUserManager::getGuestUserID("dave", "pw3"));
}

TEST_F(StoreGuestUsersTest, FollowsTheLoadedProfile) {
    const int id = GuestUserManager::addGuestUser("alice", "pw");
    ASSERT_GT(id, 0);
    TestSupport::TempDir other;
    Orvane::API::ProfileManager::loadProfile(other.path() + "/profile");
    EXPECT_EQ(-1, GuestUserManager::getGuestUserID("alice"));
    EXPECT_GT(GuestUserManager::addGuestUser("alice", "elsewhere"), 0);
    Orvane::API::ProfileManager::loadProfile(m_profileDir);
    EXPECT_EQ(id, GuestUserManager::getGuestUserID("alice", "pw"));
    EXPECT_EQ(-1, GuestUserManager::getGuestUserID("alice", "elsewhere"));
    Orvane::API::ProfileManager::unloadProfile();
    EXPECT_EQ(-1, GuestUserManager::getGuestUserID("alice", "pw"));
    GuestUserManager::GuestUserList list;
    EXPECT_FALSE(GuestUserManager::guestUserCollectionGet(list));
}

}  // namespace
