#include "auth/RefusedCredentials.h"

#include <Poco/Logger.h>

#include <cstdio>

namespace Orvane {
namespace Host {

namespace {

const std::size_t kMaxLoggedName = 128;

const char* pathName(RefusedCredentials::Path path) {
    switch (path) {
        case RefusedCredentials::BASIC:
            return "basic";
        case RefusedCredentials::GUEST_SIGN_IN:
            return "guest-sign-in";
        default:
            return "owner-sign-in";
    }
}

// Nothing a visitor types can end the line or fake another field of it.
std::string quoted(const std::string& name) {
    std::string out = "\"";
    for (unsigned char c : name.substr(0, kMaxLoggedName)) {
        if (c == '"' || c == '\\') {
            out += '\\';
            out += static_cast<char>(c);
        } else if (c < 0x20 || c == 0x7F) {
            char escaped[8];
            std::snprintf(escaped, sizeof(escaped), "\\x%02x", c);
            out += escaped;
        } else {
            out += static_cast<char>(c);
        }
    }
    return out + "\"";
}

}  // namespace

void RefusedCredentials::record(FrontContext& context, Path path, const std::string& address,
                                const std::string& name) {
    Poco::Logger& log = Poco::Logger::get("Auth");
    log.warning(logLine(path, address, name));
    ClientThrottle& throttle = path == BASIC ? context.credentialThrottle : context.signIns;
    bool blocked = throttle.recordFailure(address);
    if (!name.empty() && context.guessedNames.recordFailure(name)) {
        context.credentialThrottle.block(address);
        context.signIns.block(address);
        blocked = true;
    }
    if (blocked)
        log.warning("Blocked " + address + " for a while after wrong credentials");
}

std::string RefusedCredentials::logLine(Path path, const std::string& address,
                                        const std::string& name) {
    return "Refused credentials from " + address + " for user " + quoted(name) + " (" +
           pathName(path) + ")";
}

std::string RefusedCredentials::nameOf(const std::string& credentials) {
    return credentials.substr(0, credentials.find(':'));
}

}  // namespace Host
}  // namespace Orvane
