// Upload decisions: the order in which START_UPLOAD refuses, the folder it
// hands the host, the history line of FINISH_UPLOAD, the explorer's
// START_GUEST_UPLOAD mark, and the folder size behind the size limit: the
// share's in-memory accounting with its reservations.
#include <Poco/DateTimeFormat.h>
#include <Poco/DateTimeFormatter.h>
#include <Poco/Timespan.h>
#include <unistd.h>

#include "SharePageFixture.h"
#include "orvane/storage/ShareSpace.h"
#include "orvane/storage/SpaceFields.h"

using namespace SharePageTest;
using namespace Orvane::Defs;
using TestSupport::Reply;

namespace {

const int GUEST = 30;
const int READ = 0;
const int WRITE = 1;

std::string yesterday() {
    return Poco::DateTimeFormatter::format(Poco::Timestamp() - Poco::Timespan(1, 0, 0, 0, 0),
                                           Poco::DateTimeFormat::SORTABLE_FORMAT);
}

class UploadFixture : public ShareFixture {
protected:
    // The upload path's question, with Basic credentials when given.
    MessagePtr startUpload(const std::string& shareName, const std::string& dirName,
                           const std::string& credentials = "") {
        std::string query =
            "appname=dapplinepro&sharename=" + encode(shareName) + "&dirname=" + encode(dirName);
        MessagePtr msg = request("START_UPLOAD", query);
        if (!credentials.empty())
            setRequestField(msg, HTTP::S_HTTP_REQ_CREDENTIALS_INFO, credentials);
        return msg;
    }

    static std::string encode(const std::string& text) {
        std::string out;
        Poco::URI::encode(text, "&=+#?/", out);
        return out;
    }

    // Answer of a refusal: ALLOW 0, no folder, the error page naming `text`.
    void expectRefusal(const Reply& r, const std::string& text) {
        EXPECT_EQ("0", r.field(HTTP::S_HTTP_RESP_ALLOW));
        EXPECT_EQ("", r.field(HTTP::S_HTTP_RESP_DIRNAME));
        EXPECT_TRUE(contains(r.body, "<b>" + text + "</b>")) << r.body;
        EXPECT_FALSE(r.hasField(HTTP::S_HTTP_RESP_AUTHENTICATION_REALM));
    }

    void expectChallenge(const Reply& r) {
        EXPECT_EQ("Orvane Dappline", r.field(HTTP::S_HTTP_RESP_AUTHENTICATION_REALM));
        EXPECT_FALSE(r.hasField(HTTP::S_HTTP_RESP_ALLOW));
    }

    // A private share "box" with a writing guest ann and a reading guest bob.
    void SetUp() override {
        ShareFixture::SetUp();
        m_box = addShare("box", "box", 0);
        m_ann = addGuest("ann", "secret", m_box.shareId, WRITE);
        m_bob = addGuest("bob", "pw", m_box.shareId, READ);
    }

