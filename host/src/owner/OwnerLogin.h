// POST /ui/owner/login (field "token", optional "next") and
// POST /ui/owner/logout: trades the owner token for the session cookie
// `orvane_owner` (HttpOnly, SameSite=Strict, so that a link from another
// site never carries it; Secure under TLS). Failures are logged and count
// per client address like guest sign-ins. One object per request.
#pragma once

#include "auth/SignInHandler.h"

namespace Orvane {
namespace Host {

class OwnerLogin : public SignInHandler {
public:
    OwnerLogin(FrontContext& context, Action action);
};

}  // namespace Host
}  // namespace Orvane
