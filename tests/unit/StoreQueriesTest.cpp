// Queries of the share database on shares, permissions and history, with
// real guest users in a temporary profile.
#include <Poco/DateTime.h>
#include <Poco/DateTimeFormat.h>
#include <Poco/DateTimeFormatter.h>
#include <Poco/Timespan.h>
#include <gtest/gtest.h>

#include <chrono>
#include <regex>
#include <thread>

#include "StoreTestSupport.h"
#include "orvane/GuestUserManager.h"
#include "store/DapplineDB.h"

using Orvane::API::GuestUserManager;
using Orvane::Dappline::Dappline;
using Orvane::Dappline::DapplineDB;
using Orvane::Dappline::DapplineHistory;
using Orvane::Dappline::DapplinePtr;

namespace {

std::string sortable(const Poco::Timespan& fromNow) {
    Poco::DateTime when;
    when += fromNow;
    return Poco::DateTimeFormatter::format(when, Poco::DateTimeFormat::SORTABLE_FORMAT);
}

std::size_t occurrences(const std::string& text, const std::string& piece) {
    std::size_t n = 0;
    for (auto pos = text.find(piece); pos != std::string::npos; pos = text.find(piece, pos + 1))
        ++n;
    return n;
}

class StoreQueriesTest : public StoreTest::ProfileTest {
protected:
    void SetUp() override {
        ProfileTest::SetUp();
        m_dbPath = m_temp->path() + "/dapplinepro.db";
        ASSERT_TRUE(m_db.openDB(m_dbPath, ""));
    }
    void TearDown() override {
        m_db.closeDB();
        ProfileTest::TearDown();
    }
    Dappline add(const std::string& name, const std::string& location, int publicAccess = 0,
                 const std::string& validity = "") {
        Dappline share(name, location, "LIST", validity, 0, 0, 1, publicAccess);
        EXPECT_TRUE(m_db.addShare(share)) << name;
        return share;
    }
    std::string count(const std::string& table) {
        return StoreTest::scalarSql(m_dbPath, "SELECT COUNT(*) FROM " + table + ";");
    }

