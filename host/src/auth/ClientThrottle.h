// Counts failures per client address and blocks an address that collects
// too many within a window: after maxFailures within `window`, the address
// is blocked for `block`. Used for wrong credentials on share pages (10 in a
// minute block for 10 minutes) and on the sign-in forms (5 in a minute).
// Thread-safe.
#pragma once

#include <chrono>
#include <deque>
#include <map>
#include <mutex>
#include <string>

namespace Orvane {
namespace Host {

class ClientThrottle {
public:
    typedef std::chrono::steady_clock Clock;

    ClientThrottle(int maxFailures, std::chrono::seconds window, std::chrono::seconds block,
                   std::size_t maxAddresses = 10000);

    // Seconds left on the address's block, 0 when it may go on.
    int blockedFor(const std::string& address);
    // True when this failure starts a block.
    bool recordFailure(const std::string& address);
    // Blocks the address at once (a guard on the name it guessed).
    void block(const std::string& address);
    // Forgets the address's failures (it signed in).
    void forget(const std::string& address);

private:
    struct Entry {
        std::deque<Clock::time_point> failures;
        Clock::time_point blockedUntil;
    };

    void forgetOld(Entry& entry, Clock::time_point now);
    void prune(Clock::time_point now);

    int m_maxFailures;
    std::chrono::seconds m_window;
    std::chrono::seconds m_block;
    std::size_t m_maxAddresses;
    std::mutex m_mutex;
    std::map<std::string, Entry> m_entries;
};

}  // namespace Host
}  // namespace Orvane
