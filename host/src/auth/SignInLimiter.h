// Failed guest sign-ins, one attempts tracker per client address, so that
// one client guessing passwords locks only itself out (5 failures within a
// minute lock that address for 10 minutes). Thread-safe.
#pragma once

#include <map>
#include <memory>
#include <mutex>
#include <string>

#include "orvane/AttemptsTracker.h"

namespace Orvane {
namespace Host {

class SignInLimiter {
public:
    explicit SignInLimiter(std::size_t maxAddresses = 10000);

    bool isLocked(const std::string& address);
    void addFailure(const std::string& address);
    void succeeded(const std::string& address);

private:
    Util::AttemptsTracker& trackerFor(const std::string& address);

    std::size_t m_maxAddresses;
    std::mutex m_mutex;
    std::map<std::string, std::unique_ptr<Util::AttemptsTracker>> m_trackers;
};

}  // namespace Host
}  // namespace Orvane
