// Counts failed log-ins: maxAttempts failures within windowSeconds lock for
// lockSeconds. Thread-safe.
#pragma once

#include <Poco/Timestamp.h>
#include <deque>
#include <mutex>

namespace Orvane {
namespace Util {

class AttemptsTracker {
public:
    AttemptsTracker(int maxAttempts, int windowSeconds, int lockSeconds);

    void addAttempt();
    bool isLocked();
    void reset();

private:
    void expire(const Poco::Timestamp& now);

    int m_maxAttempts;
    Poco::Timestamp::TimeDiff m_window;
    Poco::Timestamp::TimeDiff m_lock;
    std::deque<Poco::Timestamp> m_failures;
    Poco::Timestamp m_lockedUntil;
    bool m_locked = false;
    std::mutex m_mutex;
};

}  // namespace Util
}  // namespace Orvane
