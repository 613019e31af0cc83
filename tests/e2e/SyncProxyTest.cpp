// The web front and the sync proxy in this process, on the real bus, with a
// stand-in service instead of a plug-in: how requests become messages, and
// what the front answers when the service answers oddly, refuses silently,
// passes a request on or never answers.
#include <gtest/gtest.h>

#include <Poco/Delegate.h>
#include <Poco/File.h>

#include <mutex>
#include <thread>
#include <vector>

#include "HostProcess.h"
#include "HttpClient.h"
#include "bridge/SyncProxyService.h"
#include "front/HttpFront.h"
#include "orvane/Defs.h"
#include "orvane/Dispatcher.h"
#include "orvane/MessageUtil.h"
#include "orvane/ProfileManager.h"

using namespace Orvane;
using namespace Orvane::Defs;

namespace {

typedef Data::MessagePtr MessagePtr;

std::string tokenOf(const Data::Message& msg) {
    const Data::VariantRow* sync = msg.findSection(Sync::MS_SYNC);
    return sync ? sync->getString(Sync::S_SYNC_TOKEN) : "";
}

// Registers under a name and acts on each message by its operation.
class StandIn {
public:
    explicit StandIn(const std::string& name)
        : m_name(name), m_event(new System::MessageEventInfo()) {
        m_event->event += Poco::delegate(this, &StandIn::onMessage);
        Orvane::Dispatcher()->registerService(name, m_event);
    }
    ~StandIn() {
        Orvane::Dispatcher()->unregisterService(m_name);
        m_event->event -= Poco::delegate(this, &StandIn::onMessage);
    }
    std::vector<MessagePtr> received() {
        std::lock_guard<std::mutex> lock(m_mutex);
        return m_received;
    }

private:
    void onMessage(const void* sender, MessagePtr& msg) {
        const bool deferred = static_cast<const System::DeliveryContext*>(sender)->deferred != 0;
        {
            std::lock_guard<std::mutex> lock(m_mutex);
            if (!deferred)
                m_received.push_back(msg);
        }
        const std::string& op = msg->operation;
        if (op == "silent")
            return;  // never answers, never passes on
        if (!deferred && op != "answer" && op != "realm") {
            Orvane::DeferredDispatcher()->postMessage(msg);
            return;
        }
        if (op == "forward") {
            msg->target = "nobody-runs-this";
            Orvane::Dispatcher()->postMessage(msg);
        } else if (op == "answer" || op == "realm") {
            answer(*msg, op == "realm");
        }
        // "refuse": returns on the deferred worker without a word.
    }

    void answer(const Data::Message& request, bool realm) {
        auto reply = Util::MessageUtil::createNewMessage(Service::SYNCPROXYSERVICE, Sync::MO_SYNC);
        reply->setRawData(std::string("body\0bytes", 10));
        (*reply)[Sync::MS_SYNC][Sync::S_SYNC_TOKEN] = tokenOf(request);
        Util::MessageUtil::addHTTPResponse(reply, 201, "text/plain\r\nX-Injected: 1");
        (*reply)[HTTP::MS_HTTP_RESP][HTTP::S_HTTP_SET_CACHE_CONTROL] = "max-age=5\r\nX-Evil: 1";
        if (realm) {
            (*reply)[HTTP::MS_HTTP_RESP][HTTP::S_HTTP_RESP_AUTHENTICATION_REALM] =
                "A \"quoted\" realm";
        }
        Orvane::Dispatcher()->postMessage(reply);
    }

    std::string m_name;
    boost::shared_ptr<System::MessageEventInfo> m_event;
    std::mutex m_mutex;
    std::vector<MessagePtr> m_received;
};

class Front : public ::testing::Test {
protected:
    void SetUp() override {
        char pattern[] = "/tmp/orvane-front-XXXXXX";
        ASSERT_NE(nullptr, ::mkdtemp(pattern));
        m_root = pattern;
        API::ProfileManager::loadProfile(m_root + "/profile");
        Orvane::startDeferredDispatcher(2);
        m_sync.reset(new Host::SyncProxyService(m_pending));
        m_sync->start();
        m_context.reset(new Host::FrontContext(m_pending));
        m_context->plugins.insert("standin");
        m_context->replyTimeout = std::chrono::milliseconds(300);
        m_front.reset(new Host::HttpFront(*m_context));
        m_front->bind("127.0.0.1", 0);
        m_front->start(8);
        m_standIn.reset(new StandIn("standin"));
        m_completions.reset(new StandIn("completions"));
    }
    void TearDown() override {
        m_front->stop();
        Orvane::stopDeferredDispatcher();
        m_standIn.reset();
        m_completions.reset();
        m_sync->stop();
        API::ProfileManager::unloadProfile();
        Poco::File(m_root).remove(true);
    }
    E2E::HttpClient client() { return E2E::HttpClient(m_front->port()); }

    std::string m_root;
    Host::PendingReplies m_pending;
    std::unique_ptr<Host::SyncProxyService> m_sync;
    std::unique_ptr<Host::FrontContext> m_context;
    std::unique_ptr<Host::HttpFront> m_front;
    std::unique_ptr<StandIn> m_standIn, m_completions;
};

}  // namespace

