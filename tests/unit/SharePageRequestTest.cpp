// The share page handler through the real dispatcher: address parsing, the
// slash page, expiry, missing paths, the page kind and the file branch.
#include <Poco/DateTime.h>
#include <Poco/DateTimeFormat.h>
#include <Poco/DateTimeFormatter.h>
#include <Poco/Timespan.h>
#include <sys/stat.h>

#include "SharePageFixture.h"

using namespace SharePageTest;
using namespace Orvane::Defs;
using TestSupport::Reply;

namespace {

const char* const NOT_FOUND_MARK = "<!-- MESSAGE: Missing or Incorrect Share -->";

std::string sortable(const Poco::Timestamp& when) {
    return Poco::DateTimeFormatter::format(when, Poco::DateTimeFormat::SORTABLE_FORMAT);
}

std::string hoursFromNow(int hours) {
    return sortable(Poco::Timestamp() + Poco::Timespan(0, hours, 0, 0, 0));
}

bool isListPage(const std::string& body) {
    return contains(body, "id=\"files_active\"");
}
bool isGalleryPage(const std::string& body) {
    return contains(body, "id=\"gallery_active\"");
}
bool isMusicPage(const std::string& body) {
    return contains(body, "id=\"music_active\"");
}

class SharePageRequest : public ShareFixture {
protected:
    void SetUp() override {
        ShareFixture::SetUp();
        m_temp->write("pub/a.txt", "alpha");
        m_temp->write("pub/sub/b.txt", "beta!");
        m_temp->write("pub/a..b.txt", "dots");
        addShare("pub", "pub");
    }

