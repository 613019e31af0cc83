// The message bus, its two dispatchers and the deferred hook, the operation
// table, and the message helpers, through the real singletons.
#include <Poco/Delegate.h>
#include <Poco/Exception.h>
#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <memory>
#include <mutex>
#include <stdexcept>
#include <thread>
#include <vector>

#include "orvane/Defs.h"
#include "orvane/Dispatcher.h"
#include "orvane/Message.h"
#include "orvane/MessageUtil.h"
#include "orvane/OpProcessor.h"

using namespace Orvane;
typedef boost::shared_ptr<Data::Message> MessagePtr;

namespace {

const auto kWait = std::chrono::seconds(10);

// What one delivery looked like.
struct Delivery {
    MessagePtr msg;
    std::thread::id thread;
    int deferred = -1;
};

// A service that records its deliveries and can be told to throw.
class Recorder {
public:
    explicit Recorder(const std::string& name, bool throws = false)
        : m_name(name), m_throws(throws), m_info(new System::MessageEventInfo()) {
        m_info->event += Poco::delegate(this, &Recorder::onMessage);
    }
    ~Recorder() {
        Orvane::Dispatcher()->unregisterService(m_name);
        m_info->event -= Poco::delegate(this, &Recorder::onMessage);
    }
    bool registerOn(System::MessageDispatcher* d) { return d->registerService(m_name, m_info); }

    bool waitFor(std::size_t n) {
        std::unique_lock<std::mutex> lock(m_mutex);
        return m_changed.wait_for(lock, kWait, [&] { return m_deliveries.size() >= n; });
    }
    std::vector<Delivery> deliveries() {
        std::lock_guard<std::mutex> lock(m_mutex);
        return m_deliveries;
    }

private:
    void onMessage(const void* sender, MessagePtr& msg) {
        Delivery d;
        d.msg = msg;
        d.thread = std::this_thread::get_id();
        d.deferred = sender ? static_cast<const System::DeliveryContext*>(sender)->deferred : -1;
        (*msg)["Seen"]["By"] = m_name;
        {
            std::lock_guard<std::mutex> lock(m_mutex);
            m_deliveries.push_back(d);
            m_changed.notify_all();
        }
        if (m_throws)
            throw std::runtime_error("handler failed");
    }

    std::string m_name;
    bool m_throws;
    boost::shared_ptr<System::MessageEventInfo> m_info;
    std::mutex m_mutex;
    std::condition_variable m_changed;
    std::vector<Delivery> m_deliveries;
};

MessagePtr message(const std::string& target, const std::string& op = "op") {
    return Util::MessageUtil::createNewMessage(target, op);
}

// Removes the deferred hook however the test ends.
struct HookScope {
    ~HookScope() { Orvane::setDeferredDeliveryHook(System::MessageDispatcher::DeliveryHook()); }
};

}  // namespace

TEST(CorvelMessaging, GlobalDeliveryRunsOnThePostingThread) {
    Recorder service("corvel-test-global");
    ASSERT_TRUE(service.registerOn(Orvane::Dispatcher()));
    MessagePtr msg = message("corvel-test-global");
    ASSERT_TRUE(Orvane::Dispatcher()->postMessage(msg));
    std::vector<Delivery> seen = service.deliveries();
    ASSERT_EQ(1u, seen.size()) << "delivered before postMessage returns";
    EXPECT_EQ(std::this_thread::get_id(), seen[0].thread);
    EXPECT_EQ(0, seen[0].deferred);
    EXPECT_EQ(msg.get(), seen[0].msg.get());
}

TEST(CorvelMessaging, DeferredDeliveryRunsOnAWorker) {
    Recorder service("corvel-test-deferred");
    ASSERT_TRUE(service.registerOn(Orvane::Dispatcher()));
    MessagePtr msg = message("corvel-test-deferred");
    ASSERT_TRUE(Orvane::DeferredDispatcher()->postMessage(msg));
    ASSERT_TRUE(service.waitFor(1));
    std::vector<Delivery> seen = service.deliveries();
    ASSERT_EQ(1u, seen.size());
    EXPECT_NE(std::this_thread::get_id(), seen[0].thread);
    EXPECT_EQ(1, seen[0].deferred);
    EXPECT_EQ(msg.get(), seen[0].msg.get());
}

