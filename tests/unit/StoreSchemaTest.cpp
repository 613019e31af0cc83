// Schema creation and upgrades of the share database on files built the way
// earlier releases left them, settings, and the legacy user table.
#include <Poco/File.h>
#include <gtest/gtest.h>

#include <algorithm>

#include "StoreTestSupport.h"
#include "store/DapplineDB.h"

using Orvane::Dappline::DapplineDB;
using Orvane::Dappline::DapplineUserPtr;
using StoreTest::columnNames;
using StoreTest::querySql;
using StoreTest::runSql;
using StoreTest::scalarSql;
using Strings = std::vector<std::string>;

namespace {

const char* const V1_TABLES =
    "CREATE TABLE SHARE (SHAREID INTEGER primary key AUTOINCREMENT, SHARENAME TEXT, "
    "SHARELOCATION TEXT, VALIDITYPERIOD TEXT, VIEWMODE TEXT);"
    "CREATE TABLE PERMISSION (ID INTEGER PRIMARY KEY AUTOINCREMENT, SHAREID INTEGER, USERID "
    "INTEGER);"
    "CREATE TABLE USER (USERID INTEGER primary key AUTOINCREMENT, USERNAME TEXT, USERPASSWORD "
    "TEXT);"
    "CREATE TABLE HISTORY (HISTORYID INTEGER primary key AUTOINCREMENT, SHAREID INTEGER, "
    "SHARELOCATION TEXT, DATE TEXT, FILESIZE INTEGER, USERID INTEGER, USERNAME TEXT);"
    "CREATE TABLE PLUGIN_CONFIG (KEY TEXT, NAME TEXT, VALUE TEXT, PRIMARY KEY(KEY, NAME));";
const char* const V1_ROWS =
    "INSERT INTO SHARE (SHARENAME, SHARELOCATION, VALIDITYPERIOD, VIEWMODE) VALUES ('Old', "
    "'/old', '', 'LIST');"
    "INSERT INTO PERMISSION (SHAREID, USERID) VALUES (1, 1);"
    "INSERT INTO HISTORY (SHAREID, SHARELOCATION, DATE, FILESIZE, USERID, USERNAME) VALUES (1, "
    "'/old/a', '2010-01-01 10:00:00', 10, 1, 'u');";
const char* const VERSION_TABLE =
    "CREATE TABLE VERSION (VERSIONID INTEGER PRIMARY KEY, STATUS TEXT, NOTES TEXT);";

const Strings SIX_TABLES = {"HISTORY", "PERMISSION", "PLUGIN_CONFIG", "SHARE", "USER", "VERSION"};

Strings withoutSequence(Strings names) {
    names.erase(std::remove(names.begin(), names.end(), "sqlite_sequence"), names.end());
    return names;
}

class StoreSchemaTest : public ::testing::Test {
protected:
    std::string path() const { return m_temp.path() + "/dapplinepro.db"; }
    bool open() { return m_db.openDB(path(), ""); }
    Strings versionRow() { return querySql(path(), "SELECT * FROM VERSION;").at(0); }

