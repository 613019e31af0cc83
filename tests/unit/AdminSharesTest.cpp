// The owner's share operations, called by name through the real plug-in.
#include <Poco/URI.h>

#include <regex>

#include "TestSupport.h"
#include "core/Dappline.h"
#include "core/DapplinePlugin.h"
#include "orvane/GuestUserManager.h"
#include "orvane/HTTPUtil.h"
#include "orvane/ProfileManager.h"
#include "orvane/ShortURLManager.h"
#include "store/DapplineDB.h"
#include "store/DapplineHistory.h"

using namespace Orvane;
using Orvane::Dappline::DapplinePtr;
using TestSupport::Reply;

namespace {

const std::string NO_SHARES = "<shares></shares>";

std::string enc(const std::string& text) {
    std::string out;
    Poco::URI::encode(text, "&=+#%;?", out);
    return out;
}

class AdminShares : public TestSupport::PluginFixture {
protected:
    Reply post(const std::string& operation, const std::string& body) {
        TestSupport::MessagePtr msg = ownerRequest(operation);
        msg->setRawData(body);
        return call(msg);
    }
    Reply addShare(const std::string& name, const std::string& location,
                   const std::string& extra = "") {
        return post("addshare",
                    "sharename=" + enc(name) + "&sharelocation=" + enc(location) + extra);
    }
    DapplinePtr stored(const std::string& name) {
        return m_plugin->database()->getShareByName(name);
    }
    std::string sharesOf(const DapplinePtr& share, bool relative = false) {
        return "<shares>" + share->toXML(relative) + "</shares>";
    }
    std::size_t shareCount() { return m_plugin->database()->getAllShares().size(); }
    std::string folder(const std::string& relative) { return m_temp->mkdir("data/" + relative); }
};

std::string gateAnswer(const std::string& message) {
    return Util::HTTP::getXMLResult("Authentication Failed", false, message);
}

TEST_F(AdminShares, OwnerGateRefusesSourceRoleAndMissingProfile) {
    TestSupport::MessagePtr msg = ownerRequest("getshares");
    msg->authSource = 69;
    EXPECT_EQ(gateAnswer("Bad Source"), call(msg).body);

    msg = request("addshare", "", 99);
    msg->authSource = 70;
    EXPECT_EQ(gateAnswer("Bad Role"), call(msg).body);
    EXPECT_EQ(0u, shareCount());

    API::ProfileManager::unloadProfile();
    Reply noProfile = call(ownerRequest("deleteshare", "shareid=1"));
    API::ProfileManager::loadProfile(m_profileDir);
    EXPECT_EQ(Util::HTTP::getXMLResult("Profile Unavailable", false,
                                       "No Profile Available for Operation"),
              noProfile.body);
}

TEST_F(AdminShares, GuestSharesOnlyForSignedInGuests) {
    const int ann = API::GuestUserManager::addGuestUser("ann", "secret1");
    ASSERT_GT(ann, 0);
    addShare("One", folder("one"), "&allowpublicaccess=0");
    addShare("Two", folder("two"), "&allowpublicaccess=0");
    m_plugin->database()->addUserToShare(stored("Two")->shareId, ann, 0);

    TestSupport::MessagePtr guest = request("getguestshares", "", 30);
    guest->authUser = "ann";
    EXPECT_EQ(sharesOf(stored("Two"), true), call(guest).body);

    guest = request("getguestshares", "", 30);
    guest->authUser = "nobody";
    EXPECT_EQ(NO_SHARES, call(guest).body);

    // The owner has no guest list: no answer at all.
    TestSupport::MessagePtr owner = ownerRequest("getguestshares");
    deliver(owner);
    EXPECT_TRUE(repliesFor(owner).empty());
}

TEST_F(AdminShares, AddShareDefaultsAndListing) {
    const std::string photos = folder("Photos");
    Reply added = addShare("Holiday", photos);
    DapplinePtr share = stored("Holiday");
    ASSERT_TRUE(share);
    EXPECT_EQ(photos, share->shareLocation);
    EXPECT_EQ(1, share->viewSize);
    EXPECT_EQ(2, share->thumbSize);
    EXPECT_EQ(1, share->allowPublicAccess);
    EXPECT_EQ(0, share->shareSizeLimit);
    EXPECT_EQ("", share->validityPeriod);
    EXPECT_EQ(sharesOf(share), added.body);

    const std::string file = m_temp->write("data/report.pdf", "pdf");
    addShare("  Report ", file,
             "&viewmode=GALLERY&validityperiod=" + enc("2031-01-02 03:04:05") +
                 "&sharesizelimit=5000000000&viewsize=0&thumbsize=0&allowpublicaccess=0");
    DapplinePtr report = stored("Report");
    ASSERT_TRUE(report) << "the name is trimmed";
    EXPECT_EQ("GALLERY", report->viewMode);
    EXPECT_EQ("2031-01-02 03:04:05", report->validityPeriod);
    EXPECT_EQ(5000000000LL, report->shareSizeLimit);
    EXPECT_EQ(0, report->viewSize);
    EXPECT_EQ(0, report->thumbSize);
    EXPECT_EQ(0, report->allowPublicAccess);

    // Newest first, each in the absolute form.
    EXPECT_EQ("<shares>" + report->toXML(false) + share->toXML(false) + "</shares>",
              call(ownerRequest("getshares")).body);
}

TEST_F(AdminShares, AddShareRefusesDuplicatesAndForbiddenPaths) {
    const std::string photos = folder("Photos");
    addShare("Holiday", photos);
    ASSERT_EQ(1u, shareCount());

    EXPECT_EQ(NO_SHARES, addShare("Holiday", folder("Other")).body);
    EXPECT_EQ(NO_SHARES, addShare("Second", photos).body);
    EXPECT_EQ(NO_SHARES, addShare("Profile", m_profileDir).body);
    EXPECT_EQ(NO_SHARES, addShare("HoldsProfile", m_temp->path()).body);
    EXPECT_EQ(NO_SHARES, addShare("Root", "/").body);
    EXPECT_EQ(NO_SHARES, addShare("Proc", "/proc").body);
    EXPECT_EQ(NO_SHARES, addShare("Gone", m_temp->path() + "/data/missing").body);
    EXPECT_EQ(NO_SHARES, post("addshare", "sharename=Nothing").body);
    EXPECT_EQ(1u, shareCount());
}

TEST_F(AdminShares, UpdateShareUnknownIdAndMissingName) {
    const std::string photos = folder("Photos");
    addShare("Holiday", photos, "&sharesizelimit=7&viewsize=0&thumbsize=0&allowpublicaccess=0");
    DapplinePtr before = stored("Holiday");

    // An id nobody has: the answer carries it and the values sent, with the
    // defaults of an empty record; nothing changes.
    Reply unknown =
        post("updateshare", "shareid=4711&sharename=Ghost&sharelocation=" + enc(folder("Ghost")) +
                                "&viewmode=MUSIC");
    Orvane::Dappline::Dappline expected(4711, "Ghost", folder("Ghost"), "MUSIC", "", 0, 0, 1, 0);
    EXPECT_EQ("<shares>" + expected.toXML(false) + "</shares>", unknown.body);
    ASSERT_EQ(1u, shareCount());
    EXPECT_EQ(before->toXML(false), stored("Holiday")->toXML(false));

    // Without "sharename" the name is emptied; the stored values fill the
    // other gaps.
    const std::string id = std::to_string(before->shareId);
    Reply renamed = post("updateshare", "shareid=" + id + "&sharelocation=" + enc(photos));
    DapplinePtr after = m_plugin->database()->getShare(before->shareId);
    ASSERT_TRUE(after);
    EXPECT_EQ("", after->shareName);
    EXPECT_EQ("", after->viewMode);
    EXPECT_EQ(7, after->shareSizeLimit);
    EXPECT_EQ(0, after->viewSize);
    EXPECT_EQ(0, after->thumbSize);
    EXPECT_EQ(0, after->allowPublicAccess);
    EXPECT_EQ(sharesOf(after), renamed.body);

    EXPECT_EQ(NO_SHARES, post("updateshare", "shareid=" + id + "&sharelocation=/no/such").body);
    // Moving a share onto the system or the profile is refused like adding it.
    for (const std::string& refused :
         {std::string("/"), m_temp->path(), m_profileDir, std::string("/proc")})
        EXPECT_EQ(NO_SHARES,
                  post("updateshare", "shareid=" + id + "&sharelocation=" + enc(refused)).body);
    EXPECT_EQ(photos, m_plugin->database()->getShare(before->shareId)->shareLocation);
}

TEST_F(AdminShares, UpdateShareRefusedByTheStoreIsNoSuccess) {
    addShare("One", folder("one"));
    addShare("Two", folder("two"));
    const std::string id = std::to_string(stored("Two")->shareId);
    EXPECT_EQ(
        NO_SHARES,
        post("updateshare", "shareid=" + id + "&sharename=One&sharelocation=" + enc(folder("two")))
            .body);
    EXPECT_TRUE(stored("Two"));
}

TEST_F(AdminShares, DeleteShareKeepsHistoryDropsPermissionsAndShortLink) {
    const int ann = API::GuestUserManager::addGuestUser("ann", "secret1");
    const std::string file = m_temp->write("data/notes.txt", "notes");
    addShare("Notes", file);
    DapplinePtr share = stored("Notes");
    const std::string code = share->getURL(true);
    std::string target;
    ASSERT_TRUE(ShortURLManager().resolveShortURL(code, target));
    ASSERT_TRUE(m_plugin->database()->addUserToShare(share->shareId, ann, 1));
    Orvane::Dappline::DapplineHistory line(share->shareId, file, 5, "2024-01-01 10:00:00", ann,
                                           "ann");
    ASSERT_TRUE(m_plugin->database()->addHistory(line));

    const std::string failed = Util::HTTP::getXMLResult("deleteshare", false, "");
    EXPECT_EQ(failed, call(ownerRequest("deleteshare")).body);
    EXPECT_EQ(failed, call(ownerRequest("deleteshare", "shareid=999")).body);

    const std::string id = std::to_string(share->shareId);
    EXPECT_EQ(Util::HTTP::getXMLResult("deleteshare", true, ""),
              call(ownerRequest("deleteshare", "shareid=" + id)).body);
    EXPECT_FALSE(m_plugin->database()->getShare(share->shareId));
    EXPECT_FALSE(m_plugin->database()->checkCredentials(share->shareId, ann));
    EXPECT_FALSE(ShortURLManager().resolveShortURL(code, target));
    EXPECT_NE(std::string::npos, m_plugin->database()
                                     ->getHistoryXML(0, 10, share->shareId, "")
                                     .find("<totalrecords>1</totalrecords>"));
}

TEST_F(AdminShares, QuickShareTwiceAndWithATakenName) {
    const std::string photos = folder("My Photos");
    TestSupport::MessagePtr msg = request("quickshare", "", 0);
    msg->authLocation = 100;  // the host itself: no gate
    // The owner's screens encode the location once more than the form does.
    msg->setRawData("sharelocation=" + enc(enc(photos)) + "&viewmode=GALLERY");
    Reply first = call(msg);
    DapplinePtr share = stored("MyPhotos");
    ASSERT_TRUE(share);
    EXPECT_EQ(photos, share->shareLocation);
    EXPECT_EQ("GALLERY", share->viewMode);
    EXPECT_EQ(1, share->viewSize);
    EXPECT_EQ(2, share->thumbSize);
    EXPECT_EQ(1, share->allowPublicAccess);
    EXPECT_EQ(sharesOf(share), first.body);

    Reply again = post("quickshare", "sharelocation=" + enc(photos + "/"));
    EXPECT_EQ("<shares><meta><duplicate>1</duplicate></meta>" + share->toXML(false) + "</shares>",
              again.body);
    EXPECT_EQ(1u, shareCount());

    Reply taken = post("quickshare", "sharelocation=" + enc(folder("elsewhere/MyPhotos")));
    auto all = m_plugin->database()->getAllShares();
    ASSERT_EQ(2u, all.size());
    EXPECT_TRUE(std::regex_match(all.front()->shareName, std::regex("MyPhotos[0-9]+")))
        << all.front()->shareName;
    EXPECT_EQ(sharesOf(all.front()), taken.body);
}

TEST_F(AdminShares, QuickShareRefusals) {
    TestSupport::MessagePtr guest = request("quickshare", "", 30);
    guest->setRawData("sharelocation=" + enc(folder("a")));
    EXPECT_EQ(NO_SHARES, call(guest).body);

    TestSupport::MessagePtr anonymous = request("quickshare", "", 0);
    anonymous->setRawData("sharelocation=" + enc(folder("a")));
    EXPECT_EQ(gateAnswer("Bad Role"), call(anonymous).body);

    EXPECT_EQ(NO_SHARES, post("quickshare", "").body);
    EXPECT_EQ(NO_SHARES, post("quickshare", "sharelocation=" + enc(m_profileDir)).body);
    EXPECT_EQ(NO_SHARES, post("quickshare", "sharelocation=" + enc(m_temp->path())).body);
    EXPECT_EQ(NO_SHARES, post("quickshare", "sharelocation=%2F").body);
    EXPECT_EQ(NO_SHARES, post("quickshare", "sharelocation=%2Fno%2Fsuch").body);
    EXPECT_EQ(0u, shareCount());

    // A bare "%" left after the form's decoding is part of the name.
    const std::string sale = folder("50% off");
    post("quickshare", "sharelocation=" + enc(sale));
    EXPECT_TRUE(m_plugin->database()->getShareByLocation(sale));
}

TEST_F(AdminShares, SharesFilterByLocationAndUser) {
    const int ann = API::GuestUserManager::addGuestUser("ann", "secret1");
    const std::string photos = folder("Photos");
    addShare("Photos", photos);
    addShare("Music", folder("Music"));
    DapplinePtr music = stored("Music");
    m_plugin->database()->addUserToShare(music->shareId, ann, 0);
    const std::string user = "userid=" + std::to_string(ann);

    EXPECT_EQ(NO_SHARES, call(ownerRequest("getsharesfilter")).body);
    EXPECT_EQ(sharesOf(stored("Photos"), true),
              call(ownerRequest("getsharesfilter", "location=" + enc(photos))).body);
    EXPECT_EQ(sharesOf(music, true), call(ownerRequest("getsharesfilter", user)).body);
    EXPECT_EQ(NO_SHARES,
              call(ownerRequest("getsharesfilter", "location=" + enc(photos) + "&" + user)).body);
    EXPECT_EQ(sharesOf(music, true),
              call(ownerRequest("getsharesfilter", "location=Music&" + user)).body);
    EXPECT_EQ(NO_SHARES, call(ownerRequest("getsharesfilter", "userid=12345")).body);
}

}  // namespace
