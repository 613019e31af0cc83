// What the host does with every refused credential and failed sign-in: one
// log line in a fixed format (the one contrib/fail2ban/ reads), a count
// against the client's address, and a count against the name tried (see
// GuessedNames). The line, logged as a warning by the logger "Auth", is
//   Refused credentials from <address> for user "<name>" (<path>)
// where <path> is basic (credentials sent to a share or WebDAV),
// guest-sign-in or owner-sign-in (whose name is always ""); in the name, '"'
// and '\' are escaped with '\' and other control bytes as \xNN, and it is
// cut at 128 bytes. Stateless; what it counts in is thread-safe.
#pragma once

#include <string>

#include "front/FrontContext.h"

namespace Orvane {
namespace Host {

class RefusedCredentials {
public:
    enum Path { BASIC, GUEST_SIGN_IN, OWNER_SIGN_IN };

    // Logs and counts one refusal: against the address in the throttle of
    // its path (Basic credentials or the sign-in forms), and against the
    // name; a guarded name blocks the address on both at once.
    static void record(FrontContext& context, Path path, const std::string& address,
                       const std::string& name);
    static std::string logLine(Path path, const std::string& address, const std::string& name);
    // The user part of "user:password".
    static std::string nameOf(const std::string& credentials);
};

}  // namespace Host
}  // namespace Orvane
