// WebDAV decisions: what the plug-in tells the host about a WebDAV request
// on a share address (target folder, client-side base, write right, COPY and
// MOVE destination), reached through the share handler as the host sends it.
#include <Poco/DateTimeFormat.h>
#include <Poco/DateTimeFormatter.h>
#include <Poco/Timespan.h>

#include "SharePageFixture.h"
#include "orvane/storage/ShareSpace.h"

using namespace SharePageTest;
using namespace Orvane::Defs;
using TestSupport::Reply;

namespace {

const int READ = 0;
const int WRITE = 1;

class WebDAVDecision : public ShareFixture {
protected:
    void SetUp() override {
        ShareFixture::SetUp();
        m_temp->write("pub/a.txt", "a");
        addShare("pub", "pub", 1);
        m_box = addShare("box", "box", 0);
        addGuest("ann", "secret", m_box.shareId, WRITE);
        addGuest("bob", "pw", m_box.shareId, READ);
    }

    // A WebDAV request as the host's front builds it for the share handler.
    MessagePtr dav(const std::string& method, const std::string& address,
                   const std::string& credentials = "", const std::string& destination = "") {
        MessagePtr msg = shareRequest(address);
        setRequestField(msg, HTTP::S_HTTP_REQ_METHOD, method);
        setRequestField(msg, HTTP::S_HTTP_REQ_WEBDAV_OPERATION, method);
        if (!credentials.empty())
            setRequestField(msg, HTTP::S_HTTP_REQ_CREDENTIALS_INFO, credentials);
        if (!destination.empty())
            setRequestField(msg, HTTP::S_HTTP_REQ_DESTINATION, destination);
        return msg;
    }

    static void expectRefused(const Reply& r, const std::string& shareName = "") {
        EXPECT_EQ("0", r.field(HTTP::S_HTTP_RESP_ALLOW));
        EXPECT_EQ("0", r.field(HTTP::S_HTTP_RESP_ALLOW_WRITE));
        EXPECT_EQ("", r.field(HTTP::S_HTTP_RESP_DIRNAME));
        EXPECT_EQ("", r.field("BASE"));
        EXPECT_EQ("", r.field(HTTP::S_HTTP_REQ_DESTINATION));
        EXPECT_EQ(shareName, r.field(HTTP::S_HTTP_REQ_SHARENAME));
        EXPECT_TRUE(r.body.empty());
    }

    std::string url(const std::string& address) const {
        return "http://127.0.0.1:8080/app/dapplinepro/share/" + address;
    }

