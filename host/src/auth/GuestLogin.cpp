#include "auth/GuestLogin.h"

#include "orvane/GuestUserManager.h"

namespace Orvane {
namespace Host {

namespace {

bool acceptsGuest(const Poco::Net::HTMLForm& form, std::string& user) {
    user = form.get("name", "");
    return !user.empty() &&
           API::GuestUserManager::getGuestUserID(user, form.get("password", "")) != -1;
}

}  // namespace

GuestLogin::GuestLogin(FrontContext& context, Action action)
    : SignInHandler(
          context,
          {Authenticator::GUEST_COOKIE, "Lax", "/ui/guest/", RefusedCredentials::GUEST_SIGN_IN,
           "name", "Wrong name or password.", SessionStore::GUEST, acceptsGuest},
          action) {}

}  // namespace Host
}  // namespace Orvane
