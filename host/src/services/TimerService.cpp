#include "services/TimerService.h"

#include <Poco/Logger.h>

#include <vector>

#include "orvane/Defs.h"
#include "orvane/Dispatcher.h"
#include "orvane/MessageUtil.h"

namespace Orvane {
namespace Host {

using namespace Orvane::Defs;

namespace {
// Shorter intervals would only keep the bus busy.
const long kMinimumIntervalMs = 10;
}  // namespace

TimerService::TimerService() : m_registration(Service::TIMERSERVICE) {}

TimerService::~TimerService() {
    stop();
}

void TimerService::start() {
    m_registration.start([this](MessagePtr& msg) { onMessage(msg); });
    m_stopping = false;
    m_thread = std::thread([this] { run(); });
}

void TimerService::stop() {
    if (!m_registration.started())
        return;
    m_registration.stop();
    {
        std::lock_guard<std::mutex> lock(m_mutex);
        m_stopping = true;
        m_changed.notify_all();
    }
    m_thread.join();
    std::lock_guard<std::mutex> lock(m_mutex);
    m_timers.clear();
}

std::size_t TimerService::activeTimers() {
    std::lock_guard<std::mutex> lock(m_mutex);
    return m_timers.size();
}

void TimerService::onMessage(MessagePtr& msg) {
    if (!msg)
        return;
    if (msg->operation == Timer::MO_TIMER_START) {
        startTimer(*msg);
    } else if (msg->operation == Timer::MO_TIMER_STOP) {
        stopTimer(*msg);
    }
}

void TimerService::startTimer(const Data::Message& msg) {
    const Data::VariantRow* row = msg.findSection(Timer::MS_TIMER);
    if (!row)
        return;
    Key key(row->getString(Timer::S_TIMER_SERVICE), row->getString(Timer::S_TIMER_TAG));
    const long interval =
        static_cast<long>(Data::VariantField(row->getString(Timer::S_TIMER_INTERVAL)).getInt64());
    const int repeats = row->hasField(Timer::S_TIMER_REPEATS)
                            ? Data::VariantField(row->getString(Timer::S_TIMER_REPEATS)).getInt()
                            : -1;
    if (key.first.empty() || interval < kMinimumIntervalMs || repeats == 0 || repeats < -1) {
        Poco::Logger::get("TimerService")
            .warning("Refused timer " + key.second + " for \"" + key.first + "\": interval " +
                     std::to_string(interval) + " ms, repeats " + std::to_string(repeats));
        return;
    }
    std::lock_guard<std::mutex> lock(m_mutex);
    Entry& timer = m_timers[key];
    timer.interval = std::chrono::milliseconds(interval);
    timer.remaining = repeats;
    timer.due = Clock::now() + timer.interval;
    m_changed.notify_all();
}

void TimerService::stopTimer(const Data::Message& msg) {
    const Data::VariantRow* row = msg.findSection(Timer::MS_TIMER);
    if (!row)
        return;
    Key key(row->getString(Timer::S_TIMER_SERVICE), row->getString(Timer::S_TIMER_TAG));
    std::lock_guard<std::mutex> lock(m_mutex);
    m_timers.erase(key);
    m_changed.notify_all();
}

void TimerService::run() {
    std::unique_lock<std::mutex> lock(m_mutex);
    while (!m_stopping) {
        if (m_timers.empty()) {
            m_changed.wait(lock);
            continue;
        }
        auto next = m_timers.begin();
        for (auto it = m_timers.begin(); it != m_timers.end(); ++it) {
            if (it->second.due < next->second.due)
                next = it;
        }
        // A copy: the timer may be stopped (erased) while this thread waits.
        const Clock::time_point due = next->second.due;
        if (Clock::now() < due) {
            m_changed.wait_until(lock, due);
            continue;
        }
        Key key = next->first;
        Entry& timer = next->second;
        timer.due += timer.interval;
        // A tick that fell far behind (a suspended machine) is not replayed.
        if (timer.due < Clock::now())
            timer.due = Clock::now() + timer.interval;
        if (timer.remaining > 0 && --timer.remaining == 0)
            m_timers.erase(next);
        lock.unlock();
        fire(key);
        lock.lock();
    }
}

void TimerService::fire(const Key& key) {
    auto msg = Util::MessageUtil::createNewMessage(key.first, Timer::MO_TIMER);
    msg->sender = Service::TIMERSERVICE;
    msg->setAuthKey(Data::AuthKey(Data::AuthKey::SOURCE_WEB, Data::AuthKey::ROLE_OWNER,
                                  Data::AuthKey::LOCATION_HOST, ""));
    (*msg)[Timer::MS_TIMER][Timer::S_TIMER_SERVICE] = key.first;
    (*msg)[Timer::MS_TIMER][Timer::S_TIMER_TAG] = key.second;
    if (!Orvane::Dispatcher()->postMessage(msg)) {
        Poco::Logger::get("TimerService").debug("No service \"" + key.first + "\" for its timer");
    }
}

}  // namespace Host
}  // namespace Orvane
