// What the web front's request handlers share: the waiting replies, the
// sign-in sessions, the throttles, the served plug-ins, the settings and
// the connection limits.
// Built once before the server starts; its members are thread-safe.
#pragma once

#include <chrono>
#include <set>
#include <string>

#include "auth/Authenticator.h"
#include "auth/ClientThrottle.h"
#include "auth/GuessedNames.h"
#include "auth/SessionStore.h"
#include "bridge/PendingReplies.h"
#include "net/FrontLimits.h"
#include "net/TrustedProxies.h"

namespace Orvane {
namespace Host {

struct FrontContext {
    explicit FrontContext(PendingReplies& replies)
        : pending(replies),
          authenticator(sessions),
          credentialThrottle(10, std::chrono::seconds(60), std::chrono::seconds(600)),
          signIns(5, std::chrono::seconds(60), std::chrono::seconds(600)),
          guessedNames(20, std::chrono::seconds(600), std::chrono::seconds(600)) {}

    PendingReplies& pending;
    SessionStore sessions;
    Authenticator authenticator;
    // Wrong credentials answered 401 on share pages, per client address.
    ClientThrottle credentialThrottle;
    // Failed sign-ins on the host's sign-in forms, per client address.
    ClientThrottle signIns;
    // Wrong credentials per guest name, from any address.
    GuessedNames guessedNames;
    std::set<std::string> plugins;  // names served below /app/
    std::chrono::milliseconds replyTimeout{30000};
    std::string wwwDir;
    // The connection limits and the proxies believed; set before start.
    FrontLimits limits;
    TrustedProxies proxies;
};

}  // namespace Host
}  // namespace Orvane
