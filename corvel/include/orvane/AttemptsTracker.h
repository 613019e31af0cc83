// Counts failed log-ins per client: maxAttempts failures of one client within
// windowSeconds lock that client for lockSeconds. The calls without a client
// count for the client of the message being delivered on the calling thread
// (System::currentClientAddress(), "" outside a delivery), so a plug-in that
// keeps one tracker for everybody still locks out only the guesser; the calls
// naming a client serve the host's own callers. Thread-safe.
#pragma once

#include <Poco/Timestamp.h>

#include <cstddef>
#include <deque>
#include <map>
#include <mutex>
#include <string>

namespace Orvane {
namespace Util {

class AttemptsTracker {
public:
    AttemptsTracker(int maxAttempts, int windowSeconds, int lockSeconds);

    void addAttempt();
    bool isLocked();
    // Forgets every client's failures and locks.
    void reset();

    void addAttempt(const std::string& client);
    bool isLocked(const std::string& client);
    void reset(const std::string& client);

    // Clients remembered at once; beyond it, those not locked are forgotten.
    static const std::size_t MAX_CLIENTS = 10000;

private:
    struct Client {
        std::deque<Poco::Timestamp> failures;
        Poco::Timestamp lockedUntil;
        bool locked = false;
    };

    void expire(Client& client, const Poco::Timestamp& now) const;
    void makeRoom(const Poco::Timestamp& now);

    int m_maxAttempts;
    Poco::Timestamp::TimeDiff m_window;
    Poco::Timestamp::TimeDiff m_lock;
    std::map<std::string, Client> m_clients;
    std::mutex m_mutex;
};

}  // namespace Util
}  // namespace Orvane