    Orvane::Dappline::Dappline m_box;
};

TEST_F(WebDAVDecision, ShareListAndClimbingAddressesAreRefused) {
    for (const std::string op : {"share", "share/"}) {
        MessagePtr msg = dav("PROPFIND", "");
        msg->operation = op;
        expectRefused(call(msg));
    }
    // Refused before any share is looked up: no challenge for the private one.
    expectRefused(call(dav("PROPFIND", "box/../pub/")));
    expectRefused(call(dav("PROPFIND", "nosuch/")));
    expectRefused(call(dav("PROPFIND", "/x")));

    MessagePtr odd = dav("PROPFIND", "");
    odd->operation = "shares/pub";
    deliver(odd);
    EXPECT_TRUE(repliesFor(odd).empty());
}

TEST_F(WebDAVDecision, PublicShareAnswersItsFolderAndNeverWrites) {
    Reply r = call(dav("PROPFIND", "pub"));
    EXPECT_EQ("1", r.field(HTTP::S_HTTP_RESP_ALLOW));
    EXPECT_EQ("0", r.field(HTTP::S_HTTP_RESP_ALLOW_WRITE));
    EXPECT_EQ(m_temp->path() + "/pub", r.field(HTTP::S_HTTP_RESP_DIRNAME));
    EXPECT_EQ("/app/dapplinepro/share/pub/", r.field("BASE"));  // the "/" the URL lacked
    EXPECT_EQ("pub", r.field(HTTP::S_HTTP_REQ_SHARENAME));
    EXPECT_EQ("", r.field(HTTP::S_HTTP_REQ_DESTINATION));
    EXPECT_EQ(200, r.status);

    EXPECT_EQ("/app/dapplinepro/share/pub/", call(dav("PROPFIND", "pub/")).field("BASE"));
    Reply file = call(dav("GET", "pub/a.txt"));
    EXPECT_EQ("/app/dapplinepro/share/pub/a.txt", file.field("BASE"));
    EXPECT_EQ(m_temp->path() + "/pub/a.txt", file.field(HTTP::S_HTTP_RESP_DIRNAME));

    // A guest with write permission still cannot write a public share.
    const auto open = addShare("open", "open", 1);
    addGuest("cy", "pw", open.shareId, WRITE);
    EXPECT_EQ("0", call(dav("PUT", "open/x", "cy:pw")).field(HTTP::S_HTTP_RESP_ALLOW_WRITE));
}

TEST_F(WebDAVDecision, PrivateShareAsksAndGivesEachGuestTheirRight) {
    Reply challenge = call(dav("PROPFIND", "box/"));
    EXPECT_EQ("Orvane Dappline", challenge.field(HTTP::S_HTTP_RESP_AUTHENTICATION_REALM));
    EXPECT_FALSE(challenge.hasField(HTTP::S_HTTP_RESP_ALLOW));

    Reply ann = call(dav("MKCOL", "box/new", "ann:secret"));
    EXPECT_EQ("1", ann.field(HTTP::S_HTTP_RESP_ALLOW));
    EXPECT_EQ("1", ann.field(HTTP::S_HTTP_RESP_ALLOW_WRITE));
    EXPECT_EQ(m_temp->path() + "/box/new", ann.field(HTTP::S_HTTP_RESP_DIRNAME));
    EXPECT_EQ("/app/dapplinepro/share/box/new", ann.field("BASE"));

    EXPECT_EQ("0", call(dav("MKCOL", "box/new", "bob:pw")).field(HTTP::S_HTTP_RESP_ALLOW_WRITE));
}

TEST_F(WebDAVDecision, ExpiredShareIsRefusedWithItsName) {
    const std::string past = Poco::DateTimeFormatter::format(
        Poco::Timestamp() - Poco::Timespan(0, 1, 0, 0, 0), Poco::DateTimeFormat::SORTABLE_FORMAT);
    addShare("old", "old", 1, "", past);
    expectRefused(call(dav("PROPFIND", "old/")), "old");
}

TEST_F(WebDAVDecision, PutOverTheLimitLosesOnlyTheWriteOfPut) {
    const auto small = addShare("small", "small", 0, "", "", 1);
    addGuest("dee", "pw", small.shareId, WRITE);
    m_temp->write("small/a.bin", std::string(1024, 'a'));
    Reply atLimit = call(dav("PUT", "small/b.bin", "dee:pw"));
    EXPECT_EQ("1", atLimit.field(HTTP::S_HTTP_RESP_ALLOW_WRITE));
    EXPECT_EQ("1024", atLimit.field("SIZE_LIMIT"));
    EXPECT_FALSE(atLimit.hasField("SIZE_LIMIT_EXCEEDED"));

    m_temp->write("small/b.bin", "b");
    Orvane::Storage::ShareSpace::instance().forget(m_temp->path() + "/small");
    Reply over = call(dav("PUT", "small/c.bin", "dee:pw"));
    EXPECT_EQ("1", over.field(HTTP::S_HTTP_RESP_ALLOW));
    EXPECT_EQ("0", over.field(HTTP::S_HTTP_RESP_ALLOW_WRITE));
    EXPECT_EQ("1", over.field("SIZE_LIMIT_EXCEEDED"));
    EXPECT_EQ(m_temp->path() + "/small/c.bin", over.field(HTTP::S_HTTP_RESP_DIRNAME));
    EXPECT_EQ("1",
              call(dav("DELETE", "small/b.bin", "dee:pw")).field(HTTP::S_HTTP_RESP_ALLOW_WRITE));
    EXPECT_EQ("0", call(dav("PUT", "box/x", "bob:pw")).field("SIZE_LIMIT"));
}

TEST_F(WebDAVDecision, DestinationIsResolvedOnlyInsideTheSameShare) {
    Reply same = call(dav("MOVE", "box/a.txt", "ann:secret", url("box/sub/b%20c.txt")));
    EXPECT_EQ(m_temp->path() + "/box/sub/b c.txt", same.field(HTTP::S_HTTP_REQ_DESTINATION));
    EXPECT_EQ("1", same.field(HTTP::S_HTTP_RESP_ALLOW_WRITE));
    // Some clients send the path alone.
    Reply pathOnly =
        call(dav("COPY", "box/a.txt", "ann:secret", "/app/dapplinepro/share/box/d.txt"));
    EXPECT_EQ(m_temp->path() + "/box/d.txt", pathOnly.field(HTTP::S_HTTP_REQ_DESTINATION));

    addShare("box2", "box2", 0);
    for (const std::string& other : {url("pub/a.txt"), url("box2/a.txt"), url("boxes")}) {
        Reply r = call(dav("MOVE", "box/a.txt", "ann:secret", other));
        EXPECT_EQ("1", r.field(HTTP::S_HTTP_RESP_ALLOW)) << other;
        EXPECT_EQ("", r.field(HTTP::S_HTTP_REQ_DESTINATION)) << other;
    }
}

TEST_F(WebDAVDecision, DestinationLeavingTheShareIsRefused) {
    for (const std::string& climb :
         {url("box/../pub/a.txt"), url("box/%2e%2e/%2E%2E/etc/passwd"), url("box/sub/..")}) {
        expectRefused(call(dav("COPY", "box/a.txt", "ann:secret", climb)));
    }
}

}  // namespace
