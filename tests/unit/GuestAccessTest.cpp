// Guest access control: the credentials challenge of non-public shares with
// its failure counter, and the path decision of GETFILE and downloadfile with
// the history entries it writes.
#include <Poco/DateTimeFormat.h>
#include <Poco/DateTimeFormatter.h>
#include <Poco/Timespan.h>

#include "SharePageFixture.h"

using namespace SharePageTest;
using namespace Orvane::Defs;
using TestSupport::Reply;

namespace {

const int GUEST = 30;

std::string yesterday() {
    return Poco::DateTimeFormatter::format(Poco::Timestamp() - Poco::Timespan(1, 0, 0, 0, 0),
                                           Poco::DateTimeFormat::SORTABLE_FORMAT);
}

class GuestAccessControl : public ShareFixture {
protected:
    void expectChallenge(const MessagePtr& msg) {
        Reply r = call(msg);
        EXPECT_EQ(200, r.status);
        EXPECT_EQ("Orvane Dappline", r.field(HTTP::S_HTTP_RESP_AUTHENTICATION_REALM));
        EXPECT_TRUE(contains(r.body, "<b>Invalid Authorization to Access Page</b>"));
        EXPECT_EQ("dapplinepro", r.msg->sender);
    }

    MessagePtr withCredentials(const std::string& address, const std::string& credentials) {
        MessagePtr msg = shareRequest(address);
        setRequestField(msg, HTTP::S_HTTP_REQ_CREDENTIALS_INFO, credentials);
        return msg;
    }

    MessagePtr getFile(const std::string& path, int role = 0, const std::string& user = "") {
        MessagePtr msg = request("GETFILE", "", role);
        msg->authUser = user;
        setRequestField(msg, "FILEPATH", path);
        return msg;
    }

