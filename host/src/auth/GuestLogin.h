// POST /ui/guest/login (fields "name", "password", optional "next") and
// POST /ui/guest/logout. A good sign-in sets the session cookie
// `orvane_guest` (HttpOnly, SameSite=Lax, Secure under TLS); failures count
// per client address and per name, and a blocked address gets 429. One
// object per request.
#pragma once

#include "auth/SignInHandler.h"

namespace Orvane {
namespace Host {

class GuestLogin : public SignInHandler {
public:
    GuestLogin(FrontContext& context, Action action);
};

}  // namespace Host
}  // namespace Orvane
