// How a delivered message finds its handler: the hand-over to the deferred
// workers, share pages, the operation table, the owner gate and the files of
// the resource archive, with the credentials challenge of force_auth.gif.
#include <Poco/Exception.h>
#include <gtest/gtest.h>

#include <stdexcept>
#include <string>
#include <vector>

#include "TestSupport.h"
#include "core/DapplinePlugin.h"
#include "orvane/Customization.h"
#include "orvane/Defs.h"
#include "orvane/Dispatcher.h"
#include "orvane/HTTPUtil.h"
#include "orvane/OpProcessor.h"
#include "orvane/PoManager.h"
#include "orvane/ProfileManager.h"

using namespace Orvane;
using namespace Orvane::Defs;
using TestSupport::MessagePtr;
using TestSupport::Reply;

namespace {

const std::string SOURCE_RESOURCES = ORVANE_TEST_SOURCE_DIR "/plugins/plugindappline/resources/";

const char* const OPERATIONS[] = {
    "getshares",
    "getsharesfilter",
    "getusersforshare",
    "getaddusersforshare",
    "getuseraccessforshare",
    "setuseraccessforshare",
    "addshare",
    "updateshare",
    "deleteshare",
    "addusertoshare",
    "deleteuserfromshare",
    "gethistory",
    "clearhistory",
    "clearcache",
    "getstatus",
    "sendsharetoemail",
    "geturlforemail",
    "showgs",
    "setshowgs",
    "getcustomheader",
    "setcustomheader",
    "startcaching",
    "cancelcaching",
    "imageprecache",
    "getcachestatus",
    "getsharedfoldersize",
    "getprivateurlforemail",
    "getdownloadlist",
    "setallowpublicaccess",
    "quickshare",
    "SEND_FILE_COMPLETE",
    "CANCELSYNC",
    "START_UPLOAD",
    "FINISH_UPLOAD",
    "TIMER",
    "START_WEBDAV_REQ",
    "getguestshares",
    "getfilelist",
    "getdirectorylist",
    "getfsthumbimage",
    "getfsslideimage",
    "getfolder.jpg",
    "GETFILE",
    "downloadfile",
    "START_GUEST_UPLOAD",
    "createfolder",
    "renamefile",
    "deletefile",
    "copyfile",
    "renameormove",
    "startzip",
    "getvideocaps",
    "getmetadatainfo",
    "splitfilepaths",
    "fileexists",
};

bool isResourceAnswer(const Reply& reply) {
    return reply.field(HTTP::S_HTTP_SET_CACHE_CONTROL) == "max-age=1800";
}

}  // namespace

class PluginDispatch : public TestSupport::PluginFixture {
protected:
    void SetUp() override {
        PluginFixture::SetUp();
        m_language = Orvane::PoManager().getLanguage();
        Orvane::PoManager().setLanguage("en");
    }
    void TearDown() override {
        Orvane::PoManager().setLanguage(m_language);
        Orvane::CustomizationManager().clear();
        PluginFixture::TearDown();
    }

    MessagePtr tick(int source, int role) {
        MessagePtr msg = request(Timer::MO_TIMER, "", role);
        msg->authSource = source;
        return msg;
    }

    std::string m_language;
};

TEST_F(PluginDispatch, FirstDeliveryIsHandedOverOnceAndUnanswered) {
    TestSupport::CaptureService probe("DeferProbe");
    MessagePtr msg = request("dapplinepro.css");
    msg->target = "DeferProbe";  // the re-delivery lands here, not in the plug-in

    System::DeliveryContext direct;
    m_plugin->onMessage(&direct, msg);
    Orvane::stopDeferredDispatcher();  // drains the queue

    ASSERT_EQ(1u, probe.count());
    EXPECT_EQ(msg.get(), probe.messages()[0].get());
    EXPECT_EQ("dapplinepro.css", probe.messages()[0]->operation);
    EXPECT_TRUE(repliesFor(msg).empty());

    System::DeliveryContext deferred;
    deferred.deferred = 1;
    m_plugin->onMessage(&deferred, msg);
    std::vector<Reply> replies = repliesFor(msg);
    ASSERT_EQ(1u, replies.size());
    EXPECT_EQ(200, replies[0].status);
}

TEST_F(PluginDispatch, OperationsStartingWithShareReachTheSharePages) {
    for (const char* op : {"share", "shares", "sharefoo", "share/nosuchshare/"}) {
        Reply reply = call(request(op));
        EXPECT_EQ("text/html; charset=utf-8", reply.contentType) << op;
        EXPECT_FALSE(isResourceAnswer(reply)) << op;
    }
}

TEST_F(PluginDispatch, EveryTableOperationIsHandledByTheTable) {
    for (const char* op : OPERATIONS) {
        MessagePtr msg = request(op);
        deliver(msg);
        for (const Reply& reply : repliesFor(msg)) {
            EXPECT_FALSE(isResourceAnswer(reply)) << op << " was served as a resource file";
        }
    }
    // Names match exactly: another case is a resource name.
    EXPECT_TRUE(isResourceAnswer(call(request("GETSHARES"))));
}

