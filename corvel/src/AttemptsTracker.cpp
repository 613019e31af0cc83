// Failed log-ins within a sliding window, per client; reaching the limit
// starts that client's lock.
#include "orvane/AttemptsTracker.h"

#include "orvane/Dispatcher.h"

namespace Orvane {
namespace Util {
namespace {

const Poco::Timestamp::TimeDiff kMicrosPerSecond = 1000000;

Poco::Timestamp::TimeDiff micros(int seconds) {
    return static_cast<Poco::Timestamp::TimeDiff>(seconds > 0 ? seconds : 0) * kMicrosPerSecond;
}

}  // namespace

const std::size_t AttemptsTracker::MAX_CLIENTS;

AttemptsTracker::AttemptsTracker(int maxAttempts, int windowSeconds, int lockSeconds)
    : m_maxAttempts(maxAttempts > 0 ? maxAttempts : 1),
      m_window(micros(windowSeconds)),
      m_lock(micros(lockSeconds)) {}

void AttemptsTracker::addAttempt() {
    addAttempt(System::currentClientAddress());
}

bool AttemptsTracker::isLocked() {
    return isLocked(System::currentClientAddress());
}

void AttemptsTracker::reset() {
    std::lock_guard<std::mutex> lock(m_mutex);
    m_clients.clear();
}

void AttemptsTracker::addAttempt(const std::string& address) {
    std::lock_guard<std::mutex> lock(m_mutex);
    Poco::Timestamp now;
    if (!m_clients.count(address) && m_clients.size() >= MAX_CLIENTS)
        makeRoom(now);
    Client& client = m_clients[address];
    expire(client, now);
    // Failures during a lock neither extend it nor count towards the next one.
    if (client.locked)
        return;
    client.failures.push_back(now);
    if (static_cast<int>(client.failures.size()) >= m_maxAttempts) {
        client.locked = true;
        client.lockedUntil = now + m_lock;
        client.failures.clear();
    }
}

bool AttemptsTracker::isLocked(const std::string& address) {
    std::lock_guard<std::mutex> lock(m_mutex);
    auto it = m_clients.find(address);
    if (it == m_clients.end())
        return false;
    expire(it->second, Poco::Timestamp());
    return it->second.locked;
}

void AttemptsTracker::reset(const std::string& address) {
    std::lock_guard<std::mutex> lock(m_mutex);
    m_clients.erase(address);
}

// Called with m_mutex held.
void AttemptsTracker::expire(Client& client, const Poco::Timestamp& now) const {
    if (client.locked && now >= client.lockedUntil)
        client.locked = false;
    while (!client.failures.empty() && now - client.failures.front() > m_window)
        client.failures.pop_front();
}

// Called with m_mutex held. Locked clients stay: a flood of new addresses
// must not lift a lock.
void AttemptsTracker::makeRoom(const Poco::Timestamp& now) {
    for (auto it = m_clients.begin(); it != m_clients.end();) {
        expire(it->second, now);
        it = it->second.locked ? std::next(it) : m_clients.erase(it);
    }
}

}  // namespace Util
}  // namespace Orvane
