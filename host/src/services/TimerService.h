// "TimerService" on the bus: "TIMER_START" (section "Timer": "Service", "Tag",
// "Interval" in ms, "Repeats", -1 for without end) and "TIMER_STOP". Each due
// timer sends "TIMER" to its service through the global dispatcher, as the
// owner with location 100. One thread of its own fires the timers; requests
// come from any bus thread.
#pragma once

#include <boost/shared_ptr.hpp>
#include <chrono>
#include <condition_variable>
#include <map>
#include <mutex>
#include <string>
#include <thread>
#include <utility>

#include "services/ServiceRegistration.h"

namespace Orvane {
namespace Host {

class TimerService {
public:
    TimerService();
    ~TimerService();

    void start();
    // Unregisters and joins the thread; timers not yet due are dropped.
    void stop();
    std::size_t activeTimers();

private:
    typedef boost::shared_ptr<Data::Message> MessagePtr;
    typedef std::chrono::steady_clock Clock;
    typedef std::pair<std::string, std::string> Key;  // service, tag

    struct Entry {
        std::chrono::milliseconds interval;
        int remaining;  // -1: without end
        Clock::time_point due;
    };

    void onMessage(MessagePtr& msg);
    void startTimer(const Data::Message& msg);
    void stopTimer(const Data::Message& msg);
    void run();
    void fire(const Key& key);

    ServiceRegistration m_registration;
    std::mutex m_mutex;
    std::condition_variable m_changed;
    std::map<Key, Entry> m_timers;
    std::thread m_thread;
    bool m_stopping = false;
};

}  // namespace Host
}  // namespace Orvane