TEST(CorvelMessaging, RegistryAndUnknownTargets) {
    EXPECT_FALSE(Orvane::Dispatcher()->postMessage(message("corvel-test-nobody")));
    EXPECT_FALSE(Orvane::DeferredDispatcher()->postMessage(message("corvel-test-nobody")));
    EXPECT_FALSE(Orvane::Dispatcher()->postMessage(MessagePtr()));

    Recorder first("corvel-test-name");
    Recorder second("corvel-test-name");
    ASSERT_TRUE(first.registerOn(Orvane::Dispatcher()));
    EXPECT_FALSE(second.registerOn(Orvane::DeferredDispatcher())) << "one registry for both";
    EXPECT_TRUE(Orvane::DeferredDispatcher()->isRegistered("corvel-test-name"));
    ASSERT_TRUE(Orvane::Dispatcher()->postMessage(message("corvel-test-name")));
    EXPECT_EQ(1u, first.deliveries().size());
    EXPECT_TRUE(second.deliveries().empty());

    EXPECT_TRUE(Orvane::Dispatcher()->unregisterService("corvel-test-name"));
    EXPECT_FALSE(Orvane::Dispatcher()->unregisterService("corvel-test-name"));
    EXPECT_FALSE(Orvane::Dispatcher()->isRegistered("corvel-test-name"));
    EXPECT_FALSE(Orvane::Dispatcher()->postMessage(message("corvel-test-name")));
}

TEST(CorvelMessaging, DeferredHookRunsAfterDelivery) {
    HookScope scope;
    Recorder service("corvel-test-hook");
    ASSERT_TRUE(service.registerOn(Orvane::Dispatcher()));
    // Owned by the hook as well: the worker may still be leaving it when the test ends.
    struct Seen {
        std::mutex mutex;
        std::condition_variable changed;
        std::vector<std::string> by;
    };
    auto seen = std::make_shared<Seen>();
    Orvane::setDeferredDeliveryHook([seen](const MessagePtr& msg) {
        const Data::VariantRow* row = msg->findSection("Seen");
        std::lock_guard<std::mutex> lock(seen->mutex);
        seen->by.push_back(row ? row->getString("By") : "not delivered yet");
        seen->changed.notify_all();
    });
    ASSERT_TRUE(Orvane::DeferredDispatcher()->postMessage(message("corvel-test-hook")));
    std::unique_lock<std::mutex> lock(seen->mutex);
    ASSERT_TRUE(seen->changed.wait_for(lock, kWait, [&] { return !seen->by.empty(); }));
    EXPECT_EQ((std::vector<std::string>{"corvel-test-hook"}), seen->by);
}

TEST(CorvelMessaging, ThrowingHandlersDoNotStopTheBus) {
    Recorder failing("corvel-test-throws", true);
    Recorder fine("corvel-test-fine");
    ASSERT_TRUE(failing.registerOn(Orvane::Dispatcher()));
    ASSERT_TRUE(fine.registerOn(Orvane::Dispatcher()));
    EXPECT_TRUE(Orvane::Dispatcher()->postMessage(message("corvel-test-throws")));
    for (int i = 0; i < 16; ++i) {
        ASSERT_TRUE(Orvane::DeferredDispatcher()->postMessage(message("corvel-test-throws")));
    }
    ASSERT_TRUE(Orvane::DeferredDispatcher()->postMessage(message("corvel-test-fine")));
    EXPECT_TRUE(failing.waitFor(17));
    EXPECT_TRUE(fine.waitFor(1));
}

TEST(CorvelMessaging, StopDrainsTheQueueAndPostingRestartsIt) {
    Recorder service("corvel-test-drain");
    ASSERT_TRUE(service.registerOn(Orvane::Dispatcher()));
    for (int i = 0; i < 50; ++i) {
        ASSERT_TRUE(Orvane::DeferredDispatcher()->postMessage(message("corvel-test-drain")));
    }
    Orvane::stopDeferredDispatcher();
    EXPECT_EQ(50u, service.deliveries().size()) << "queued work finished before stop returned";
    ASSERT_TRUE(Orvane::DeferredDispatcher()->postMessage(message("corvel-test-drain")));
    EXPECT_TRUE(service.waitFor(51));
}

