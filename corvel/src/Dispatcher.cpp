#include "orvane/Dispatcher.h"

#include <Poco/Logger.h>

#include "orvane/Defs.h"

#include <algorithm>
#include <atomic>
#include <chrono>
#include <condition_variable>
#include <deque>
#include <iterator>
#include <map>
#include <memory>
#include <mutex>
#include <shared_mutex>
#include <thread>
#include <vector>

namespace Orvane {
namespace {

typedef boost::shared_ptr<Data::Message> MessagePtr;
typedef boost::shared_ptr<System::MessageEventInfo> EventPtr;

const std::chrono::milliseconds kLaterAtMost(50);

// The one table of registered services that both dispatchers deliver from.
// A service is often destroyed right after it unregisters (a plug-in being
// unloaded), so removing one waits for the deliveries to it that are under
// way on other threads; those on the calling thread (a service that
// unregisters from inside its own handler) cannot be waited for. Every
// request goes through here several times, so deliveries share the lock and
// count themselves without it; only a removal takes it alone.
class Registry {
public:
    struct Entry {
        explicit Entry(const EventPtr& i) : info(i) {}
        EventPtr info;
        std::atomic<long> inFlight{0};
        std::atomic<bool> removing{false};
    };
    typedef std::shared_ptr<Entry> EntryPtr;

    bool add(const std::string& name, const EventPtr& info) {
        std::unique_lock<std::shared_mutex> lock(m_mutex);
        return m_services.emplace(name, std::make_shared<Entry>(info)).second;
    }
    bool remove(const std::string& name) {
        EntryPtr entry;
        {
            std::unique_lock<std::shared_mutex> lock(m_mutex);
            auto it = m_services.find(name);
            if (it == m_services.end())
                return false;
            entry = it->second;
            m_services.erase(it);
        }
        entry->removing = true;
        const long mine = std::count(ownDeliveries().begin(), ownDeliveries().end(), entry.get());
        std::unique_lock<std::mutex> lock(m_idleMutex);
        m_idle.wait(lock, [&] { return entry->inFlight.load() <= mine; });
        return true;
    }
    bool has(const std::string& name) const {
        std::shared_lock<std::shared_mutex> lock(m_mutex);
        return m_services.count(name) > 0;
    }

    // The service, counted as in delivery until leave(); null when no
    // service has that name.
    EntryPtr enter(const std::string& name) {
        EntryPtr entry;
        {
            std::shared_lock<std::shared_mutex> lock(m_mutex);
            auto it = m_services.find(name);
            if (it == m_services.end())
                return entry;
            entry = it->second;
            ++entry->inFlight;
        }
        ownDeliveries().push_back(entry.get());
        return entry;
    }
    void leave(const EntryPtr& entry) {
        std::vector<Entry*>& own = ownDeliveries();
        auto mine = std::find(own.rbegin(), own.rend(), entry.get());
        if (mine != own.rend())
            own.erase(std::next(mine).base());
        --entry->inFlight;
        if (entry->removing) {
            // Taken so that the remover is either before its check or
            // already waiting, never in between.
            std::lock_guard<std::mutex> lock(m_idleMutex);
            m_idle.notify_all();
        }
    }

private:
    static std::vector<Entry*>& ownDeliveries() {
        thread_local std::vector<Entry*> own;
        return own;
    }

    mutable std::shared_mutex m_mutex;
    std::map<std::string, EntryPtr> m_services;
    std::mutex m_idleMutex;
    std::condition_variable m_idle;
};

Registry& registry() {
    static Registry r;
    return r;
}

bool& deferredWorker() {
    thread_local bool mine = false;
    return mine;
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
    const Registry::EntryPtr entry = registry().enter(target);
    if (!entry)
        return false;
    ClientScope client(msg->clientAddress);
    System::DeliveryContext ctx;
    ctx.deferred = deferred;
    try {
        entry->info->event.notify(&ctx, msg);
    } catch (const std::exception& e) {
        Poco::Logger::get("Dispatcher")
            .error("Delivery to " + msg->target + " failed: " + e.what());
    } catch (...) {
        Poco::Logger::get("Dispatcher").error("Delivery to " + msg->target + " failed");
    }
    registry().leave(entry);
    return true;
}

class BusDispatcher : public System::MessageDispatcher {
public:
    bool registerService(const std::string& name, const EventPtr& info) override {
        return info && registry().add(name, info);
    }
    bool unregisterService(const std::string& name) override { return registry().remove(name); }
    bool isRegistered(const std::string& name) const override { return registry().has(name); }
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
    typedef std::shared_ptr<const DeliveryHook> HookPtr;

public:
    ~DeferredQueue() override { stop(); }

    bool postMessage(MessagePtr msg) override {
        if (!msg || !registry().has(msg->target))
            return false;
        start(8);
        bool wake = true;
        {
            std::lock_guard<std::mutex> lock(m_mutex);
            if (m_stopping)
                return false;
            if (waitsForNobody(*msg)) {
                wake = laterWouldDo();
                m_later.push_back(Later{msg, Clock::now()});
            } else {
                m_queue.push_back(msg);
            }
        }
        // Woken outside the lock, or the worker would wake only to wait
        // for it.
        if (wake)
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
        m_hook = hook ? std::make_shared<const DeliveryHook>(hook) : HookPtr();
    }

private:
    typedef std::chrono::steady_clock Clock;
    struct Later {
        MessagePtr msg;
        Clock::time_point since;
    };

    // The end of a file transfer answers no visitor: a worker that is busy
    // now takes it when it comes back, which spares a wake-up on every
    // download. A worker is woken for it only when none is busy, or when
    // the oldest has waited long (the busy ones may be slow).
    static bool waitsForNobody(const Data::Message& msg) {
        return msg.operation == Defs::Sync::MO_SEND_FILE_COMPLETE;
    }
    bool laterWouldDo() const {
        return m_busy == 0 ||
               (!m_later.empty() && Clock::now() - m_later.front().since > kLaterAtMost);
    }

    void run() {
        deferredWorker() = true;
        bool delivered = false;
        for (;;) {
            MessagePtr msg;
            HookPtr hook;
            {
                std::unique_lock<std::mutex> lock(m_mutex);
                if (delivered)
                    --m_busy;
                m_wake.wait(lock,
                            [this] { return m_stopping || !m_queue.empty() || !m_later.empty(); });
                // Drain what was queued before stopping, so no request is lost.
                if (!m_queue.empty()) {
                    msg = m_queue.front();
                    m_queue.pop_front();
                } else if (!m_later.empty()) {
                    msg = m_later.front().msg;
                    m_later.pop_front();
                } else {
                    return;
                }
                ++m_busy;
                hook = m_hook;
            }
            deliver(msg, hook);
            delivered = true;
        }
    }

    void deliver(MessagePtr& msg, const HookPtr& hook) {
        fire(msg->target, 1, msg);
        if (hook)
            (*hook)(msg);
    }

    std::mutex m_mutex;
    std::condition_variable m_wake;
    std::deque<MessagePtr> m_queue;
    std::deque<Later> m_later;
    int m_busy = 0;  // workers delivering now
    std::vector<std::thread> m_threads;
    HookPtr m_hook;
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
bool onDeferredWorker() {
    return deferredWorker();
}

}  // namespace Orvane
