#include "auth/GuessedNames.h"

namespace Orvane {
namespace Host {

GuessedNames::GuessedNames(int maxFailures, std::chrono::seconds window, std::chrono::seconds guard,
                           std::size_t maxNames)
    : m_maxFailures(maxFailures), m_window(window), m_guard(guard), m_maxNames(maxNames) {}

bool GuessedNames::recordFailure(const std::string& name) {
    const Clock::time_point now = Clock::now();
    std::lock_guard<std::mutex> lock(m_mutex);
    if (m_entries.size() >= m_maxNames && !m_entries.count(name))
        makeRoom(now);
    Entry& entry = m_entries[name];
    forgetOld(entry, now);
    entry.failures.push_back(now);
    if (static_cast<int>(entry.failures.size()) >= m_maxFailures) {
        entry.guardedUntil = now + m_guard;
        entry.failures.clear();
    }
    return entry.guardedUntil > now;
}

bool GuessedNames::isGuarded(const std::string& name) {
    std::lock_guard<std::mutex> lock(m_mutex);
    auto it = m_entries.find(name);
    return it != m_entries.end() && it->second.guardedUntil > Clock::now();
}

void GuessedNames::forgetOld(Entry& entry, Clock::time_point now) const {
    while (!entry.failures.empty() && entry.failures.front() + m_window <= now)
        entry.failures.pop_front();
}

// Names tried by anybody are not ours to keep without bound; guarded names
// stay, so that a flood of made-up names cannot lift a guard.
void GuessedNames::makeRoom(Clock::time_point now) {
    for (auto it = m_entries.begin(); it != m_entries.end();) {
        forgetOld(it->second, now);
        const bool idle = it->second.guardedUntil <= now;
        it = idle ? m_entries.erase(it) : std::next(it);
    }
}

}  // namespace Host
}  // namespace Orvane