    bool allowed(const MessagePtr& msg) {
        deliver(msg);
        std::vector<Reply> replies = repliesFor(msg);
        if (replies.empty())
            return false;
        EXPECT_EQ(1u, replies.size());
        EXPECT_EQ("1", replies.front().field(HTTP::S_HTTP_RESP_ALLOW));
        return true;
    }
};

TEST_F(GuestAccessControl, MissingCredentialsAskWithoutCounting) {
    addShare("priv", "priv", 0);
    for (int i = 0; i < 6; ++i)
        expectChallenge(shareRequest("priv/"));
    EXPECT_FALSE(m_plugin->areUploadsLocked());
}

TEST_F(GuestAccessControl, WrongCredentialsAskAndCount) {
    const auto share = addShare("priv", "priv", 0);
    addGuest("ann", "secret", share.shareId, 1);
    addGuest("bob", "other");  // exists, no permission
    for (const std::string& cred :
         std::vector<std::string>{"ann:wrong", "nobody:secret", "bob:other", "ann:", ":secret"}) {
        MessagePtr msg = withCredentials("priv/", cred);
        msg->clientAddress = "198.51.100.1";
        expectChallenge(msg);
    }
    // Five failures within the tracker's window lock that client's uploads,
    // and only that client's.
    const auto upload = [&](const std::string& client) {
        MessagePtr msg = request("START_UPLOAD", "appname=dapplinepro&sharename=priv&dirname=priv");
        setRequestField(msg, HTTP::S_HTTP_REQ_CREDENTIALS_INFO, "ann:secret");
        msg->clientAddress = client;
        return call(msg).field(HTTP::S_HTTP_RESP_ALLOW);
    };
    EXPECT_EQ("0", upload("198.51.100.1"));
    EXPECT_EQ("1", upload("203.0.113.5"));
    EXPECT_FALSE(m_plugin->areUploadsLocked());
}

TEST_F(GuestAccessControl, RightCredentialsOpenThePage) {
    const auto share = addShare("priv", "priv", 0);
    addGuest("ann", "secret", share.shareId);
    Reply r = call(withCredentials("priv/", "ann:secret"));
    EXPECT_FALSE(r.hasField(HTTP::S_HTTP_RESP_AUTHENTICATION_REALM));
    EXPECT_TRUE(contains(r.body, "id=\"files_active\""));
    EXPECT_FALSE(m_plugin->areUploadsLocked());
}

TEST_F(GuestAccessControl, SignedInGuestNeedsAPermission) {
    const auto share = addShare("priv", "priv", 0);
    addGuest("ann", "secret", share.shareId, 1);
    addGuest("bob", "other");
    MessagePtr bob = shareRequest("priv/", "", GUEST);
    bob->authUser = "bob";
    expectChallenge(bob);
    EXPECT_FALSE(m_plugin->areUploadsLocked());

    MessagePtr ann = shareRequest("priv/", "", GUEST);
    ann->authUser = "ann";
    Reply r = call(ann);
    EXPECT_TRUE(contains(r.body, "id=\"files_active\""));
    EXPECT_TRUE(contains(r.body, "force_auth.gif"));  // write permission
}

TEST_F(GuestAccessControl, PublicShareNeedsNoCredentials) {
    addShare("pub", "pub", 1);
    Reply r = get("pub/");
    EXPECT_FALSE(r.hasField(HTTP::S_HTTP_RESP_AUTHENTICATION_REALM));
    EXPECT_TRUE(contains(r.body, "id=\"files_active\""));
}

TEST_F(GuestAccessControl, AnonymousGetFileOnPublicSharesOnly) {
    const std::string open = m_temp->write("pub/a.txt", "12345");
    const std::string closed = m_temp->write("priv/b.txt", "x");
    const std::string outside = m_temp->write("pubx/c.txt", "x");
    const auto share = addShare("pub", "pub", 1);
    addShare("priv", "priv", 0);
    EXPECT_TRUE(allowed(getFile(open)));
    EXPECT_FALSE(allowed(getFile(closed)));
    EXPECT_FALSE(allowed(getFile(outside)));  // "/pub" is not a prefix of "/pubx"
    const std::string history = downloadHistory();
    EXPECT_EQ(1, downloadCountInHistory());
    EXPECT_TRUE(contains(history, "<shareid>" + std::to_string(share.shareId) + "</shareid>"));
    EXPECT_TRUE(contains(history, "<sharelocation>" + open + "</sharelocation>"));
    EXPECT_TRUE(contains(history, "<userid>-1</userid><username>Anonymous</username>"));
    // Folders are granted but not counted.
    EXPECT_TRUE(allowed(getFile(m_temp->path() + "/pub")));
    EXPECT_EQ(1, downloadCountInHistory());
}

TEST_F(GuestAccessControl, RangesHoldingZeroDashAreNotCounted) {
    const std::string file = m_temp->write("pub/a.txt", "0123456789");
    addShare("pub", "pub", 1);
    for (const std::string& range :
         std::vector<std::string>{"bytes=0-", "bytes=100-", "bytes=10-20"}) {
        MessagePtr msg = getFile(file);
        setRequestField(msg, HTTP::S_HTTP_REQ_RANGE, range);
        EXPECT_TRUE(allowed(msg)) << range;
    }
    EXPECT_EQ(0, downloadCountInHistory());
    MessagePtr counted = getFile(file);
    setRequestField(counted, HTTP::S_HTTP_REQ_RANGE, "bytes=5-9");
    EXPECT_TRUE(allowed(counted));
    EXPECT_EQ(1, downloadCountInHistory());
}

TEST_F(GuestAccessControl, GuestRoadMatchesWholePathComponents) {
    const auto ab = addShare("ab", "a/b", 0);
    addShare("abc", "a/bc", 0);
    const int ann = addGuest("ann", "pw", ab.shareId, 1);
    (void)ann;
    const std::string inside = m_temp->write("a/b/x.txt", "x");
    const std::string sibling = m_temp->write("a/bc/x.txt", "x");
    EXPECT_TRUE(allowed(getFile(inside, GUEST, "ann")));
    EXPECT_FALSE(allowed(getFile(sibling, GUEST, "ann")));
    EXPECT_FALSE(allowed(getFile(inside, GUEST, "nobody")));
    const std::string history = downloadHistory();
    EXPECT_EQ(1, downloadCountInHistory());
    EXPECT_TRUE(contains(history, "<username>ann</username>"));
}

TEST_F(GuestAccessControl, SignedInGuestReadsPublicSharesButNeverWrites) {
    const auto pub = addShare("pub", "pub", 1);
    addShare("priv", "priv", 0);
    addGuest("ann", "pw");
    const std::string open = m_temp->write("pub/a.txt", "1");
    const std::string closed = m_temp->write("priv/b.txt", "2");
    EXPECT_TRUE(allowed(getFile(open, GUEST, "ann")));
    EXPECT_FALSE(allowed(getFile(closed, GUEST, "ann")));
    EXPECT_TRUE(contains(downloadHistory(), "<username>ann</username>"));
    MessagePtr msg = request("probe", "", GUEST);
    msg->authUser = "ann";
    bool write = true;
    std::string sharePath;
    std::int64_t limit = -1;
    ASSERT_TRUE(m_plugin->doesGuestHaveAccess(msg, open, write, sharePath, false, limit));
    EXPECT_FALSE(write);
    EXPECT_EQ(pub.shareLocation, sharePath);
}

TEST_F(GuestAccessControl, GuestRoadReportsWriteLocationAndLimit) {
    const auto rw = addShare("rw", "rw", 0, "", "", 3);
    const auto ro = addShare("ro", "ro", 0);
    addGuest("ann", "pw", rw.shareId, 1);
    EXPECT_TRUE(
        db().addUserToShare(ro.shareId, Orvane::API::GuestUserManager::getGuestUserID("ann"), 0));
    MessagePtr msg = request("probe", "", GUEST);
    msg->authUser = "ann";
    bool write = false;
    std::string sharePath;
    std::int64_t limit = -1;
    ASSERT_TRUE(m_plugin->doesGuestHaveAccess(msg, m_temp->path() + "/rw//deep/", write, sharePath,
                                              false, limit));
    EXPECT_TRUE(write);
    EXPECT_EQ(rw.shareLocation, sharePath);
    EXPECT_EQ(3 * 1024, limit);

    ASSERT_TRUE(
        m_plugin->doesGuestHaveAccess(msg, ro.shareLocation, write, sharePath, false, limit));
    EXPECT_FALSE(write);
    EXPECT_EQ(0, limit);

    MessagePtr anonymous = request("probe");
    write = true;
    EXPECT_FALSE(
        m_plugin->doesGuestHaveAccess(anonymous, ro.shareLocation, write, sharePath, false, limit));
    EXPECT_FALSE(write);
    EXPECT_EQ(0, downloadCountInHistory());
}

TEST_F(GuestAccessControl, ExpiredShareIsSkippedForTheNextMatch) {
    const auto outer = addShare("outer", "data", 0);
    const auto inner = addShare("inner", "data/inner", 0, "", yesterday());
    const int ann = addGuest("ann", "pw", inner.shareId, 1);
    EXPECT_TRUE(db().addUserToShare(outer.shareId, ann, 0));
    const std::string file = m_temp->write("data/inner/f.txt", "f");
    MessagePtr msg = getFile(file, GUEST, "ann");
    EXPECT_TRUE(allowed(msg));
    EXPECT_TRUE(
        contains(downloadHistory(), "<shareid>" + std::to_string(outer.shareId) + "</shareid>"));

    // Without the outer permission the expired share grants nothing.
    EXPECT_TRUE(db().deleteUserFromShare(outer.shareId, ann));
    EXPECT_FALSE(allowed(getFile(file, GUEST, "ann")));
}

TEST_F(GuestAccessControl, DownloadFileIsForwardedOnlyWhenGranted) {
    const std::string file = m_temp->write("pub/a b&c.txt", "x");
    addShare("pub", "pub", 1);
    std::string query;
    Poco::URI::encode(file, "&=+?#", query);
    MessagePtr granted = request("downloadfile", "filepath=" + query);
    deliver(granted);
    EXPECT_TRUE(repliesFor(granted).empty());
    ASSERT_TRUE(m_userManager->waitForCount(1));
    MessagePtr forwarded = m_userManager->messages().front();
    EXPECT_EQ(granted.get(), forwarded.get());
    EXPECT_EQ("1", (*forwarded)[GuestAccess::MS_GUESTACCESS].getString(GuestAccess::S_ALLOW));
    EXPECT_EQ(1, downloadCountInHistory());

    MessagePtr refused = request("downloadfile", "filepath=%2Fetc%2Fpasswd");
    deliver(refused);
    MessagePtr missing = request("downloadfile");
    deliver(missing);
    EXPECT_TRUE(repliesFor(refused).empty());
    EXPECT_TRUE(repliesFor(missing).empty());
    EXPECT_EQ(1u, m_userManager->count());
}

}  // namespace