namespace {

// A service whose handler holds its delivery until released, and may
// unregister itself from inside it.
class Holder {
public:
    explicit Holder(const std::string& name, bool selfRemove = false)
        : m_name(name), m_selfRemove(selfRemove), m_info(new System::MessageEventInfo()) {
        m_info->event += Poco::delegate(this, &Holder::onMessage);
    }
    bool registerOn(System::MessageDispatcher* d) { return d->registerService(m_name, m_info); }
    bool waitEntered() {
        std::unique_lock<std::mutex> lock(m_mutex);
        return m_changed.wait_for(lock, kWait, [&] { return m_entered; });
    }
    void release() {
        std::lock_guard<std::mutex> lock(m_mutex);
        m_released = true;
        m_changed.notify_all();
    }
    std::atomic<bool> finished{false};
    std::atomic<bool> removedItself{false};

private:
    void onMessage(const void*, MessagePtr&) {
        std::unique_lock<std::mutex> lock(m_mutex);
        m_entered = true;
        m_changed.notify_all();
        if (m_selfRemove) {
            lock.unlock();
            removedItself = Orvane::Dispatcher()->unregisterService(m_name);
        } else {
            m_changed.wait_for(lock, kWait, [&] { return m_released; });
        }
        finished = true;
    }

    std::string m_name;
    bool m_selfRemove;
    boost::shared_ptr<System::MessageEventInfo> m_info;
    std::mutex m_mutex;
    std::condition_variable m_changed;
    bool m_entered = false;
    bool m_released = false;
};

}  // namespace

// A plug-in is destroyed as soon as it has unregistered; a delivery still
// running in it on a worker would run on freed memory.
TEST(CorvelMessaging, UnregisteringWaitsForDeliveriesUnderWay) {
    Holder service("corvel-test-hold");
    ASSERT_TRUE(service.registerOn(Orvane::Dispatcher()));
    ASSERT_TRUE(Orvane::DeferredDispatcher()->postMessage(message("corvel-test-hold")));
    ASSERT_TRUE(service.waitEntered());
    std::atomic<bool> finishedFirst{false};
    std::thread remover([&] {
        EXPECT_TRUE(Orvane::Dispatcher()->unregisterService("corvel-test-hold"));
        finishedFirst = service.finished.load();
    });
    // Time for a remover that does not wait to get it wrong.
    std::this_thread::sleep_for(std::chrono::milliseconds(50));
    service.release();
    remover.join();
    EXPECT_TRUE(finishedFirst);
    EXPECT_FALSE(Orvane::DeferredDispatcher()->postMessage(message("corvel-test-hold")));
}

TEST(CorvelMessaging, AServiceMayUnregisterFromItsOwnHandler) {
    Holder service("corvel-test-self", true);
    ASSERT_TRUE(service.registerOn(Orvane::Dispatcher()));
    ASSERT_TRUE(Orvane::DeferredDispatcher()->postMessage(message("corvel-test-self")));
    ASSERT_TRUE(service.waitEntered());
    for (int i = 0; i < 1000 && !service.finished; ++i)
        std::this_thread::sleep_for(std::chrono::milliseconds(10));
    EXPECT_TRUE(service.finished);
    EXPECT_TRUE(service.removedItself);
    EXPECT_FALSE(Orvane::Dispatcher()->isRegistered("corvel-test-self"));
}

namespace {

// The object an operation table calls into.
class Handlers {
public:
    void onFirst(const void*, MessagePtr& msg) { calls.push_back("first:" + msg->operation); }
    void onSecond(const void*, MessagePtr& msg) { calls.push_back("second:" + msg->operation); }
    void onStd(const void*, MessagePtr&) { throw std::runtime_error("std"); }
    void onPoco(const void*, MessagePtr&) { throw Poco::NotFoundException("form field"); }
    void onOther(const void*, MessagePtr&) { throw 42; }
    std::vector<std::string> calls;
};

}  // namespace

