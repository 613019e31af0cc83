// Tells who an HTTP request speaks for: the owner (a valid owner token as
// "Authorization: Bearer", or an owner session cookie on a request that is
// not cross-site), a signed-in guest (guest session cookie of a guest who
// still exists) or nobody, and which Basic credentials it carries. Only ever
// derived from the request's own headers; stateless apart from the session
// store. Thread-safe.
#pragma once

#include <Poco/Net/HTTPServerRequest.h>

#include <string>

#include "auth/SessionStore.h"

namespace Orvane {
namespace Host {

struct Identity {
    int role = 0;  // AuthKey::ROLE_ANONYMOUS, ROLE_GUEST or ROLE_OWNER
    std::string user;
    bool hasCredentials = false;
    std::string credentials;  // user:password from "Authorization: Basic"
    // A valid owner cookie came with a request from another site, so it
    // does not count (the role stays anonymous); the caller may refuse.
    bool crossSiteOwner = false;
};

class Authenticator {
public:
    static constexpr const char* OWNER_COOKIE = "orvane_owner";
    static constexpr const char* GUEST_COOKIE = "orvane_guest";

    explicit Authenticator(SessionStore& sessions);

    Identity identify(const Poco::Net::HTTPServerRequest& request) const;

    static std::string cookie(const Poco::Net::HTTPServerRequest& request, const std::string& name);
    // The decoded "user:password" of a Basic authorization; false without one.
    static bool basicCredentials(const Poco::Net::HTTPServerRequest& request,
                                 std::string& credentials);
    static bool bearerToken(const Poco::Net::HTTPServerRequest& request, std::string& token);
    // True when the browser says the request comes from another site.
    static bool isCrossSite(const Poco::Net::HTTPServerRequest& request);

private:
    SessionStore& m_sessions;
};

}  // namespace Host
}  // namespace Orvane
