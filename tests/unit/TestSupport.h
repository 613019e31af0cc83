// Test support shared by the unit suites: a temporary folder, services that
// capture what is posted to them, and a fixture that runs the real plug-in on
// a temporary profile through the real dispatchers. Waits are bounded and
// event-driven (no sleeps).
#pragma once

#include <gtest/gtest.h>

#include <boost/shared_ptr.hpp>
#include <chrono>
#include <condition_variable>
#include <memory>
#include <mutex>
#include <set>
#include <string>
#include <vector>

#include "orvane/Message.h"

namespace Orvane {
namespace Dappline {
class DapplinePlugin;
}
}  // namespace Orvane

namespace TestSupport {

typedef boost::shared_ptr<Orvane::Data::Message> MessagePtr;

// A fresh folder below the system's temporary folder, removed with the object.
class TempDir {
public:
    TempDir();
    ~TempDir();
    const std::string& path() const { return m_path; }
    // Writes a file (creating parent folders) and returns its full path.
    std::string write(const std::string& relative, const std::string& content) const;
    std::string mkdir(const std::string& relative) const;

private:
    std::string m_path;
};

std::string readFile(const std::string& path);

// Registers under a service name and keeps every message posted to it.
class CaptureService {
public:
    explicit CaptureService(const std::string& name);
    ~CaptureService();

    std::vector<MessagePtr> messages();
    std::size_t count();
    // Bounded wait until at least n messages arrived.
    bool waitForCount(std::size_t n, std::chrono::milliseconds timeout = std::chrono::seconds(30));
    void clear();

private:
    void onMessage(const void* sender, MessagePtr& msg);

    std::string m_name;
    std::mutex m_mutex;
    std::condition_variable m_changed;
    std::vector<MessagePtr> m_messages;
};

// One answer the plug-in posted to "SyncProxyService".
struct Reply {
    MessagePtr msg;
    std::string token;
    int status = 0;
    std::string contentType;
    std::string body;
    std::string field(const std::string& name) const;  // from "HTTPResponse"
    bool hasField(const std::string& name) const;
};

// Runs the real plug-in on a temporary profile. Services "SyncProxyService",
// "TimerService", "explorer" and "UserManager" are captured.
class PluginFixture : public ::testing::Test {
protected:
    void SetUp() override;
    void TearDown() override;

    // Starts the plug-in (done by SetUp unless startPluginInSetUp is false).
    void startPlugin();
    void stopPlugin();

    // A web-front request: source 100, location 0, given role, fresh token.
    MessagePtr request(const std::string& operation, const std::string& query = "",
                       int role = 0);
    MessagePtr ownerRequest(const std::string& operation, const std::string& query = "") {
        return request(operation, query, 100);
    }
    // Posts the message to the plug-in and waits until its deferred handling
    // has returned; the answers it posted meanwhile are in replies().
    void deliver(const MessagePtr& msg);
    // deliver, then the one answer carrying the message's token (fails the
    // test when there is none or more than one).
    Reply call(const MessagePtr& msg);
    std::vector<Reply> repliesFor(const MessagePtr& msg);
    static std::string tokenOf(const MessagePtr& msg);

    bool startPluginInSetUp = true;
    std::unique_ptr<TempDir> m_temp;
    std::string m_profileDir;
    std::string m_pluginDir;  // the built plugins/ folder, ends with "/"
    std::unique_ptr<Orvane::Dappline::DapplinePlugin> m_plugin;
    std::unique_ptr<CaptureService> m_sync, m_timer, m_explorer, m_userManager;

private:
    void onDelivered(const MessagePtr& msg);
    std::mutex m_deliveredMutex;
    std::condition_variable m_deliveredChanged;
    std::set<const Orvane::Data::Message*> m_delivered;
};

Reply toReply(const MessagePtr& msg);

}  // namespace TestSupport
