// POST /ui/guest/login (fields "name", "password", optional "next") and
// POST /ui/guest/logout. A good sign-in sets the session cookie
// `orvane_guest` (HttpOnly, SameSite=Lax); failures count per client
// address and a locked-out address gets 429. One object per request.
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
