// Failed log-ins within a sliding window; reaching the limit starts a lock.
#include "orvane/AttemptsTracker.h"

namespace Orvane {
namespace Util {
namespace {

const Poco::Timestamp::TimeDiff kMicrosPerSecond = 1000000;

}  // namespace

AttemptsTracker::AttemptsTracker(int maxAttempts, int windowSeconds, int lockSeconds)
    : m_maxAttempts(maxAttempts > 0 ? maxAttempts : 1),
      m_window(static_cast<Poco::Timestamp::TimeDiff>(windowSeconds > 0 ? windowSeconds : 0) *
               kMicrosPerSecond),
      m_lock(static_cast<Poco::Timestamp::TimeDiff>(lockSeconds > 0 ? lockSeconds : 0) *
             kMicrosPerSecond) {}

void AttemptsTracker::addAttempt() {
    std::lock_guard<std::mutex> lock(m_mutex);
    Poco::Timestamp now;
    expire(now);
    // Failures during a lock neither extend it nor count towards the next one.
    if (m_locked)
        return;
    m_failures.push_back(now);
    if (static_cast<int>(m_failures.size()) >= m_maxAttempts) {
        m_locked = true;
        m_lockedUntil = now + m_lock;
        m_failures.clear();
    }
}

bool AttemptsTracker::isLocked() {
    std::lock_guard<std::mutex> lock(m_mutex);
    expire(Poco::Timestamp());
    return m_locked;
}

void AttemptsTracker::reset() {
    std::lock_guard<std::mutex> lock(m_mutex);
    m_failures.clear();
    m_locked = false;
}

// Called with m_mutex held.
void AttemptsTracker::expire(const Poco::Timestamp& now) {
    if (m_locked && now >= m_lockedUntil)
        m_locked = false;
    while (!m_failures.empty() && now - m_failures.front() > m_window)
        m_failures.pop_front();
}

}  // namespace Util
}  // namespace Orvane