    std::string m_dbPath;
    DapplineDB m_db;
};

TEST_F(StoreQueriesTest, AddShareRefusesDuplicates) {
    Dappline first = add("Photos", "/data/Photos");
    EXPECT_GT(first.shareId, 0);
    Dappline sameName("Photos", "/data/Other", "", "", 0, 0, 1, 0);
    EXPECT_FALSE(m_db.addShare(sameName));
    EXPECT_EQ(0, sameName.shareId);
    Dappline sameLocation("Other", "/data/Photos", "", "", 0, 0, 1, 0);
    EXPECT_FALSE(m_db.addShare(sameLocation));
    EXPECT_EQ(0, sameLocation.shareId);
    EXPECT_EQ("1", count("SHARE"));
    // The name is compared as it is stored: path separators are dropped.
    Dappline slashed("Pho/tos", "/data/Third", "", "", 0, 0, 1, 0);
    EXPECT_FALSE(m_db.addShare(slashed));
    Dappline second = add("Photos2", "/data/Photos/inner");
    EXPECT_EQ(first.shareId + 1, second.shareId);
}

TEST_F(StoreQueriesTest, SharesReadBackWithAllFields) {
    Dappline share("Mine's", "/data/it's", "GALLERY", "2030-01-01 00:00:00", 5000000000LL, 1, 2, 1);
    ASSERT_TRUE(m_db.addShare(share));
    for (DapplinePtr read : {m_db.getShare(share.shareId), m_db.getShareByName("Mine's"),
                             m_db.getShareByLocation("/data/it's")}) {
        ASSERT_TRUE(read);
        EXPECT_EQ(share.shareId, read->shareId);
        EXPECT_EQ("Mine's", read->shareName);
        EXPECT_EQ("/data/it's", read->shareLocation);
        EXPECT_EQ("GALLERY", read->viewMode);
        EXPECT_EQ("2030-01-01 00:00:00", read->validityPeriod);
        EXPECT_EQ(5000000000LL, read->shareSizeLimit);
        EXPECT_EQ(1, read->viewSize);
        EXPECT_EQ(2, read->thumbSize);
        EXPECT_EQ(1, read->allowPublicAccess);
        EXPECT_TRUE(read->allowEdit);
    }
    // A lookup by name hands out a copy: what its caller changes stays there.
    DapplinePtr changed = m_db.getShareByName("Mine's");
    changed->viewMode = "MUSIC";
    changed->shareSizeLimit = 1;
    EXPECT_EQ("GALLERY", m_db.getShareByName("Mine's")->viewMode);
    EXPECT_EQ(5000000000LL, m_db.getShareSizeLimit("Mine's"));
    EXPECT_EQ(0, m_db.getShareSizeLimit("nothing"));
    EXPECT_FALSE(m_db.getShare(share.shareId + 1));
    EXPECT_FALSE(m_db.getShareByName("mine's")) << "names match exactly";
}

TEST_F(StoreQueriesTest, UpdateShareRefusesTakenNameOrLocation) {
    Dappline a = add("A", "/data/a");
    Dappline b = add("B", "/data/b");
    // Looked up by name before every write below, as visitors do: an update
    // must not leave the old row served.
    ASSERT_TRUE(m_db.getShareByName("B"));
    Dappline change = b;
    change.shareName = "A";
    EXPECT_FALSE(m_db.updateShare(change));
    change = b;
    change.shareLocation = "/data/a";
    EXPECT_FALSE(m_db.updateShare(change));
    EXPECT_EQ("B", m_db.getShare(b.shareId)->shareName);
    EXPECT_EQ("/data/b", m_db.getShare(b.shareId)->shareLocation);

    change = b;
    change.viewMode = "MUSIC";
    change.shareSizeLimit = 77;
    EXPECT_TRUE(m_db.updateShare(change)) << "keeping its own name and location";
    EXPECT_EQ("MUSIC", m_db.getShareByName("B")->viewMode);
    change.shareName = "B2";
    change.shareLocation = "/data/b2";
    EXPECT_TRUE(m_db.updateShare(change));
    EXPECT_FALSE(m_db.getShareByName("B"));
    EXPECT_EQ("/data/b2", m_db.getShareByName("B2")->shareLocation);
    DapplinePtr read = m_db.getShare(b.shareId);
    EXPECT_EQ("B2", read->shareName);
    EXPECT_EQ("/data/b2", read->shareLocation);
    EXPECT_EQ("MUSIC", read->viewMode);
    EXPECT_EQ(77, read->shareSizeLimit);
    EXPECT_EQ("A", m_db.getShare(a.shareId)->shareName);
}

TEST_F(StoreQueriesTest, DeleteShareTakesItsPermissions) {
    Dappline a = add("A", "/data/a");
    Dappline b = add("B", "/data/b");
    ASSERT_TRUE(m_db.addUserToShare(a.shareId, 1, 0));
    ASSERT_TRUE(m_db.addUserToShare(b.shareId, 1, 1));
    ASSERT_TRUE(m_db.getShareByName("A"));
    EXPECT_TRUE(m_db.deleteShare(a.shareId));
    EXPECT_FALSE(m_db.getShare(a.shareId));
    EXPECT_FALSE(m_db.getShareByName("A")) << "a deleted share is not served by name";
    Dappline again = add("A", "/data/a-again");
    ASSERT_TRUE(m_db.getShareByName("A"));
    EXPECT_EQ(again.shareId, m_db.getShareByName("A")->shareId);
    EXPECT_EQ("1", count("PERMISSION"));
    std::list<int> ids;
    EXPECT_TRUE(m_db.getSharesForUser(1, ids));
    EXPECT_EQ(std::list<int>{b.shareId}, ids);
}

TEST_F(StoreQueriesTest, UniqueShareNames) {
    EXPECT_EQ("HolidayPhotos2014", DapplineDB::getValidShareName("Holiday Photos 2014!"));
    EXPECT_EQ("caf", DapplineDB::getValidShareName("caf\xC3\xA9"));
    std::string name;
    ASSERT_TRUE(m_db.uniqueShareName("/data/My Photos", name));
    EXPECT_EQ("MyPhotos", name);
    ASSERT_TRUE(m_db.uniqueShareName("/data/report.pdf", name));
    EXPECT_EQ("report", name);
    add("MyPhotos", "/data/My Photos");
    ASSERT_TRUE(m_db.uniqueShareName("/data/My Photos/", name));
    EXPECT_TRUE(std::regex_match(name, std::regex("MyPhotos[0-9]+"))) << name;
    ASSERT_TRUE(m_db.uniqueShareName("/data/\xE2\x82\xAC \xC2\xB6 !", name));
    EXPECT_TRUE(std::regex_match(name, std::regex("[0-9]+"))) << name;
    EXPECT_FALSE(m_db.getShareByName(name));
}

TEST_F(StoreQueriesTest, LocationsContainingText) {
    add("A", "/data/photos/2013");
    add("B", "/data/photos/2014");
    add("C", "/music");
    std::list<DapplinePtr> shares;
    EXPECT_TRUE(m_db.getSharesForLocation("photos", shares));
    ASSERT_EQ(1u, shares.size()) << "only the first match is handed back";
    EXPECT_NE(std::string::npos, shares.front()->shareLocation.find("photos"));
    shares.clear();
    EXPECT_TRUE(m_db.getSharesForLocation("nowhere", shares));
    EXPECT_TRUE(shares.empty());
}

TEST_F(StoreQueriesTest, Permissions) {
    Dappline share = add("A", "/data/a");
    EXPECT_EQ("<user></user>", m_db.getUserAccessForShare(0, 5));
    EXPECT_EQ("<user></user>", m_db.getUserAccessForShare(5, 0));
    EXPECT_EQ("<user><access><writemode>0</writemode></access></user>",
              m_db.getUserAccessForShare(3, share.shareId));
    EXPECT_FALSE(m_db.checkCredentials(share.shareId, 3));
    ASSERT_TRUE(m_db.addUserToShare(share.shareId, 3, 0));
    EXPECT_TRUE(m_db.checkCredentials(share.shareId, 3));
    EXPECT_FALSE(m_db.checkCredentials(share.shareId + 1, 3));
    EXPECT_FALSE(m_db.hasWriteAccessForShare(3, share.shareId));
    ASSERT_TRUE(m_db.setUserAccessForShare(3, share.shareId, true));
    EXPECT_TRUE(m_db.hasWriteAccessForShare(3, share.shareId));
    EXPECT_EQ("<user><access><writemode>1</writemode></access></user>",
              m_db.getUserAccessForShare(3, share.shareId));
    ASSERT_TRUE(m_db.deleteUserFromShare(share.shareId, 3));
    EXPECT_FALSE(m_db.checkCredentials(share.shareId, 3));
    EXPECT_FALSE(m_db.hasWriteAccessForShare(3, share.shareId));
}

TEST_F(StoreQueriesTest, NonPositiveUserIdsNeverPass) {
    Dappline share = add("A", "/data/a");
    ASSERT_TRUE(m_db.addUserToShare(share.shareId, -1, 1));
    ASSERT_TRUE(m_db.addUserToShare(share.shareId, 0, 1));
    EXPECT_FALSE(m_db.checkCredentials(share.shareId, -1));
    EXPECT_FALSE(m_db.checkCredentials(share.shareId, 0));
}

TEST_F(StoreQueriesTest, CredentialTexts) {
    Dappline share = add("A", "/data/a");
    const int bob = GuestUserManager::addGuestUser("bob", "pw:with colon");
    const int eve = GuestUserManager::addGuestUser("eve", "evepw");
    ASSERT_GT(bob, 0);
    ASSERT_GT(eve, 0);
    ASSERT_TRUE(m_db.addUserToShare(share.shareId, bob, 0));
    int userId = -7;
    EXPECT_TRUE(m_db.checkCredentials(share.shareId, "bob:pw:with colon", userId));
    EXPECT_EQ(bob, userId);
    userId = -7;
    EXPECT_TRUE(m_db.checkCredentials(share.shareId, "bob: pw:with colon \t", userId))
        << "the password is trimmed";
    for (const char* bad : {"", "bob", "bob:", "bob:   ", ":pw:with colon", " bob:pw:with colon",
                            "bob:wrong", "eve:evepw", "nobody:x"}) {
        userId = -7;
        EXPECT_FALSE(m_db.checkCredentials(share.shareId, bad, userId)) << bad;
        EXPECT_EQ(-7, userId) << bad;
    }
}

TEST_F(StoreQueriesTest, UserListsOfAShare) {
    Dappline share = add("A", "/data/a");
    const int alice = GuestUserManager::addGuestUser("alice & co", "pw");
    const int bob = GuestUserManager::addGuestUser("bob", "pw");
    const int gone = GuestUserManager::addGuestUser("gone", "pw");
    ASSERT_TRUE(m_db.addUserToShare(share.shareId, bob, 1));
    ASSERT_TRUE(m_db.addUserToShare(share.shareId, gone, 0));
    ASSERT_TRUE(GuestUserManager::removeGuestUser("gone"));
    EXPECT_EQ("<users><user><userid>" + std::to_string(bob) +
                  "</userid><username>bob</username><read>1</read><write>1</write></user></users>",
              m_db.getUsersForShareXML(share.shareId));
    EXPECT_EQ("<users><user><userid>" + std::to_string(alice) +
                  "</userid><username>alice &amp; co</username></user></users>",
              m_db.getAddUsersForShareXML(share.shareId));
    ASSERT_TRUE(m_db.addUserToShare(share.shareId, alice, 0));
    EXPECT_EQ("<users></users>", m_db.getAddUsersForShareXML(share.shareId));
    EXPECT_EQ("<users></users>", m_db.getUsersForShareXML(share.shareId + 1));
}

TEST_F(StoreQueriesTest, HistoryFiltersPagingAndOrder) {
    struct Row {
        int share;
        const char* date;
        bool upload;
    };
    const Row rows[] = {{1, "2014-01-02 00:00:00", false},
                        {1, "2014-01-05 00:00:00", true},
                        {2, "2014-01-03 00:00:00", false},
                        {1, "2014-01-04 00:00:00", false},
                        {2, "2014-01-01 00:00:00", true}};
    for (const Row& r : rows) {
        DapplineHistory entry(r.share, std::string("/f/") + r.date, 1, r.date, -1, "anon",
                              r.upload);
        ASSERT_TRUE(m_db.addHistory(entry));
    }
    const std::string downloads = m_db.getHistoryXML(0, 10, -1, "DL");
    EXPECT_EQ(0u, downloads.find("<histories><meta><totalrecords>3</totalrecords></meta>"));
    EXPECT_EQ(3u, occurrences(downloads, "<history>"));
    const auto d4 = downloads.find("/f/2014-01-04"), d3 = downloads.find("/f/2014-01-03"),
               d2 = downloads.find("/f/2014-01-02");
    EXPECT_TRUE(d4 < d3 && d3 < d2) << "newest first: " << downloads;
    EXPECT_EQ(0u, occurrences(downloads, "<id>1</id>")) << "entries carry id 0";
    EXPECT_EQ(downloads.size() - std::string("</histories>").size(),
              downloads.rfind("</histories>"));

    const std::string uploads = m_db.getHistoryXML(0, 10, -1, "UL");
    EXPECT_NE(std::string::npos, uploads.find("<totalrecords>2</totalrecords>"));
    EXPECT_EQ(2u, occurrences(uploads, "<history>"));

    const std::string page = m_db.getHistoryXML(1, 2, 1, "ALL");
    EXPECT_NE(std::string::npos, page.find("<totalrecords>3</totalrecords>"))
        << "the total ignores the limit";
    EXPECT_EQ(2u, occurrences(page, "<history>"));
    EXPECT_EQ(std::string::npos, page.find("/f/2014-01-05")) << "the first row is skipped";
    EXPECT_NE(std::string::npos, page.find("/f/2014-01-04"));
    EXPECT_NE(std::string::npos, page.find("/f/2014-01-02"));

    EXPECT_TRUE(m_db.clearHistory());
    EXPECT_EQ("<histories><meta><totalrecords>0</totalrecords></meta></histories>",
              m_db.getHistoryXML(0, 10, -1, ""));
}

// Rows are queued and reach the file in one batch, within the writer's
// second or at once when flushed; closing writes what is left.
TEST_F(StoreQueriesTest, HistoryRowsReachTheFileInBatches) {
    for (int i = 0; i < 3; ++i) {
        DapplineHistory entry(1, "/f/" + std::to_string(i), 1, "2014-01-01 00:00:00", -1, "a");
        ASSERT_TRUE(m_db.addHistory(entry));
    }
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(30);
    while (count("HISTORY") != "3" && std::chrono::steady_clock::now() < deadline)
        std::this_thread::sleep_for(std::chrono::milliseconds(20));
    EXPECT_EQ("3", count("HISTORY")) << "written by the writer's thread without a flush";
    DapplineHistory last(1, "/f/last", 1, "2014-01-02 00:00:00", -1, "a");
    ASSERT_TRUE(m_db.addHistory(last));
    m_db.closeDB();
    EXPECT_EQ("4", count("HISTORY"));
    EXPECT_FALSE(m_db.addHistory(last)) << "a closed database takes no rows";
}

// Rows older than the days, then the oldest beyond the count, go; 0 keeps all.
TEST_F(StoreQueriesTest, HistoryRetentionRemovesTheOldestRows) {
    const std::string dates[] = {
        sortable(Poco::Timespan(-400, 0, 0, 0, 0)), sortable(Poco::Timespan(-10, 0, 0, 0, 0)),
        sortable(Poco::Timespan(-3, 0, 0, 0, 0)), sortable(Poco::Timespan(-2, 0, 0, 0, 0)),
        sortable(Poco::Timespan(-1, 0, 0, 0, 0))};
    for (const std::string& date : dates) {
        DapplineHistory entry(1, "/f/" + date, 1, date, -1, "a");
        ASSERT_TRUE(m_db.addHistory(entry));
    }
    EXPECT_EQ(0, m_db.pruneHistory(0, 0));
    EXPECT_EQ(1, m_db.pruneHistory(0, 365));
    EXPECT_EQ(2, m_db.pruneHistory(2, 365));
    const std::string xml = m_db.getHistoryXML(0, 10, -1, "");
    EXPECT_NE(std::string::npos, xml.find("<totalrecords>2</totalrecords>")) << xml;
    EXPECT_NE(std::string::npos, xml.find("/f/" + dates[4])) << xml;
    EXPECT_NE(std::string::npos, xml.find("/f/" + dates[3])) << xml;
}

TEST_F(StoreQueriesTest, HistoryKeepsQuotedTexts) {
    DapplineHistory entry(1, "/f/it's <here>.txt", 9000000000LL, "2014-01-01 00:00:00", 4,
                          "O'Brien", true);
    ASSERT_TRUE(m_db.addHistory(entry));
    ASSERT_TRUE(m_db.flushHistory());
    auto row = StoreTest::querySql(
        m_dbPath, "SELECT SHARELOCATION, FILESIZE, USERID, USERNAME, ISUPLOAD FROM HISTORY;");
    ASSERT_EQ(1u, row.size());
    EXPECT_EQ((std::vector<std::string>{"/f/it's <here>.txt", "9000000000", "4", "O'Brien", "1"}),
              row[0]);
    EXPECT_NE(
        std::string::npos,
        m_db.getHistoryXML(0, 1, -1, "UL").find("<sharelocation>/f/it&apos;s &lt;here&gt;.txt"));
}

TEST_F(StoreQueriesTest, PublicLocationsOnWholePathComponents) {
    Dappline share = add("AB", "/a/b", 1);
    add("Private", "/p", 0);
    int id = -1;
    EXPECT_TRUE(m_db.isLocationSharedPublic("/a/b", id));
    EXPECT_EQ(share.shareId, id);
    EXPECT_TRUE(m_db.isLocationSharedPublic("/a/b/", id));
    EXPECT_TRUE(m_db.isLocationSharedPublic("/a/b/c", id));
    id = -1;
    EXPECT_FALSE(m_db.isLocationSharedPublic("/a/bc", id));
    EXPECT_FALSE(m_db.isLocationSharedPublic("/a", id));
    EXPECT_FALSE(m_db.isLocationSharedPublic("/p/x", id)) << "not public";
    EXPECT_EQ(-1, id);
}

TEST_F(StoreQueriesTest, PublicLocationSkipsAnExpiredNewerShare) {
    Dappline older = add("Old", "/data", 1, sortable(Poco::Timespan(1, 0, 0, 0, 0)));
    Dappline newer = add("New", "/data/photos", 1, sortable(Poco::Timespan(-60, 0)));
    int id = -1;
    EXPECT_TRUE(m_db.isLocationSharedPublic("/data/photos/x.jpg", id));
    EXPECT_EQ(older.shareId, id);
    Dappline valid = newer;
    valid.validityPeriod = "";
    ASSERT_TRUE(m_db.updateShare(valid));
    EXPECT_TRUE(m_db.isLocationSharedPublic("/data/photos/x.jpg", id));
    EXPECT_EQ(newer.shareId, id) << "newest share first";
}

TEST_F(StoreQueriesTest, SharesXMLNewestFirst) {
    EXPECT_EQ("<shares></shares>", m_db.getSharesXML());
    add("First", "/data/1");
    add("Se<c>ond", "/data/2");
    const std::string xml = m_db.getSharesXML();
    EXPECT_EQ(0u,
              xml.find("<shares><share><shareid>2</shareid><sharename>Se&lt;c&gt;ond</sharename>"));
    EXPECT_NE(std::string::npos, xml.find("</share><share><shareid>1</shareid>"));
    EXPECT_EQ(2u, m_db.getAllShares().size());
    EXPECT_EQ("First", m_db.getAllShares().back()->shareName);
}

TEST_F(StoreQueriesTest, ClosedDatabaseGivesFailureValues) {
    add("A", "/data/a");
    m_db.closeDB();
    Dappline share("B", "/data/b", "", "", 0, 0, 1, 0);
    EXPECT_FALSE(m_db.addShare(share));
    EXPECT_FALSE(m_db.getShare(1));
    EXPECT_EQ("<shares></shares>", m_db.getSharesXML());
    EXPECT_EQ("<histories></histories>", m_db.getHistoryXML(0, 10, -1, ""));
    EXPECT_EQ("<users></users>", m_db.getAddUsersForShareXML(1));
    EXPECT_EQ("<user><access><writemode>0</writemode></access></user>",
              m_db.getUserAccessForShare(1, 1));
    int id = -1;
    EXPECT_FALSE(m_db.isLocationSharedPublic("/data/a", id));
    EXPECT_EQ("dflt", m_db.getConfigValue("K", "N", "dflt"));
    std::string status, notes;
    EXPECT_EQ(-1, m_db.getVersionInfo(status, notes));
}

}  // namespace
