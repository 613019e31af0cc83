#include "orvane/Dispatcher.h"

#include <Poco/Logger.h>

#include <condition_variable>
#include <deque>
#include <map>
#include <mutex>
#include <thread>
#include <vector>

namespace Orvane {
namespace {

typedef boost::shared_ptr<Data::Message> MessagePtr;
typedef boost::shared_ptr<System::MessageEventInfo> EventPtr;

// The one table of registered services that both dispatchers deliver from.
class Registry {
public:
    bool add(const std::string& name, const EventPtr& info) {
        std::lock_guard<std::mutex> lock(m_mutex);
        return m_services.emplace(name, info).second;
    }
    bool remove(const std::string& name) {
        std::lock_guard<std::mutex> lock(m_mutex);
        return m_services.erase(name) != 0;
    }
    EventPtr find(const std::string& name) const {
        std::lock_guard<std::mutex> lock(m_mutex);
        auto it = m_services.find(name);
        return it == m_services.end() ? EventPtr() : it->second;
    }

private:
    mutable std::mutex m_mutex;
    std::map<std::string, EventPtr> m_services;
};

Registry& registry() {
    static Registry r;
    return r;
}

void fire(const EventPtr& info, int deferred, MessagePtr& msg) {
    System::DeliveryContext ctx;
    ctx.deferred = deferred;
    try {
        info->event.notify(&ctx, msg);
    } catch (const std::exception& e) {
        Poco::Logger::get("Dispatcher").error("Delivery to " + msg->target + " failed: " + e.what());
    } catch (...) {
        Poco::Logger::get("Dispatcher").error("Delivery to " + msg->target + " failed");
    }
}

class BusDispatcher : public System::MessageDispatcher {
public:
    bool registerService(const std::string& name, const EventPtr& info) override {
        return info && registry().add(name, info);
    }
    bool unregisterService(const std::string& name) override { return registry().remove(name); }
    bool isRegistered(const std::string& name) const override {
        return static_cast<bool>(registry().find(name));
    }
};

class GlobalDispatcher : public BusDispatcher {
public:
    bool postMessage(MessagePtr msg) override {
        if (!msg) return false;
        EventPtr info = registry().find(msg->target);
        if (!info) return false;
        fire(info, 0, msg);
        return true;
    }
};

class DeferredQueue : public BusDispatcher {
public:
    ~DeferredQueue() override { stop(); }

    bool postMessage(MessagePtr msg) override {
        if (!msg || !registry().find(msg->target)) return false;
        start(8);
        std::lock_guard<std::mutex> lock(m_mutex);
        if (m_stopping) return false;
        m_queue.push_back(msg);
        m_wake.notify_one();
        return true;
    }

    void start(int workers) {
        std::lock_guard<std::mutex> lock(m_mutex);
        if (!m_threads.empty() || m_stopping) return;
        for (int i = 0; i < (workers > 0 ? workers : 1); ++i) {
            m_threads.emplace_back([this] { run(); });
        }
    }

    void stop() {
        {
            std::lock_guard<std::mutex> lock(m_mutex);
            m_stopping = true;
            m_wake.notify_all();
        }
        for (auto& t : m_threads) t.join();
        std::lock_guard<std::mutex> lock(m_mutex);
        m_threads.clear();
        m_stopping = false;
    }

    void setHook(const DeliveryHook& hook) {
        std::lock_guard<std::mutex> lock(m_mutex);
        m_hook = hook;
    }

private:
    void run() {
        for (;;) {
            MessagePtr msg;
            DeliveryHook hook;
            {
                std::unique_lock<std::mutex> lock(m_mutex);
                m_wake.wait(lock, [this] { return m_stopping || !m_queue.empty(); });
                // Drain what was queued before stopping, so no request is lost.
                if (m_queue.empty()) return;
                msg = m_queue.front();
                m_queue.pop_front();
                hook = m_hook;
            }
            deliver(msg, hook);
        }
    }

    void deliver(MessagePtr& msg, const DeliveryHook& hook) {
        EventPtr info = registry().find(msg->target);
        if (info) fire(info, 1, msg);
        if (hook) hook(msg);
    }

    std::mutex m_mutex;
    std::condition_variable m_wake;
    std::deque<MessagePtr> m_queue;
    std::vector<std::thread> m_threads;
    DeliveryHook m_hook;
    bool m_stopping = false;
};

GlobalDispatcher& globalDispatcher() {
    static GlobalDispatcher d;
    return d;
}

DeferredQueue& deferredQueue() {
    static DeferredQueue q;
    return q;
}

}  // namespace

System::MessageDispatcher* Dispatcher() { return &globalDispatcher(); }
System::MessageDispatcher* DeferredDispatcher() { return &deferredQueue(); }
void startDeferredDispatcher(int workers) { deferredQueue().start(workers); }
void stopDeferredDispatcher() { deferredQueue().stop(); }
void setDeferredDeliveryHook(const System::MessageDispatcher::DeliveryHook& hook) {
    deferredQueue().setHook(hook);
}

}  // namespace Orvane