    TestSupport::TempDir m_temp;
    StoreTest::ScopedLogCapture m_log{"Dappline"};
    DapplineDB m_db;
};

TEST_F(StoreSchemaTest, NewFileGetsCurrentSchema) {
    ASSERT_TRUE(open());
    EXPECT_FALSE(m_db.userTableFound);
    EXPECT_EQ(SIX_TABLES, withoutSequence(StoreTest::tableNames(path())));
    EXPECT_EQ((Strings{"SHAREID", "SHARENAME", "SHARELOCATION", "VALIDITYPERIOD", "VIEWMODE",
                       "SHARESIZELIMIT", "VIEWSIZE", "THUMBSIZE", "ALLOWPUBLICACCESS"}),
              columnNames(path(), "SHARE"));
    EXPECT_EQ((Strings{"ID", "SHAREID", "USERID", "WRITEMODE"}), columnNames(path(), "PERMISSION"));
    EXPECT_EQ((Strings{"USERID", "USERNAME", "USERPASSWORD"}), columnNames(path(), "USER"));
    EXPECT_EQ((Strings{"HISTORYID", "SHAREID", "SHARELOCATION", "DATE", "FILESIZE", "USERID",
                       "USERNAME", "ISUPLOAD"}),
              columnNames(path(), "HISTORY"));
    EXPECT_EQ((Strings{"KEY", "NAME", "VALUE"}), columnNames(path(), "PLUGIN_CONFIG"));
    EXPECT_EQ((Strings{"VERSIONID", "STATUS", "NOTES"}), columnNames(path(), "VERSION"));
    EXPECT_EQ((Strings{"5", "OK", ""}), versionRow());
    EXPECT_EQ((Strings{"Dappline DB Version is at 5"}), m_log->lines());

    // The next start finds the (empty) user table made on the first.
    DapplineDB again;
    ASSERT_TRUE(again.openDB(path(), ""));
    EXPECT_TRUE(again.userTableFound);
}

TEST_F(StoreSchemaTest, VersionOneFileIsUpgradedToFive) {
    runSql(path(), std::string(V1_TABLES) + VERSION_TABLE + V1_ROWS +
                       "INSERT INTO VERSION VALUES (1, 'OK', '');");
    ASSERT_TRUE(open());
    EXPECT_TRUE(m_db.userTableFound);
    EXPECT_EQ((Strings{"5", "OK", "Updated"}), versionRow());
    EXPECT_EQ((Strings{"ID", "SHAREID", "USERID", "WRITEMODE"}), columnNames(path(), "PERMISSION"));
    EXPECT_EQ("0", scalarSql(path(), "SELECT WRITEMODE FROM PERMISSION;"));
    EXPECT_EQ("0", scalarSql(path(), "SELECT ISUPLOAD FROM HISTORY;"));
    auto share = m_db.getShare(1);
    ASSERT_TRUE(share);
    EXPECT_EQ("Old", share->shareName);
    EXPECT_EQ(0, share->shareSizeLimit);
    EXPECT_EQ(0, share->viewSize);
    EXPECT_EQ(1, share->thumbSize);
    EXPECT_EQ(0, share->allowPublicAccess);
    EXPECT_EQ((Strings{"Dappline DB Version is at 1", "Dappline Updaing DB Version...",
                       "Dappline Updaing DB Version...3", "Dappline Updating DB Version...4",
                       "Dappline Updaing DB Version...5"}),
              m_log->lines());
}

TEST_F(StoreSchemaTest, FailedAlterStillAdvancesTheVersion) {
    runSql(path(),
           std::string(VERSION_TABLE) +
               "CREATE TABLE SHARE (SHAREID INTEGER primary key AUTOINCREMENT, SHARENAME TEXT, "
               "SHARELOCATION TEXT, VALIDITYPERIOD TEXT, VIEWMODE TEXT, SHARESIZELIMIT INTEGER);"
               "INSERT INTO SHARE (SHARENAME, SHARELOCATION, SHARESIZELIMIT) VALUES ('S', '/s', "
               "512);"
               "INSERT INTO VERSION VALUES (2, 'OK', 'Updated');");
    ASSERT_TRUE(open());
    EXPECT_EQ(1u, m_log->countOf("Dappline Exception updating to version 3..."));
    EXPECT_EQ(0u, m_log->countOf("Dappline Exception updating to version 4..."));
    EXPECT_EQ((Strings{"5", "OK", "Updated"}), versionRow());
    auto share = m_db.getShareByName("S");
    ASSERT_TRUE(share);
    EXPECT_EQ(512, share->shareSizeLimit);
    EXPECT_EQ(1, share->thumbSize);
    EXPECT_EQ(9u, columnNames(path(), "SHARE").size());
}

TEST_F(StoreSchemaTest, OldImageCachesAreDropped) {
    runSql(path(),
           "CREATE TABLE THUMBNAILCACHE (K TEXT, D BLOB);"
           "CREATE TABLE VIEWIMAGECACHE (K TEXT, D BLOB);"
           "WITH RECURSIVE n(i) AS (SELECT 1 UNION ALL SELECT i+1 FROM n WHERE i<50) "
           "INSERT INTO THUMBNAILCACHE SELECT i, randomblob(8000) FROM n;"
           "INSERT INTO VIEWIMAGECACHE SELECT K, D FROM THUMBNAILCACHE;");
    const Poco::File::FileSize before = Poco::File(path()).getSize();
    ASSERT_TRUE(open());
    EXPECT_EQ(SIX_TABLES, withoutSequence(StoreTest::tableNames(path())));
    EXPECT_EQ("0", scalarSql(path(), "PRAGMA freelist_count;")) << "the file was vacuumed";
    EXPECT_LT(Poco::File(path()).getSize(), before / 4);
}

TEST_F(StoreSchemaTest, DataTablesWithoutVersionAreTakenAsCurrent) {
    runSql(path(), std::string(V1_TABLES) + V1_ROWS);
    ASSERT_TRUE(open());
    EXPECT_EQ((Strings{"5", "OK", ""}), versionRow());
    EXPECT_EQ((Strings{"Dappline DB Version is at 5"}), m_log->lines());
    EXPECT_EQ((Strings{"ID", "SHAREID", "USERID"}), columnNames(path(), "PERMISSION"))
        << "no upgrade runs on a file taken as current";
    EXPECT_TRUE(m_db.getShare(1));
}

TEST_F(StoreSchemaTest, EmptyVersionTableStaysUnknown) {
    runSql(path(), VERSION_TABLE);
    EXPECT_FALSE(open());
    std::string status = "before", notes = "before";
    EXPECT_EQ(-1, m_db.getVersionInfo(status, notes));
    EXPECT_EQ("before", status);
    EXPECT_EQ("before", notes);
    EXPECT_EQ(SIX_TABLES, withoutSequence(StoreTest::tableNames(path())));
}

TEST_F(StoreSchemaTest, VersionInfoRoundTrip) {
    ASSERT_TRUE(open());
    m_db.setVersionInfo(7, "it's", "n'1");
    std::string status, notes;
    EXPECT_EQ(7, m_db.getVersionInfo(status, notes));
    EXPECT_EQ("it's", status);
    EXPECT_EQ("n'1", notes);
    EXPECT_EQ("1", scalarSql(path(), "SELECT COUNT(*) FROM VERSION;"));
}

TEST_F(StoreSchemaTest, Settings) {
    ASSERT_TRUE(open());
    EXPECT_EQ("dflt", m_db.getConfigValue("GALLERY", "o'rder", "dflt"));
    EXPECT_FALSE(m_db.doesConfigExist("GALLERY", "o'rder"));
    m_db.setConfigValue("GALLERY", "o'rder", "first");
    m_db.setConfigValue("GALLERY", "o'rder", "last's");
    EXPECT_TRUE(m_db.doesConfigExist("GALLERY", "o'rder"));
    EXPECT_EQ("last's", m_db.getConfigValue("GALLERY", "o'rder", "dflt"));
    EXPECT_EQ("dflt", m_db.getConfigValue("GALLERY", "other", "dflt"));
    EXPECT_EQ("dflt", m_db.getConfigValue("OTHER", "o'rder", "dflt"));
    EXPECT_EQ("1", scalarSql(path(), "SELECT COUNT(*) FROM PLUGIN_CONFIG;"));
}

class StoreLegacyUsersTest : public StoreSchemaTest {
protected:
    // bob has the lower old id but sorts after alice.
    void SetUp() override {
        runSql(path(),
               std::string(V1_TABLES) + VERSION_TABLE +
                   "INSERT INTO VERSION VALUES (5, 'OK', '');"
                   "INSERT INTO USER (USERID, USERNAME, USERPASSWORD) VALUES (1, 'bob', 'b-pw');"
                   "INSERT INTO USER (USERID, USERNAME, USERPASSWORD) VALUES (2, 'alice', 'a-pw');"
                   "ALTER TABLE PERMISSION ADD WRITEMODE INTEGER DEFAULT 0;"
                   "ALTER TABLE HISTORY ADD ISUPLOAD INTEGER DEFAULT 0;"
                   "INSERT INTO PERMISSION (SHAREID, USERID) VALUES (10, 1);"
                   "INSERT INTO PERMISSION (SHAREID, USERID) VALUES (20, 2);"
                   "INSERT INTO HISTORY (SHAREID, USERID, USERNAME) VALUES (10, 1, 'bob');"
                   "INSERT INTO HISTORY (SHAREID, USERID, USERNAME) VALUES (20, 2, 'alice');"
                   "INSERT INTO HISTORY (SHAREID, USERID, USERNAME) VALUES (10, -1, '');");
        ASSERT_TRUE(open());
    }
    std::string userOf(const std::string& table, int shareId, const std::string& extra = "") {
        return scalarSql(path(), "SELECT USERID FROM " + table +
                                     " WHERE SHAREID=" + std::to_string(shareId) + extra + ";");
    }
};

TEST_F(StoreLegacyUsersTest, UsersReadInNameOrder) {
    EXPECT_TRUE(m_db.userTableFound);
    std::list<DapplineUserPtr> users;
    m_db.userCollectionGet(users);
    ASSERT_EQ(2u, users.size());
    EXPECT_EQ("alice", users.front()->userName);
    EXPECT_EQ(2, users.front()->id);
    EXPECT_EQ("a-pw", users.front()->password);
    EXPECT_EQ("bob", users.back()->userName);
}

TEST_F(StoreLegacyUsersTest, IdsRewrittenAndTableDropped) {
    m_db.updateUserIdsFromCore(1, 7);
    EXPECT_EQ("7", userOf("PERMISSION", 10));
    EXPECT_EQ("2", userOf("PERMISSION", 20));
    EXPECT_EQ("7", userOf("HISTORY", 10, " AND USERNAME='bob'"));
    EXPECT_EQ("2", userOf("HISTORY", 20));
    EXPECT_EQ("-1", userOf("HISTORY", 10, " AND USERNAME=''")) << "anonymous rows stay anonymous";
    m_db.dropUserTable();
    EXPECT_FALSE(m_db.TableExists("USER"));
    std::list<DapplineUserPtr> users;
    EXPECT_THROW(m_db.userCollectionGet(users), Orvane::Misc::SqliteException)
        << "a failed read must not look like an empty table";
}

TEST_F(StoreLegacyUsersTest, FailedRewriteIsPassedOn) {
    runSql(path(), "DROP TABLE HISTORY;");
    EXPECT_THROW(m_db.updateUserIdsFromCore(1, 7), Orvane::Misc::SqliteException);
    EXPECT_EQ("7", userOf("PERMISSION", 10)) << "the permission rewrite ran first";
}

}  // namespace
