// Wrong credentials counted per guest name, whatever address they come from:
// a name that collects maxFailures within `window` is guarded for `guard`.
// While a name is guarded, the host blocks every address that sends a wrong
// password for it at once, so that guessing spread over many addresses gets
// one try per address; the right password still works from anywhere, so the
// guest is never locked out by other people's guessing. Thread-safe.
#pragma once

#include <chrono>
#include <deque>
#include <map>
#include <mutex>
#include <string>

namespace Orvane {
namespace Host {

class GuessedNames {
public:
    typedef std::chrono::steady_clock Clock;

    GuessedNames(int maxFailures, std::chrono::seconds window, std::chrono::seconds guard,
                 std::size_t maxNames = 10000);

    // Counts a wrong credential for the name; true when the name is (now)
    // guarded.
    bool recordFailure(const std::string& name);
    bool isGuarded(const std::string& name);

private:
    struct Entry {
        std::deque<Clock::time_point> failures;
        Clock::time_point guardedUntil;
    };

    void forgetOld(Entry& entry, Clock::time_point now) const;
    void makeRoom(Clock::time_point now);

    int m_maxFailures;
    std::chrono::seconds m_window;
    std::chrono::seconds m_guard;
    std::size_t m_maxNames;
    std::mutex m_mutex;
    std::map<std::string, Entry> m_entries;
};

}  // namespace Host
}  // namespace Orvane