TEST_F(PluginDispatch, ArchiveFilesAreServedCachedWithTheirType) {
    Reply css = call(request("dapplinepro.css"));
    EXPECT_EQ(200, css.status);
    EXPECT_EQ(Util::HTTP::getHTTPContentType("dapplinepro.css"), css.contentType);
    EXPECT_EQ("max-age=1800", css.field(HTTP::S_HTTP_SET_CACHE_CONTROL));
    EXPECT_EQ(TestSupport::readFile(SOURCE_RESOURCES + "dapplinepro.css"), css.body);

    Reply missing = call(request("images/not-in-the-archive.png"));
    EXPECT_EQ(200, missing.status);
    EXPECT_EQ("text/html", missing.contentType);
    EXPECT_EQ("max-age=1800", missing.field(HTTP::S_HTTP_SET_CACHE_CONTROL));
    EXPECT_EQ(m_plugin->getErrorHTML(""), missing.body);
}

TEST_F(PluginDispatch, ForceAuthChallengesVisitorsWithoutCredentials) {
    const std::string challengePage =
        m_plugin->getErrorHTML("Invalid Authorization to Access Page");
    for (int role : {0, 100}) {
        Reply reply = call(request("force_auth.gif", "", role));
        EXPECT_EQ(200, reply.status) << role;
        EXPECT_EQ("text/html; charset=utf-8", reply.contentType) << role;
        EXPECT_EQ("Orvane Dappline", reply.field(HTTP::S_HTTP_RESP_AUTHENTICATION_REALM)) << role;
        EXPECT_EQ(challengePage, reply.body) << role;
        EXPECT_EQ("dapplinepro", reply.msg->sender);
    }

    Orvane::CustomizationManager().setCustomizationValue("PRODUCT_NAME", "Acme");
    EXPECT_EQ("Acme Dappline",
              call(request("force_auth.gif")).field(HTTP::S_HTTP_RESP_AUTHENTICATION_REALM));
}

TEST_F(PluginDispatch, ForceAuthIsTheImageForGuestsAndPresentedCredentials) {
    const std::string gif = TestSupport::readFile(SOURCE_RESOURCES + "force_auth.gif");
    ASSERT_NE(std::string::npos, gif.find('\0'));  // served byte for byte

    MessagePtr withCredentials = request("force_auth.gif");
    (*withCredentials)[HTTP::MS_HTTP_REQ][HTTP::S_HTTP_REQ_CREDENTIALS_INFO] = "ann:secret";
    for (const MessagePtr& msg : {request("force_auth.gif", "", 30), withCredentials}) {
        Reply reply = call(msg);
        EXPECT_EQ("image/gif", reply.contentType);
        EXPECT_EQ(gif, reply.body);
        EXPECT_FALSE(reply.hasField(HTTP::S_HTTP_RESP_AUTHENTICATION_REALM));
        EXPECT_EQ("max-age=1800", reply.field(HTTP::S_HTTP_SET_CACHE_CONTROL));
    }
}

TEST_F(PluginDispatch, OwnerGateRefusesAtEachBoundary) {
    Reply lowSource = call(tick(69, 100));
    EXPECT_EQ(Util::HTTP::getXMLResult("Authentication Failed", false, "Bad Source"),
              lowSource.body);
    EXPECT_EQ("text/xml; charset=utf-8", lowSource.contentType);

    EXPECT_EQ(Util::HTTP::getXMLResult("Authentication Failed", false, "Bad Role"),
              call(tick(70, 99)).body);

    MessagePtr owner = tick(70, 100);
    deliver(owner);
    EXPECT_TRUE(repliesFor(owner).empty()) << "the owner's tick passes the gate silently";

    API::ProfileManager::unloadProfile();
    EXPECT_EQ(Util::HTTP::getXMLResult("Profile Unavailable", false,
                                       "No Profile Available for Operation"),
              call(tick(70, 100)).body);
}

// The operation table on its own, with handlers that misbehave.
class Probe {
public:
    typedef Util::OpProcessor<Probe> Table;

    void first(const void*, MessagePtr& msg) { calls.push_back("first:" + msg->operation); }
    void second(const void*, MessagePtr& msg) { calls.push_back("second:" + msg->operation); }
    void throwsPoco(const void*, MessagePtr&) { throw Poco::NotFoundException("form field"); }
    void throwsStd(const void*, MessagePtr&) { throw std::runtime_error("broken"); }
    void throwsOther(const void*, MessagePtr&) { throw 42; }

    std::vector<std::string> calls;
};

MessagePtr operationMessage(const std::string& op) {
    MessagePtr msg(new Data::Message());
    msg->operation = op;
    return msg;
}

TEST(PluginOpTable, ThrowingHandlerStillCountsAsFound) {
    Probe probe;
    Probe::Table table;
    table.registerOperation("poco", Probe::Table::OpDelegate(&probe, &Probe::throwsPoco));
    table.registerOperation("std", Probe::Table::OpDelegate(&probe, &Probe::throwsStd));
    table.registerOperation("other", Probe::Table::OpDelegate(&probe, &Probe::throwsOther));
    for (const char* op : {"poco", "std", "other"}) {
        MessagePtr msg = operationMessage(op);
        EXPECT_TRUE(table.processOperation(msg, true)) << op;
    }
}

TEST(PluginOpTable, FirstRegistrationWinsAndNamesMatchExactly) {
    Probe probe;
    Probe::Table table;
    table.registerOperation("op", Probe::Table::OpDelegate(&probe, &Probe::first));
    table.registerOperation("op", Probe::Table::OpDelegate(&probe, &Probe::second));
    EXPECT_EQ(1u, table.size());

    MessagePtr op = operationMessage("op");
    MessagePtr upper = operationMessage("OP");
    EXPECT_TRUE(table.processOperation(op, true));
    EXPECT_FALSE(table.processOperation(upper, true));
    EXPECT_FALSE(table.processOperation(upper, false));
    EXPECT_EQ(std::vector<std::string>{"first:op"}, probe.calls);
}
