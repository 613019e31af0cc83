#include "orvane/Dispatcher.h"

#include <Poco/Logger.h>

#include <algorithm>
#include <condition_variable>
#include <deque>
#include <iterator>
#include <map>
#include <mutex>
#include <thread>
#include <vector>

namespace Orvane {
namespace {

typedef boost::shared_ptr<Data::Message> MessagePtr;
typedef boost::shared_ptr<System::MessageEventInfo> EventPtr;

// The one table of registered services that both dispatchers deliver from.
// A service is often destroyed right after it unregisters (a plug-in being
// unloaded), so removing one waits for the deliveries to it that are under
// way on other threads; those on the calling thread (a service that
// unregisters from inside its own handler) cannot be waited for.
class Registry {
public:
    bool add(const std::string& name, const EventPtr& info) {
        std::lock_guard<std::mutex> lock(m_mutex);
        return m_services.emplace(name, info).second;
    }
    bool remove(const std::string& name) {
        std::unique_lock<std::mutex> lock(m_mutex);
        auto it = m_services.find(name);
        if (it == m_services.end())
            return false;
        const EventPtr info = it->second;
        m_services.erase(it);
        const long mine = std::count(ownDeliveries().begin(), ownDeliveries().end(), info.get());
        m_idle.wait(lock, [&] { return inFlight(info.get()) <= mine; });
        return true;
    }
    EventPtr find(const std::string& name) const {
        std::lock_guard<std::mutex> lock(m_mutex);
        auto it = m_services.find(name);
        return it == m_services.end() ? EventPtr() : it->second;
    }

    // The service's event, counted as in delivery until leave(); null when
    // no service has that name.
    EventPtr enter(const std::string& name) {
        std::lock_guard<std::mutex> lock(m_mutex);
        auto it = m_services.find(name);
        if (it == m_services.end())
            return EventPtr();
        ++m_inFlight[it->second.get()];
        ownDeliveries().push_back(it->second.get());
        return it->second;
    }
    void leave(const EventPtr& info) {
        std::lock_guard<std::mutex> lock(m_mutex);
        auto it = m_inFlight.find(info.get());
        if (it != m_inFlight.end() && --it->second == 0)
            m_inFlight.erase(it);
        std::vector<System::MessageEventInfo*>& own = ownDeliveries();
        auto mine = std::find(own.rbegin(), own.rend(), info.get());
        if (mine != own.rend())
            own.erase(std::next(mine).base());
        m_idle.notify_all();
    }

private:
    static std::vector<System::MessageEventInfo*>& ownDeliveries() {
        thread_local std::vector<System::MessageEventInfo*> own;
        return own;
    }
    long inFlight(System::MessageEventInfo* info) const {
        auto it = m_inFlight.find(info);
        return it == m_inFlight.end() ? 0 : it->second;
    }

    mutable std::mutex m_mutex;
    std::condition_variable m_idle;
    std::map<std::string, EventPtr> m_services;
    std::map<System::MessageEventInfo*, long> m_inFlight;
};

Registry& registry() {
    static Registry r;
    return r;
}

std::string& deliveringClient() {
    thread_local std::string client;
    return client;
}

// Names the message's client on this thread for the length of a delivery.
class ClientScope {
public:
    explicit ClientScope(const std::string& client) : m_outer(deliveringClient()) {
        deliveringClient() = client;
    }
    ~ClientScope() { deliveringClient().swap(m_outer); }
    ClientScope(const ClientScope&) = delete;
    ClientScope& operator=(const ClientScope&) = delete;

private:
    std::string m_outer;
};

// Delivers to the named service, if there is one; false when there is none.
bool fire(const std::string& target, int deferred, MessagePtr& msg) {
    const EventPtr info = registry().enter(target);
    if (!info)
        return false;
    ClientScope client(msg->clientAddress);
    System::DeliveryContext ctx;
    ctx.deferred = deferred;
    try {
        info->event.notify(&ctx, msg);
    } catch (const std::exception& e) {
        Poco::Logger::get("Dispatcher")
            .error("Delivery to " + msg->target + " failed: " + e.what());
    } catch (...) {
        Poco::Logger::get("Dispatcher").error("Delivery to " + msg->target + " failed");
    }
    registry().leave(info);
    return true;
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
        if (!msg)
            return false;
        return fire(msg->target, 0, msg);
    }
};

class DeferredQueue : public BusDispatcher {
public:
    ~DeferredQueue() override { stop(); }

    bool postMessage(MessagePtr msg) override {
        if (!msg || !registry().find(msg->target))
            return false;
        start(8);
        std::lock_guard<std::mutex> lock(m_mutex);
        if (m_stopping)
            return false;
        m_queue.push_back(msg);
        m_wake.notify_one();
        return true;
    }

    void start(int workers) {
        std::lock_guard<std::mutex> lock(m_mutex);
        if (!m_threads.empty() || m_stopping)
            return;
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
        for (auto& t : m_threads)
            t.join();
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
                if (m_queue.empty())
                    return;
                msg = m_queue.front();
                m_queue.pop_front();
                hook = m_hook;
            }
            deliver(msg, hook);
        }
    }

    void deliver(MessagePtr& msg, const DeliveryHook& hook) {
        fire(msg->target, 1, msg);
        if (hook)
            hook(msg);
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

const std::string& System::currentClientAddress() {
    return deliveringClient();
}

System::MessageDispatcher* Dispatcher() {
    return &globalDispatcher();
}
System::MessageDispatcher* DeferredDispatcher() {
    return &deferredQueue();
}
void startDeferredDispatcher(int workers) {
    deferredQueue().start(workers);
}
void stopDeferredDispatcher() {
    deferredQueue().stop();
}
void setDeferredDeliveryHook(const System::MessageDispatcher::DeliveryHook& hook) {
    deferredQueue().setHook(hook);
}

}  // namespace Orvane
