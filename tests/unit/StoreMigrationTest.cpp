// The plug-in's first start on a profile whose database still holds the
// legacy user table, and on a fresh profile.
#include <Poco/File.h>
#include <gtest/gtest.h>

#include "StoreTestSupport.h"
#include "core/DapplinePlugin.h"
#include "orvane/GuestUserManager.h"
#include "store/DapplineDB.h"

using Orvane::API::GuestUserManager;
using StoreTest::querySql;
using StoreTest::scalarSql;
using Strings = std::vector<std::string>;

namespace {

class StoreMigrationTest : public TestSupport::PluginFixture {
protected:
    StoreMigrationTest() { startPluginInSetUp = false; }
    std::string dbPath() const { return m_profileDir + "/plugindata/dapplinepro/dapplinepro.db"; }
    std::string userOf(const std::string& table, int shareId) {
        return scalarSql(dbPath(), "SELECT USERID FROM " + table +
                                       " WHERE SHAREID=" + std::to_string(shareId) + ";");
    }
};

// alice (old id 1) gets a new guest id 2, bob (old id 2) is guest 1 already:
// rewriting one user after the other must not hand alice's rows to bob.
TEST_F(StoreMigrationTest, LegacyUsersBecomeGuestUsers) {
    const int bobGuest = GuestUserManager::addGuestUser("bob", "guest-pw");
    ASSERT_EQ(1, bobGuest);
    Poco::File(m_profileDir + "/plugindata/dapplinepro").createDirectories();
    StoreTest::runSql(
        dbPath(),
        "CREATE TABLE SHARE (SHAREID INTEGER primary key AUTOINCREMENT, SHARENAME TEXT, "
        "SHARELOCATION TEXT, VALIDITYPERIOD TEXT, VIEWMODE TEXT, SHARESIZELIMIT INTEGER, VIEWSIZE "
        "INTEGER, THUMBSIZE INTEGER, ALLOWPUBLICACCESS INTEGER);"
        "CREATE TABLE PERMISSION (ID INTEGER PRIMARY KEY AUTOINCREMENT, SHAREID INTEGER, USERID "
        "INTEGER, WRITEMODE INTEGER);"
        "CREATE TABLE USER (USERID INTEGER primary key AUTOINCREMENT, USERNAME TEXT, USERPASSWORD "
        "TEXT);"
        "CREATE TABLE HISTORY (HISTORYID INTEGER primary key AUTOINCREMENT, SHAREID INTEGER, "
        "SHARELOCATION TEXT, DATE TEXT, FILESIZE INTEGER, USERID INTEGER, USERNAME TEXT, ISUPLOAD "
        "INTEGER);"
        "CREATE TABLE PLUGIN_CONFIG (KEY TEXT, NAME TEXT, VALUE TEXT, PRIMARY KEY(KEY, NAME));"
        "CREATE TABLE VERSION (VERSIONID INTEGER PRIMARY KEY, STATUS TEXT, NOTES TEXT);"
        "INSERT INTO VERSION VALUES (5, 'OK', '');"
        "INSERT INTO USER VALUES (1, 'alice', 'alice-pw');"
        "INSERT INTO USER VALUES (2, 'bob', 'bob-pw');"
        "INSERT INTO PERMISSION (SHAREID, USERID, WRITEMODE) VALUES (10, 1, 1);"
        "INSERT INTO PERMISSION (SHAREID, USERID, WRITEMODE) VALUES (20, 2, 0);"
        "INSERT INTO HISTORY (SHAREID, USERID, USERNAME, ISUPLOAD) VALUES (10, 1, 'alice', 0);"
        "INSERT INTO HISTORY (SHAREID, USERID, USERNAME, ISUPLOAD) VALUES (20, 2, 'bob', 1);"
        "INSERT INTO HISTORY (SHAREID, USERID, USERNAME, ISUPLOAD) VALUES (30, -1, '', 0);");

    startPlugin();

    const int aliceGuest = GuestUserManager::getGuestUserID("alice", "alice-pw");
    EXPECT_EQ(2, aliceGuest);
    EXPECT_EQ(bobGuest, GuestUserManager::getGuestUserID("bob", "bob-pw"))
        << "the legacy password replaces the guest's";
    EXPECT_EQ(-1, GuestUserManager::getGuestUserID("bob", "guest-pw"));
    GuestUserManager::GuestUserList guests;
    ASSERT_TRUE(GuestUserManager::guestUserCollectionGet(guests));
    EXPECT_EQ(2u, guests.size());

    EXPECT_EQ(std::to_string(aliceGuest), userOf("PERMISSION", 10));
    EXPECT_EQ(std::to_string(bobGuest), userOf("PERMISSION", 20));
    EXPECT_EQ("1", scalarSql(dbPath(), "SELECT WRITEMODE FROM PERMISSION WHERE SHAREID=10;"));
    EXPECT_EQ(std::to_string(aliceGuest), userOf("HISTORY", 10));
    EXPECT_EQ(std::to_string(bobGuest), userOf("HISTORY", 20));
    EXPECT_EQ("-1", userOf("HISTORY", 30));
    EXPECT_EQ("0", scalarSql(dbPath(), "SELECT COUNT(*) FROM sqlite_master WHERE name='USER';"));
    int userId = 0;
    EXPECT_TRUE(m_plugin->database()->checkCredentials(10, "alice:alice-pw", userId));
    EXPECT_EQ(aliceGuest, userId);
    EXPECT_FALSE(m_plugin->database()->checkCredentials(10, "bob:bob-pw", userId));
}

Strings tablesOf(const std::string& path) {
    Strings tables;
    for (const auto& row : querySql(path,
                                    "SELECT name FROM sqlite_master WHERE type='table' "
                                    "AND name NOT LIKE 'sqlite_%' ORDER BY name;"))
        tables.push_back(row.at(0));
    return tables;
}

TEST_F(StoreMigrationTest, FreshProfileGetsTheCurrentDatabase) {
    startPlugin();
    ASSERT_TRUE(Poco::File(dbPath()).exists());
    EXPECT_FALSE(m_plugin->database()->userTableFound);
    EXPECT_EQ((Strings{"HISTORY", "PERMISSION", "PLUGIN_CONFIG", "SHARE", "USER", "VERSION"}),
              tablesOf(dbPath()));
    EXPECT_EQ((Strings{"5", "OK", ""}), querySql(dbPath(), "SELECT * FROM VERSION;").at(0));
    // The next start finds the empty user table, moves nobody and drops it.
    stopPlugin();
    startPlugin();
    EXPECT_TRUE(m_plugin->database()->userTableFound);
    EXPECT_EQ((Strings{"HISTORY", "PERMISSION", "PLUGIN_CONFIG", "SHARE", "VERSION"}),
              tablesOf(dbPath()));
    GuestUserManager::GuestUserList guests;
    ASSERT_TRUE(GuestUserManager::guestUserCollectionGet(guests));
    EXPECT_TRUE(guests.empty());
}

}  // namespace