    void expectNotFoundPage(const Reply& r, int status = 200) {
        EXPECT_EQ(status, r.status);
        EXPECT_EQ("text/html; charset=utf-8", r.contentType);
        EXPECT_TRUE(contains(r.body, NOT_FOUND_MARK)) << r.body.substr(0, 300);
        EXPECT_FALSE(r.hasField(HTTP::S_HTTP_SEND_FILE));
    }
};

TEST_F(SharePageRequest, MalformedAddressesGetTheDefaultErrorPage) {
    for (const std::string& op :
         std::vector<std::string>{"share", "share/", "shares", "sharepub/", "sharex/pub/"}) {
        SCOPED_TRACE(op);
        MessagePtr msg = request(op);
        setRequestField(msg, HTTP::S_HTTP_REQ_URL, "/app/dapplinepro/" + op);
        expectNotFoundPage(call(msg));
    }
    // ".." anywhere, even inside an existing file's name.
    expectNotFoundPage(get("pub/a..b.txt"));
    expectNotFoundPage(get("pub/sub/../a.txt"));
    expectNotFoundPage(get("nosuchshare/"));
    expectNotFoundPage(get("/pub/"));
    EXPECT_EQ(0, downloadCountInHistory());
}

TEST_F(SharePageRequest, LowSourceGetsAnXMLRefusal) {
    MessagePtr msg = shareRequest("pub/");
    msg->authSource = 69;
    Reply r = call(msg);
    EXPECT_EQ("text/xml; charset=utf-8", r.contentType);
    EXPECT_TRUE(contains(r.body, "<operation>Authentication Failed</operation>"));
    EXPECT_TRUE(contains(r.body, "Bad Source"));
}

TEST_F(SharePageRequest, FolderAddressWithoutTrailingSlashGetsTheSlashPage) {
    Reply r = get("pub/sub");
    EXPECT_EQ(200, r.status);
    const std::string spaces37(37, ' '), spaces38(38, ' ');
    EXPECT_EQ("<html><head><title>Orvane - Dappline</title></head>" + spaces37 +
                  "<body><h1>Orvane Dappline</h1>" + spaces37 +
                  "It appears your URL is missing a '/' at the end.<br />" + spaces38 +
                  "<a href=\"/app/dapplinepro/share/pub/sub/\" >Click here to Continue</a>" +
                  spaces38 + "</body></html>",
              r.body);
    EXPECT_TRUE(contains(get("pub").body, "href=\"/app/dapplinepro/share/pub/\""));
}

TEST_F(SharePageRequest, SlashPageEscapesTheAddress) {
    MessagePtr msg = shareRequest("pub");
    setRequestField(msg, HTTP::S_HTTP_REQ_URL, "/app/dapplinepro/share/pub\"><script>x()</script>");
    Reply r = call(msg);
    EXPECT_FALSE(contains(r.body, "<script>"));
    EXPECT_TRUE(contains(r.body, "pub&quot;&gt;&lt;script&gt;x()&lt;/script&gt;/\" >"));
}

TEST_F(SharePageRequest, FolderPageNeedsTheFullAddress) {
    MessagePtr msg = shareRequest("pub/");
    (*msg)[HTTP::MS_HTTP_REQ].erase(HTTP::S_HTTP_REQ_URL);
    expectNotFoundPage(call(msg));
}

TEST_F(SharePageRequest, MissingPathIs404) {
    expectNotFoundPage(get("pub/nothing.txt"), 404);
    expectNotFoundPage(get("pub/sub/nothing/"), 404);
}

TEST_F(SharePageRequest, ExpiredShareAnswersEveryAddressWithTheExpiryPage) {
    m_temp->write("old/pic.jpg", "jpeg");
    m_temp->write("old/in/c.txt", "c");
    addShare("old", "old", 1, "", hoursFromNow(-1));
    for (const std::string& address :
         std::vector<std::string>{"old/", "old", "old/in/", "old/pic.jpg", "old/missing.txt"}) {
        for (const std::string& query :
             std::vector<std::string>{"", "thumbsize=1", "viewsize=1", "startzip=1"}) {
            SCOPED_TRACE(address + "?" + query);
            Reply r = get(address, query);
            EXPECT_EQ(200, r.status);
            EXPECT_TRUE(contains(r.body, "<b>Folder Share Time Period Expired!</b>"));
            EXPECT_FALSE(r.hasField(HTTP::S_HTTP_SEND_FILE));
        }
    }
    // A share that expires later is open.
    addShare("later", "later", 1, "", hoursFromNow(5));
    EXPECT_TRUE(isListPage(get("later/").body));
    EXPECT_EQ(0, downloadCountInHistory());
}

TEST_F(SharePageRequest, ViewModeChoosesThePageUnlessVmNamesOne) {
    addShare("tunes", "tunes", 1, "MUSIC");
    addShare("pics", "pics", 1, "GALLERY");
    EXPECT_TRUE(isMusicPage(get("tunes/").body));
    EXPECT_TRUE(isMusicPage(get("tunes/", "vm=foo").body));
    EXPECT_TRUE(isListPage(get("tunes/", "vm=list").body));
    EXPECT_TRUE(isGalleryPage(get("tunes/", "vm=gallery").body));
    EXPECT_TRUE(isGalleryPage(get("pics/").body));
    EXPECT_TRUE(isMusicPage(get("pics/", "vm=music").body));
    EXPECT_TRUE(isListPage(get("pub/").body));
    EXPECT_TRUE(isListPage(get("pub/", "vm=LIST").body));
    EXPECT_TRUE(isGalleryPage(get("pub/", "vm=gallery").body));
}

TEST_F(SharePageRequest, FileAddressSendsTheFileAndWritesHistory) {
    Reply r = get("pub/sub/b.txt");
    EXPECT_EQ(m_temp->path() + "/pub/sub/b.txt", r.field(HTTP::S_HTTP_SEND_FILE));
    EXPECT_EQ("dapplinepro", r.field(Sync::S_SEND_FILE_COMPLETE_SERVICE));
    const std::string history = downloadHistory();
    EXPECT_EQ(1, downloadCountInHistory());
    EXPECT_TRUE(contains(history, "<sharelocation>" + m_temp->path() + "/pub/sub/b.txt"));
    EXPECT_TRUE(contains(history, "<userid>-1</userid><username>Anonymous</username>"));
    EXPECT_EQ(1u, m_plugin->downloadCount());
}

TEST_F(SharePageRequest, FileShareIsSentAtItsOwnAddress) {
    const std::string file = m_temp->write("single/report.pdf", "%PDF");
    addShare("report", file);
    for (const std::string& address : std::vector<std::string>{"report/", "report"}) {
        Reply r = get(address);
        EXPECT_EQ(file, r.field(HTTP::S_HTTP_SEND_FILE)) << address;
    }
    expectNotFoundPage(get("report/x"), 404);
}

TEST_F(SharePageRequest, ImageQueriesAskForAPictureNotTheFile) {
    // a.txt is no picture: the image reply fails and the visitor gets the
    // default page instead of the file.
    for (const std::string& query :
         std::vector<std::string>{"thumbsize=1", "viewsize=1", "thumbsize=2&viewsize=1"}) {
        expectNotFoundPage(get("pub/a.txt", query));
    }
    EXPECT_EQ(0, downloadCountInHistory());
    EXPECT_EQ(0u, m_plugin->downloadCount());
}

TEST_F(SharePageRequest, ZipQueriesGoToTheZipJobs) {
    Reply r = get("pub/sub/", "startzip");
    EXPECT_FALSE(isListPage(r.body));
    EXPECT_FALSE(r.hasField(HTTP::S_HTTP_SEND_FILE));
    EXPECT_EQ(1u, m_plugin->zipJobCount());
    // Zip queries win over the page kind and over a file address's download.
    EXPECT_FALSE(isListPage(get("pub/sub/", "zipstatus&id=1&vm=list").body));
    EXPECT_FALSE(get("pub/a.txt", "downloadaszip&id=1").hasField(HTTP::S_HTTP_SEND_FILE));
}

TEST_F(SharePageRequest, RefusedFileIsNotAnsweredNorCounted) {
    const std::string fifo = m_temp->path() + "/pub/pipe";
    ASSERT_EQ(0, ::mkfifo(fifo.c_str(), 0600));
    MessagePtr msg = shareRequest("pub/pipe");
    deliver(msg);
    EXPECT_TRUE(repliesFor(msg).empty());
    EXPECT_EQ(0, downloadCountInHistory());
    EXPECT_EQ(0u, m_plugin->downloadCount());
}

TEST_F(SharePageRequest, BadQueryEncodingGetsTheDefaultErrorPage) {
    expectNotFoundPage(get("pub/", "vm=%zz"));
}

}  // namespace
