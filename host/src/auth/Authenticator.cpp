#include "auth/Authenticator.h"

#include <Poco/Base64Decoder.h>
#include <Poco/Net/NameValueCollection.h>
#include <Poco/String.h>

#include <sstream>

#include "orvane/AuthKey.h"
#include "orvane/GuestUserManager.h"
#include "orvane/ProfileManager.h"

namespace Orvane {
namespace Host {

namespace {

// Splits "Scheme value"; false when the header is absent or has no value.
bool authorization(const Poco::Net::HTTPServerRequest& request, const std::string& wanted,
                   std::string& value) {
    const std::string header = request.get("Authorization", "");
    std::string::size_type space = header.find(' ');
    if (space == std::string::npos)
        return false;
    if (Poco::icompare(header.substr(0, space), wanted) != 0)
        return false;
    value = Poco::trim(header.substr(space + 1));
    return !value.empty();
}

}  // namespace

Authenticator::Authenticator(SessionStore& sessions) : m_sessions(sessions) {}

Identity Authenticator::identify(const Poco::Net::HTTPServerRequest& request) const {
    Identity identity;
    identity.hasCredentials = basicCredentials(request, identity.credentials);

    std::string token;
    SessionStore::Session session;
    if (bearerToken(request, token) && API::ProfileManager::checkOwnerToken(token)) {
        identity.role = Data::AuthKey::ROLE_OWNER;
    } else if (m_sessions.find(cookie(request, OWNER_COOKIE), SessionStore::OWNER, session)) {
        // A browser sends the cookie wherever the request was started; only
        // the owner's own pages may use it.
        if (isCrossSite(request)) {
            identity.crossSiteOwner = true;
        } else {
            identity.role = Data::AuthKey::ROLE_OWNER;
        }
    } else if (m_sessions.find(cookie(request, GUEST_COOKIE), SessionStore::GUEST, session) &&
               API::GuestUserManager::getGuestUserID(session.user) != -1) {
        identity.role = Data::AuthKey::ROLE_GUEST;
        identity.user = session.user;
    }
    return identity;
}

std::string Authenticator::cookie(const Poco::Net::HTTPServerRequest& request,
                                  const std::string& name) {
    Poco::Net::NameValueCollection cookies;
    request.getCookies(cookies);
    return cookies.get(name, "");
}

bool Authenticator::basicCredentials(const Poco::Net::HTTPServerRequest& request,
                                     std::string& credentials) {
    std::string encoded;
    if (!authorization(request, "Basic", encoded))
        return false;
    try {
        std::istringstream in(encoded);
        Poco::Base64Decoder decoder(in);
        std::string decoded((std::istreambuf_iterator<char>(decoder)),
                            std::istreambuf_iterator<char>());
        if (decoded.find(':') == std::string::npos)
            return false;
        if (decoded.find('\0') != std::string::npos)
            return false;
        credentials = decoded;
        return true;
    } catch (const Poco::Exception&) {
        return false;
    }
}

bool Authenticator::bearerToken(const Poco::Net::HTTPServerRequest& request, std::string& token) {
    return authorization(request, "Bearer", token);
}

bool Authenticator::isCrossSite(const Poco::Net::HTTPServerRequest& request) {
    const std::string site = Poco::toLower(request.get("Sec-Fetch-Site", ""));
    if (!site.empty() && site != "same-origin" && site != "none")
        return true;
    if (!request.has("Origin"))
        return false;
    const std::string origin = Poco::toLower(Poco::trim(request.get("Origin")));
    const std::string host = Poco::toLower(request.getHost());
    return host.empty() || (origin != "http://" + host && origin != "https://" + host);
}

}  // namespace Host
}  // namespace Orvane
