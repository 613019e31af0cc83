#include "TestSupport.h"

#include <Poco/Delegate.h>
#include <Poco/File.h>
#include <Poco/FileStream.h>
#include <Poco/Path.h>
#include <Poco/StreamCopier.h>
#include <Poco/UUIDGenerator.h>
#include <stdlib.h>

#include "core/DapplinePlugin.h"
#include "orvane/Defs.h"
#include "orvane/Dispatcher.h"
#include "orvane/MessageUtil.h"
#include "orvane/ProfileManager.h"

using namespace Orvane;
using namespace Orvane::Defs;

namespace TestSupport {

TempDir::TempDir() {
    std::string pattern = Poco::Path::temp() + "orvane-test-XXXXXX";
    std::vector<char> buf(pattern.begin(), pattern.end());
    buf.push_back('\0');
    if (!mkdtemp(buf.data()))
        throw std::runtime_error("mkdtemp failed");
    m_path = buf.data();
}

TempDir::~TempDir() {
    try {
        Poco::File(m_path).remove(true);
    } catch (...) {
    }
}

std::string TempDir::write(const std::string& relative, const std::string& content) const {
    const std::string full = m_path + "/" + relative;
    Poco::File(Poco::Path(full).parent()).createDirectories();
    Poco::FileOutputStream out(full, std::ios::out | std::ios::trunc | std::ios::binary);
    out << content;
    return full;
}

std::string TempDir::mkdir(const std::string& relative) const {
    const std::string full = m_path + "/" + relative;
    Poco::File(full).createDirectories();
    return full;
}

std::string readFile(const std::string& path) {
    Poco::FileInputStream in(path, std::ios::in | std::ios::binary);
    std::string out;
    Poco::StreamCopier::copyToString(in, out);
    return out;
}

CaptureService::CaptureService(const std::string& name) : m_name(name) {
    boost::shared_ptr<System::MessageEventInfo> info(new System::MessageEventInfo());
    info->event += Poco::delegate(this, &CaptureService::onMessage);
    Orvane::Dispatcher()->registerService(m_name, info);
}

CaptureService::~CaptureService() {
    Orvane::Dispatcher()->unregisterService(m_name);
}

void CaptureService::onMessage(const void*, MessagePtr& msg) {
    std::lock_guard<std::mutex> lock(m_mutex);
    m_messages.push_back(msg);
    m_changed.notify_all();
}

std::vector<MessagePtr> CaptureService::messages() {
    std::lock_guard<std::mutex> lock(m_mutex);
    return m_messages;
}

std::size_t CaptureService::count() {
    std::lock_guard<std::mutex> lock(m_mutex);
    return m_messages.size();
}

bool CaptureService::waitForCount(std::size_t n, std::chrono::milliseconds timeout) {
    std::unique_lock<std::mutex> lock(m_mutex);
    return m_changed.wait_for(lock, timeout, [&] { return m_messages.size() >= n; });
}

void CaptureService::clear() {
    std::lock_guard<std::mutex> lock(m_mutex);
    m_messages.clear();
}

std::string Reply::field(const std::string& name) const {
    const Data::VariantRow* row = msg->findSection(HTTP::MS_HTTP_RESP);
    return row ? row->getString(name) : std::string();
}

bool Reply::hasField(const std::string& name) const {
    const Data::VariantRow* row = msg->findSection(HTTP::MS_HTTP_RESP);
    return row && row->hasField(name);
}

Reply toReply(const MessagePtr& msg) {
    Reply r;
    r.msg = msg;
    const Data::VariantRow* sync = msg->findSection(Sync::MS_SYNC);
    r.token = sync ? sync->getString(Sync::S_SYNC_TOKEN) : "";
    r.status = Util::MessageUtil::getHTTPStatus(*msg);
    r.contentType = r.field(HTTP::S_HTTP_RESP_TYPE);
    if (msg->getRawData())
        r.body = msg->getRawData()->toString();
    return r;
}

void PluginFixture::SetUp() {
    m_temp.reset(new TempDir());
    m_profileDir = m_temp->path() + "/profile";
    m_pluginDir = std::string(ORVANE_TEST_PLUGIN_DIR) + "/";
    API::ProfileManager::loadProfile(m_profileDir);
    m_sync.reset(new CaptureService(Service::SYNCPROXYSERVICE));
    m_timer.reset(new CaptureService(Service::TIMERSERVICE));
    m_explorer.reset(new CaptureService(Service::EXPLORER));
    m_userManager.reset(new CaptureService(Service::BOOTUSERMANAGER));
    Orvane::setDeferredDeliveryHook([this](const MessagePtr& msg) { onDelivered(msg); });
    if (startPluginInSetUp)
        startPlugin();
}

void PluginFixture::TearDown() {
    stopPlugin();
    Orvane::setDeferredDeliveryHook(System::MessageDispatcher::DeliveryHook());
    m_userManager.reset();
    m_explorer.reset();
    m_timer.reset();
    m_sync.reset();
    API::ProfileManager::unloadProfile();
    m_temp.reset();
}

void PluginFixture::startPlugin() {
    m_plugin.reset(new Dappline::DapplinePlugin());
    ASSERT_TRUE(m_plugin->init(m_pluginDir));
    ASSERT_TRUE(m_plugin->startup(Orvane::Dispatcher()));
}

void PluginFixture::stopPlugin() {
    if (!m_plugin)
        return;
    m_plugin->shutdown();
    m_plugin.reset();
}

MessagePtr PluginFixture::request(const std::string& operation, const std::string& query,
                                  int role) {
    MessagePtr msg = Util::MessageUtil::createNewMessage("dapplinepro", operation);
    msg->sender = "test";
    msg->authSource = 100;
    msg->authRole = role;
    msg->authLocation = 0;
    (*msg)[HTTP::MS_HTTP_REQ][HTTP::S_HTTP_REQ_REQUEST] = query;
    (*msg)[Sync::MS_SYNC][Sync::S_SYNC_TOKEN] =
        Poco::UUIDGenerator::defaultGenerator().createRandom().toString();
    return msg;
}

void PluginFixture::onDelivered(const MessagePtr& msg) {
    std::lock_guard<std::mutex> lock(m_deliveredMutex);
    m_delivered.insert(msg.get());
    m_deliveredChanged.notify_all();
}

void PluginFixture::deliver(const MessagePtr& msg) {
    {
        std::lock_guard<std::mutex> lock(m_deliveredMutex);
        m_delivered.erase(msg.get());
    }
    ASSERT_TRUE(Orvane::Dispatcher()->postMessage(msg)) << "plug-in not registered";
    std::unique_lock<std::mutex> lock(m_deliveredMutex);
    bool done = m_deliveredChanged.wait_for(lock, std::chrono::seconds(20),
                                            [&] { return m_delivered.count(msg.get()) != 0; });
    ASSERT_TRUE(done) << "deferred delivery of " << msg->operation << " did not finish";
}

std::string PluginFixture::tokenOf(const MessagePtr& msg) {
    const Data::VariantRow* sync = msg->findSection(Sync::MS_SYNC);
    return sync ? sync->getString(Sync::S_SYNC_TOKEN) : "";
}

std::vector<Reply> PluginFixture::repliesFor(const MessagePtr& msg) {
    std::vector<Reply> out;
    const std::string token = tokenOf(msg);
    for (const auto& m : m_sync->messages()) {
        Reply r = toReply(m);
        if (r.token == token)
            out.push_back(r);
    }
    return out;
}

Reply PluginFixture::call(const MessagePtr& msg) {
    deliver(msg);
    std::vector<Reply> replies = repliesFor(msg);
    EXPECT_EQ(1u, replies.size()) << "answers to " << msg->operation;
    return replies.empty() ? Reply() : replies.front();
}

}  // namespace TestSupport