TEST_F(Front, RequestBecomesTheMessageOfTheWebFront) {
    E2E::HttpClient http = client();
    http.get(
        "/app/standin/share/a%20b/c.txt?x=1&y=%41",
        {{"Range", "bytes=0-9"}, {"User-Agent", "probe"}, {"Authorization", "Basic dTpwOnc="}});
    http.get("/app/standin/answer",
             {{"Authorization", "Bearer " + API::ProfileManager::getOwnerToken()}});
    http.post("/app/standin/answer", "form=1&b=2");
    auto got = m_standIn->received();
    ASSERT_EQ(3u, got.size());

    const Data::Message& first = *got[0];
    EXPECT_EQ("share/a b/c.txt", first.operation);
    EXPECT_EQ(100, first.authSource);
    EXPECT_EQ(0, first.authLocation);
    EXPECT_EQ(0, first.authRole);
    const Data::VariantRow* req = first.findSection(HTTP::MS_HTTP_REQ);
    ASSERT_NE(nullptr, req);
    EXPECT_EQ("x=1&y=%41", req->getString(HTTP::S_HTTP_REQ_REQUEST));
    EXPECT_EQ("/app/standin/share/a%20b/c.txt", req->getString(HTTP::S_HTTP_REQ_URL));
    EXPECT_EQ("GET", req->getString(HTTP::S_HTTP_REQ_METHOD));
    EXPECT_EQ("bytes=0-9", req->getString(HTTP::S_HTTP_REQ_RANGE));
    EXPECT_EQ("probe", req->getString(HTTP::S_HTTP_REQ_USER_AGENT));
    EXPECT_EQ("u:p:w", req->getString(HTTP::S_HTTP_REQ_CREDENTIALS_INFO));
    EXPECT_FALSE(req->hasField(HTTP::S_HTTP_REQ_WEBDAV_OPERATION));
    EXPECT_EQ(36u, tokenOf(first).size());
    EXPECT_EQ(nullptr, first.getRawData());

    EXPECT_EQ(100, got[1]->authRole);
    EXPECT_EQ(0, got[1]->authLocation);
    EXPECT_NE(tokenOf(first), tokenOf(*got[1]));
    ASSERT_NE(nullptr, got[2]->getRawData());
    EXPECT_EQ("form=1&b=2", got[2]->getRawData()->toString());
}

TEST_F(Front, ReplyHeadersAreCleanedAndTheBodyKeptByteForByte) {
    E2E::Answer answer = client().get("/app/standin/answer");
    EXPECT_EQ(201, answer.status);
    EXPECT_EQ(std::string("body\0bytes", 10), answer.body);
    EXPECT_EQ("max-age=5X-Evil: 1", answer.header("cache-control"));
    EXPECT_FALSE(answer.has("x-evil"));
    EXPECT_FALSE(answer.has("x-injected"));

    E2E::Answer challenge = client().get("/app/standin/realm");
    EXPECT_EQ(401, challenge.status);
    EXPECT_EQ("Basic realm=\"A _quoted_ realm\", charset=\"UTF-8\"",
              challenge.header("www-authenticate"));
    EXPECT_EQ(std::string("body\0bytes", 10), challenge.body);
}

TEST_F(Front, SilentRefusalOnTheDeferredWorkerIs403) {
    EXPECT_EQ(403, client().get("/app/standin/refuse").status);
}

TEST_F(Front, PassedOnOrUnansweredRequestsEndIn504) {
    EXPECT_EQ(504, client().get("/app/standin/forward").status);
    EXPECT_EQ(504, client().get("/app/standin/silent").status);
    EXPECT_EQ(0u, m_pending.size());
}

TEST_F(Front, StoppingLetsGoOfARequestStillWaitingForItsReply) {
    m_context->replyTimeout = std::chrono::seconds(30);
    int status = -1;
    std::thread waiting([&] {
        try {
            status = client().get("/app/standin/silent").status;
        } catch (const Poco::Exception&) {
            status = 0;  // closed without an answer
        }
    });
    for (int i = 0; i < 500 && m_standIn->received().empty(); ++i)
        std::this_thread::sleep_for(std::chrono::milliseconds(10));
    ASSERT_EQ(1u, m_standIn->received().size());
    m_front->stop();
    waiting.join();
    EXPECT_NE(200, status);
    EXPECT_EQ(0u, m_pending.size());
}

TEST_F(Front, LateFileReplyIsStillReportedComplete) {
    ASSERT_EQ(504, client().get("/app/standin/silent").status);
    const std::string token = tokenOf(*m_standIn->received().back());
    auto reply = Util::MessageUtil::createNewMessage(Service::SYNCPROXYSERVICE, Sync::MO_SYNC);
    (*reply)[Sync::MS_SYNC][Sync::S_SYNC_TOKEN] = token;
    (*reply)[HTTP::MS_HTTP_RESP][HTTP::S_HTTP_SEND_FILE] = m_root + "/nothing.zip";
    (*reply)[HTTP::MS_HTTP_RESP][Sync::S_SEND_FILE_COMPLETE_SERVICE] = "completions";
    Orvane::Dispatcher()->postMessage(reply);
    auto done = m_completions->received();
    ASSERT_EQ(1u, done.size());
    EXPECT_EQ(Sync::MO_SEND_FILE_COMPLETE, done[0]->operation);
    EXPECT_EQ(token, tokenOf(*done[0]));
    EXPECT_EQ(100, done[0]->authSource);
    EXPECT_EQ(100, done[0]->authRole);
}

TEST_F(Front, UnknownPluginAndBadPathsNeverReachTheBus) {
    E2E::HttpClient http = client();
    EXPECT_EQ(404, http.get("/app/otherplugin/answer").status);
    EXPECT_EQ(400, http.get("/app/standin/a%00b").status);
    EXPECT_EQ(400, http.get("/app/standin/a%g0").status);
    EXPECT_TRUE(m_standIn->received().empty());
}
