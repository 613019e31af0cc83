// Sign-in sessions of the web front: a random 128-bit id per signed-in guest
// or owner, kept in memory for a limited time; a guest holds at most
// MAX_PER_GUEST sessions, the oldest giving way. Thread-safe.
#pragma once

#include <chrono>
#include <map>
#include <mutex>
#include <string>

namespace Orvane {
namespace Host {

class SessionStore {
public:
    enum Kind { GUEST, OWNER };

    struct Session {
        Kind kind = GUEST;
        std::string user;
        std::chrono::steady_clock::time_point expires;
    };

    static const std::size_t MAX_PER_GUEST = 20;

    explicit SessionStore(std::chrono::seconds lifetime = std::chrono::hours(12),
                          std::size_t maxSessions = 10000);

    // The new session's id: 32 lower-case hex digits from the system's
    // random source.
    std::string create(Kind kind, const std::string& user);
    // False for an unknown, expired or other-kind id.
    bool find(const std::string& id, Kind kind, Session& out);
    void remove(const std::string& id);
    // Ends every session of a guest (removed or given a new password).
    void removeUser(Kind kind, const std::string& user);

private:
    void prune();
    void makeRoomFor(const std::string& guest);

    std::chrono::seconds m_lifetime;
    std::size_t m_maxSessions;
    std::mutex m_mutex;
    std::map<std::string, Session> m_sessions;
};

}  // namespace Host
}  // namespace Orvane
