#include "owner/OwnerLogin.h"

#include "orvane/ProfileManager.h"

namespace Orvane {
namespace Host {

namespace {

// The owner's session names no user.
bool acceptsOwner(const Poco::Net::HTMLForm& form, std::string& user) {
    user.clear();
    return API::ProfileManager::checkOwnerToken(form.get("token", ""));
}

}  // namespace

OwnerLogin::OwnerLogin(FrontContext& context, Action action)
    : SignInHandler(context,
                    {Authenticator::OWNER_COOKIE, "Strict", "/", RefusedCredentials::OWNER_SIGN_IN,
                     "", "Wrong owner token.", SessionStore::OWNER, acceptsOwner},
                    action) {}

}  // namespace Host
}  // namespace Orvane