    Orvane::Dappline::Dappline m_box;
    int m_ann = -1, m_bob = -1;
};

TEST_F(UploadFixture, RefusesInOrderSourceLockoutShareExpiryCredentials) {
    MessagePtr internal = startUpload("box", "box", "ann:secret");
    internal->authSource = 50;
    Reply r = call(internal);
    EXPECT_TRUE(contains(r.body, "<operation>Authentication Failed</operation>")) << r.body;
    EXPECT_TRUE(contains(r.body, "<success>0</success>"));

    expectRefusal(call(startUpload("nosuch", "nosuch", "ann:secret")), "Invalid Share Name");

    // Expiry is told before anybody is asked who they are.
    addShare("old", "old", 0, "", yesterday());
    expectRefusal(call(startUpload("old", "old")), "Folder Share Time Period Expired!");

    // No credentials: the challenge, and no attempt counted.
    expectChallenge(call(startUpload("box", "box")));
    EXPECT_FALSE(m_plugin->areUploadsLocked());

    for (int i = 0; i < 5; ++i)
        expectChallenge(call(startUpload("box", "box", "ann:wrong")));
    ASSERT_TRUE(m_plugin->areUploadsLocked());
    // Locked: even right credentials on a known share are turned away first.
    expectRefusal(call(startUpload("box", "box", "ann:secret")), "Too many Bad Login Attempts");
    expectRefusal(call(startUpload("nosuch", "nosuch")), "Too many Bad Login Attempts");
}

TEST_F(UploadFixture, WriteRightIsNeededAndPublicSharesNeverTakeUploads) {
    expectRefusal(call(startUpload("box", "box", "bob:pw")), "No upload access for the user");

    const auto open = addShare("open", "open", 1);
    addGuest("cy", "pw", open.shareId, WRITE);
    expectRefusal(call(startUpload("open", "open", "cy:pw")), "No upload access for the user");
    // Without credentials a public share still asks who the visitor is.
    expectChallenge(call(startUpload("open", "open")));

    // A signed-in guest is known without Basic credentials.
    MessagePtr signedIn = startUpload("box", "box");
    signedIn->authRole = GUEST;
    signedIn->authUser = "ann";
    EXPECT_EQ("1", call(signedIn).field(HTTP::S_HTTP_RESP_ALLOW));
}

TEST_F(UploadFixture, SizeLimitCountsTheFolderHiddenFilesAndWritesUnderWay) {
    using Orvane::Storage::ShareSpace;
    const auto small = addShare("small", "small", 0, "", "", 1);  // 1 KiB
    addGuest("dee", "pw", small.shareId, WRITE);
    const std::string root = m_temp->path() + "/small";
    m_temp->write("small/a.bin", std::string(1000, 'a'));
    m_temp->write("small/.git/objects", std::string(20, 'h'));
    m_temp->write("small/sub/.b", std::string(4, 'b'));
    m_temp->write("small/.orvane-part-x", std::string(5000, 't'));  // held by its reservation
    // Exactly at the limit still accepts, and names the share to the host.
    Reply atLimit = call(startUpload("small", "small", "dee:pw"));
    EXPECT_EQ("1", atLimit.field(HTTP::S_HTTP_RESP_ALLOW));
    EXPECT_EQ(root, atLimit.field(Space::S_SHARE_ROOT));
    EXPECT_EQ("1024", atLimit.field(Space::S_SIZE_LIMIT));
    // An upload that says it brings more is refused before its first byte.
    MessagePtr declared = startUpload("small", "small", "dee:pw");
    (*declared)[HTTP::MS_HTTP_REQ][Space::S_UPLOAD_LENGTH] = 1;
    expectRefusal(call(declared), "Unable to upload file(s). Size Limit Exceeded");

    // Room held by a write under way counts until the write settles.
    m_temp->write("small/a.bin", std::string(900, 'a'));
    ShareSpace::instance().forget(root);  // changed behind the host's back
    const std::uint64_t held = ShareSpace::instance().reserve(root, 1024, 100);
    ASSERT_NE(0u, held);
    EXPECT_EQ(0u, ShareSpace::instance().reserve(root, 1024, 1));
    EXPECT_FALSE(ShareSpace::instance().extend(held, 101));
    m_temp->write("small/.c", std::string(101, 'c'));
    ShareSpace::instance().settle(held, 101);
    expectRefusal(call(startUpload("small", "small", "dee:pw")),
                  "Unable to upload file(s). Size Limit Exceeded");
    ShareSpace::instance().changed(root, -101);
    EXPECT_EQ("1", call(startUpload("small", "small", "dee:pw")).field(HTTP::S_HTTP_RESP_ALLOW));
}

TEST_F(UploadFixture, ClimbingPathsAreRefused) {
    for (const std::string dir : {"box/../etc", "box/a/..", "box/a..b", "box/..hidden"})
        expectRefusal(call(startUpload("box", dir, "ann:secret")), "Bad Params");
    EXPECT_FALSE(Poco::File(m_temp->path() + "/box/a..b").exists());
}

TEST_F(UploadFixture, AllowsIntoTheNamedFolderCreatingIt) {
    Reply r = call(startUpload("box", "box/2010/june", "ann:secret"));
    const std::string folder = m_temp->path() + "/box/2010/june";
    EXPECT_EQ("1", r.field(HTTP::S_HTTP_RESP_ALLOW));
    EXPECT_EQ(folder, r.field(HTTP::S_HTTP_RESP_DIRNAME));
    EXPECT_TRUE(Poco::File(folder).isDirectory());
    EXPECT_EQ(200, r.status);
    EXPECT_EQ("text/html; charset=utf-8", r.contentType);
    EXPECT_EQ(
        "<HEAD><SCRIPT language='JavaScript'>\n<!--\n"
        "window.location='../../../app/dapplinepro/share/box/2010/june';\n//-->\n</SCRIPT>\n"
        "<!-- MESSAGE: FILE UPLOAD: OK --></HEAD>\n",
        r.body);
}

TEST_F(UploadFixture, ShareComesFromShareNameNotFromTheFolderAddress) {
    addShare("other", "other", 0);
    Reply own = call(startUpload("box", "box", "ann:secret"));
    EXPECT_EQ(m_temp->path() + "/box", own.field(HTTP::S_HTTP_RESP_DIRNAME));
    EXPECT_TRUE(contains(own.body, "window.location='../../../app/dapplinepro/share/box';"));

    Reply r = call(startUpload("box", "other/in", "ann:secret"));
    EXPECT_EQ(m_temp->path() + "/box/in", r.field(HTTP::S_HTTP_RESP_DIRNAME));
}

TEST_F(UploadFixture, RedirectCannotBreakOutOfItsScript) {
    Reply r = call(startUpload("box", "box/it's </SCRIPT> \\", "ann:secret"));
    ASSERT_EQ("1", r.field(HTTP::S_HTTP_RESP_ALLOW));
    EXPECT_TRUE(Poco::File(m_temp->path() + "/box/it's </SCRIPT> \\").isDirectory());
    const std::string line = r.body.substr(r.body.find("window.location="));
    const std::string address = line.substr(0, line.find('\n'));
    EXPECT_EQ("window.location='../../../app/dapplinepro/share/box/it%27s%20%3C/SCRIPT%3E%20%5C';",
              address);
}

TEST_F(UploadFixture, TargetThatIsAFileIsRefused) {
    m_temp->write("box/taken", "x");
    expectRefusal(call(startUpload("box", "box/taken", "ann:secret")),
                  "Unable to upload file(s) : Error Making Path");
}

class UploadFinish : public UploadFixture {
protected:
    MessagePtr finish(const std::string& query, const std::string& shareField,
                      const std::string& credentials, const std::string& path, long long size) {
        MessagePtr msg = request("FINISH_UPLOAD", query);
        if (!credentials.empty())
            setRequestField(msg, HTTP::S_HTTP_REQ_CREDENTIALS_INFO, credentials);
        if (!shareField.empty())
            setRequestField(msg, HTTP::S_HTTP_REQ_SHARENAME, shareField);
        setRequestField(msg, HTTP::S_HTTP_REQ_UPLOADFILEPATH, path);
        (*msg)[HTTP::MS_HTTP_REQ][HTTP::S_HTTP_REQ_UPLOADFILESIZE] = size;
        return msg;
    }
    std::string uploads() { return db().getHistoryXML(0, 100, -1, "UL"); }
};

TEST_F(UploadFinish, RecordsOneUploadLineForTheGuest) {
    const std::string file = m_temp->write("box/photo.jpg", std::string(2048, 'p'));
    MessagePtr msg = finish("", "box", "ann:secret", file, 2048);
    deliver(msg);
    EXPECT_TRUE(repliesFor(msg).empty());
    const std::string xml = uploads();
    EXPECT_EQ(1u, countOf(xml, "<history>")) << xml;
    EXPECT_TRUE(contains(xml, "<shareid>" + std::to_string(m_box.shareId) + "</shareid>"));
    EXPECT_TRUE(contains(xml, "<sharelocation>" + file + "</sharelocation>"));
    EXPECT_TRUE(contains(xml, "<filesize>2 KB</filesize>"));
    EXPECT_TRUE(contains(xml, "<userid>" + std::to_string(m_ann) + "</userid>"));
    EXPECT_TRUE(contains(xml, "<username>ann</username>"));
    EXPECT_EQ(0, downloadCountInHistory());
}

TEST_F(UploadFinish, QueryShareNameWinsAndStrangersRecordNothing) {
    addShare("other", "other", 0);
    deliver(finish("sharename=box", "other", "ann:secret", "/x", 1));
    EXPECT_EQ(1u, countOf(uploads(), "<history>"));

    deliver(finish("", "nosuch", "ann:secret", "/x", 1));
    deliver(finish("", "box", "", "/x", 1));              // unidentified
    deliver(finish("", "other", "ann:secret", "/x", 1));  // no permission there
    EXPECT_EQ(1u, countOf(uploads(), "<history>"));

    MessagePtr internal = finish("", "box", "ann:secret", "/x", 1);
    internal->authSource = 50;
    EXPECT_TRUE(contains(call(internal).body, "Authentication Failed"));
    EXPECT_EQ(1u, countOf(uploads(), "<history>"));
}

class UploadGuestMark : public UploadFixture {
protected:
    // The explorer's question for a signed-in guest; the answer it gets back.
    MessagePtr askedByExplorer(const std::string& path, const std::string& user) {
        MessagePtr msg = request("START_GUEST_UPLOAD", "path=" + encode(path), GUEST);
        msg->authUser = user;
        const std::size_t before = m_explorer->count();
        deliver(msg);
        EXPECT_TRUE(m_explorer->waitForCount(before + 1));
        return m_explorer->messages().back();
    }
    static std::string mark(const MessagePtr& msg) {
        const auto* row = msg->findSection(GuestAccess::MS_GUESTACCESS);
        return row ? row->getString(GuestAccess::S_ALLOW) : "absent";
    }
};

TEST_F(UploadGuestMark, MarksAndHandsTheSameMessageToTheExplorer) {
    const std::string inside = m_temp->path() + "/box/sub";
    MessagePtr ann = askedByExplorer(inside, "ann");
    EXPECT_EQ("1", mark(ann));
    EXPECT_EQ("explorer", ann->target);
    EXPECT_EQ("START_UPLOAD", ann->operation);
    EXPECT_TRUE(repliesFor(ann).empty());

    EXPECT_EQ("0", mark(askedByExplorer(inside, "bob")));  // reads only
    EXPECT_EQ("0", mark(askedByExplorer(m_temp->path() + "/elsewhere", "ann")));
    EXPECT_EQ("0", mark(askedByExplorer(inside, "nobody")));
}

TEST_F(UploadGuestMark, SizeLimitAppliesToTheExplorerToo) {
    const auto small = addShare("small", "small", 0, "", "", 1);
    addGuest("dee", "pw", small.shareId, WRITE);
    m_temp->write("small/a.bin", std::string(1024, 'a'));
    MessagePtr allowed = askedByExplorer(m_temp->path() + "/small", "dee");
    EXPECT_EQ("1", mark(allowed));
    const auto* row = allowed->findSection(GuestAccess::MS_GUESTACCESS);
    EXPECT_EQ(m_temp->path() + "/small", row->getString(Space::S_SHARE_ROOT));
    EXPECT_EQ("1024", row->getString(Space::S_SIZE_LIMIT));
    m_temp->write("small/b.bin", "b");
    Orvane::Storage::ShareSpace::instance().forget(m_temp->path() + "/small");
    MessagePtr full = askedByExplorer(m_temp->path() + "/small", "dee");
    EXPECT_EQ("0", mark(full));
    EXPECT_EQ(
        "1",
        full->findSection(GuestAccess::MS_GUESTACCESS)->getString(Space::S_SIZE_LIMIT_EXCEEDED));
}

TEST_F(UploadGuestMark, MissingPathIsNotAnswered) {
    MessagePtr msg = request("START_GUEST_UPLOAD", "", GUEST);
    msg->authUser = "ann";
    const std::size_t before = m_explorer->count();
    deliver(msg);
    EXPECT_EQ(before, m_explorer->count());
    EXPECT_TRUE(repliesFor(msg).empty());
}

TEST_F(UploadFixture, FolderSizeSurvivesLinkLoops) {
    m_temp->write("loop/a.bin", std::string(100, 'a'));
    m_temp->write("loop/sub/b.bin", std::string(10, 'b'));
    ASSERT_EQ(0, ::symlink((m_temp->path() + "/loop").c_str(),
                           (m_temp->path() + "/loop/sub/up").c_str()));
    ASSERT_EQ(0, ::symlink("sub", (m_temp->path() + "/loop/again").c_str()));
    // A link to a folder elsewhere is followed, as the folder test does.
    m_temp->write("outside/c.bin", std::string(7, 'c'));
    ASSERT_EQ(0, ::symlink((m_temp->path() + "/outside").c_str(),
                           (m_temp->path() + "/loop/ext").c_str()));
    EXPECT_EQ(117, m_plugin->getSharedFolderSize(m_temp->path() + "/loop"));
}

}  // namespace
