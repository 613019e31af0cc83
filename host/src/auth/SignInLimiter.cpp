#include "auth/SignInLimiter.h"

namespace Orvane {
namespace Host {

SignInLimiter::SignInLimiter(std::size_t maxAddresses) : m_maxAddresses(maxAddresses) {}

bool SignInLimiter::isLocked(const std::string& address) {
    std::lock_guard<std::mutex> lock(m_mutex);
    auto it = m_trackers.find(address);
    return it != m_trackers.end() && it->second->isLocked();
}

void SignInLimiter::addFailure(const std::string& address) {
    std::lock_guard<std::mutex> lock(m_mutex);
    trackerFor(address).addAttempt();
}

void SignInLimiter::succeeded(const std::string& address) {
    std::lock_guard<std::mutex> lock(m_mutex);
    m_trackers.erase(address);
}

Util::AttemptsTracker& SignInLimiter::trackerFor(const std::string& address) {
    auto it = m_trackers.find(address);
    if (it != m_trackers.end())
        return *it->second;
    if (m_trackers.size() >= m_maxAddresses) {
        // Make room by forgetting addresses that are not locked out.
        for (auto t = m_trackers.begin(); t != m_trackers.end();) {
            t = t->second->isLocked() ? std::next(t) : m_trackers.erase(t);
        }
    }
    auto& slot = m_trackers[address];
    slot.reset(new Util::AttemptsTracker(5, 60, 600));
    return *slot;
}

}  // namespace Host
}  // namespace Orvane
