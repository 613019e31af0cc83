#include "auth/ClientThrottle.h"

namespace Orvane {
namespace Host {

ClientThrottle::ClientThrottle(int maxFailures, std::chrono::seconds window,
                               std::chrono::seconds block, std::size_t maxAddresses)
    : m_maxFailures(maxFailures), m_window(window), m_block(block), m_maxAddresses(maxAddresses) {}

int ClientThrottle::blockedFor(const std::string& address) {
    const Clock::time_point now = Clock::now();
    std::lock_guard<std::mutex> lock(m_mutex);
    auto it = m_entries.find(address);
    if (it == m_entries.end() || it->second.blockedUntil <= now)
        return 0;
    auto left = std::chrono::duration_cast<std::chrono::seconds>(it->second.blockedUntil - now);
    return static_cast<int>(left.count()) + 1;
}

bool ClientThrottle::recordFailure(const std::string& address) {
    const Clock::time_point now = Clock::now();
    std::lock_guard<std::mutex> lock(m_mutex);
    if (m_entries.size() >= m_maxAddresses && !m_entries.count(address))
        prune(now);
    Entry& entry = m_entries[address];
    forgetOld(entry, now);
    entry.failures.push_back(now);
    if (static_cast<int>(entry.failures.size()) < m_maxFailures)
        return false;
    entry.blockedUntil = now + m_block;
    entry.failures.clear();
    return true;
}

void ClientThrottle::block(const std::string& address) {
    const Clock::time_point now = Clock::now();
    std::lock_guard<std::mutex> lock(m_mutex);
    if (m_entries.size() >= m_maxAddresses && !m_entries.count(address))
        prune(now);
    Entry& entry = m_entries[address];
    entry.blockedUntil = now + m_block;
    entry.failures.clear();
}

void ClientThrottle::forget(const std::string& address) {
    std::lock_guard<std::mutex> lock(m_mutex);
    auto it = m_entries.find(address);
    if (it != m_entries.end() && it->second.blockedUntil <= Clock::now())
        m_entries.erase(it);
}

void ClientThrottle::forgetOld(Entry& entry, Clock::time_point now) {
    while (!entry.failures.empty() && entry.failures.front() + m_window <= now) {
        entry.failures.pop_front();
    }
}

void ClientThrottle::prune(Clock::time_point now) {
    for (auto it = m_entries.begin(); it != m_entries.end();) {
        forgetOld(it->second, now);
        if (it->second.failures.empty() && it->second.blockedUntil <= now) {
            it = m_entries.erase(it);
        } else {
            ++it;
        }
    }
    // Still full of live entries: forget the one with the fewest failures
    // that is not blocked, so a flood of addresses cannot lift real blocks.
    if (m_entries.size() < m_maxAddresses)
        return;
    auto victim = m_entries.end();
    for (auto it = m_entries.begin(); it != m_entries.end(); ++it) {
        if (it->second.blockedUntil > now)
            continue;
        if (victim == m_entries.end() ||
            it->second.failures.size() < victim->second.failures.size())
            victim = it;
    }
    if (victim != m_entries.end())
        m_entries.erase(victim);
}

}  // namespace Host
}  // namespace Orvane