TEST(CorvelOpProcessor, FirstRegistrationWinsAndMissesAreReported) {
    Handlers h;
    Util::OpProcessor<Handlers> table;
    typedef Util::OpProcessor<Handlers>::OpDelegate D;
    table.registerOperation("getshares", D(&h, &Handlers::onFirst));
    table.registerOperation("getshares", D(&h, &Handlers::onSecond));
    table.registerOperation("addshare", D(&h, &Handlers::onSecond));
    EXPECT_EQ(2u, table.size());
    EXPECT_TRUE(table.hasOperation("getshares"));
    EXPECT_FALSE(table.hasOperation("getShares"));

    MessagePtr msg = message("dapplinepro", "getshares");
    EXPECT_TRUE(table.processOperation(msg, true));
    msg = message("dapplinepro", "addshare");
    EXPECT_TRUE(table.processOperation(msg, false));
    msg = message("dapplinepro", "nosuchop");
    EXPECT_FALSE(table.processOperation(msg, true));
    EXPECT_FALSE(table.processOperation(msg, false));
    EXPECT_EQ((std::vector<std::string>{"first:getshares", "second:addshare"}), h.calls);
}

TEST(CorvelOpProcessor, ThrowingHandlerStillCountsAsFound) {
    Handlers h;
    Util::OpProcessor<Handlers> table;
    typedef Util::OpProcessor<Handlers>::OpDelegate D;
    table.registerOperation("std", D(&h, &Handlers::onStd));
    table.registerOperation("poco", D(&h, &Handlers::onPoco));
    table.registerOperation("other", D(&h, &Handlers::onOther));
    for (const char* op : {"std", "poco", "other"}) {
        MessagePtr msg = message("dapplinepro", op);
        bool found = false;
        EXPECT_NO_THROW(found = table.processOperation(msg, false)) << op;
        EXPECT_TRUE(found) << op;
    }
}

TEST(CorvelMessageUtil, BuildsMessagesAndReadsStatus) {
    using Util::MessageUtil;
    MessageUtil::MessagePtr msg = MessageUtil::createNewMessage("SyncProxyService", "SYNC");
    EXPECT_EQ("SyncProxyService", msg->target);
    EXPECT_EQ("SYNC", msg->operation);
    EXPECT_FALSE(msg->getRawData());
    EXPECT_EQ(200, MessageUtil::getHTTPStatus(*msg)) << "no status is 200";
    EXPECT_FALSE(msg->hasSection(Defs::HTTP::MS_HTTP_RESP)) << "reading creates nothing";

    MessageUtil::addHTTPResponse(msg, 404, "text/html");
    EXPECT_EQ(404, MessageUtil::getHTTPStatus(*msg));
    const Data::VariantRow* resp = msg->findSection(Defs::HTTP::MS_HTTP_RESP);
    ASSERT_NE(nullptr, resp);
    EXPECT_EQ("text/html", resp->getString(Defs::HTTP::S_HTTP_RESP_TYPE));
    (*msg)[Defs::HTTP::MS_HTTP_RESP][Defs::HTTP::S_HTTP_RESP_STATUS] = "junk";
    EXPECT_EQ(200, MessageUtil::getHTTPStatus(*msg));

    MessageUtil::MessagePtr start =
        MessageUtil::createNewTimerStartMessage("dapplinepro", "tick", 60000, -1);
    EXPECT_EQ(Defs::Service::TIMERSERVICE, start->target);
    EXPECT_EQ(Defs::Timer::MO_TIMER_START, start->operation);
    EXPECT_EQ("dapplinepro", start->sender);
    Data::VariantRow& timer = (*start)[Defs::Timer::MS_TIMER];
    EXPECT_EQ("dapplinepro", timer[Defs::Timer::S_TIMER_SERVICE].getString());
    EXPECT_EQ("tick", timer[Defs::Timer::S_TIMER_TAG].getString());
    EXPECT_EQ(60000, timer[Defs::Timer::S_TIMER_INTERVAL].getInt64());
    EXPECT_EQ(-1, timer[Defs::Timer::S_TIMER_REPEATS].getInt());
    MessageUtil::MessagePtr stop = MessageUtil::createNewTimerStopMessage("dapplinepro", "tick");
    EXPECT_EQ(Defs::Timer::MO_TIMER_STOP, stop->operation);
    EXPECT_EQ("tick", (*stop)[Defs::Timer::MS_TIMER][Defs::Timer::S_TIMER_TAG].getString());
}
