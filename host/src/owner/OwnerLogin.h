// POST /ui/owner/login (field "token", optional "next") and
// POST /ui/owner/logout: trades the owner token for the session cookie
// `orvane_owner` (HttpOnly, SameSite=Strict, so that a link from another
// site never carries it). Failures count per client address like guest
// sign-ins. One object per request.
#pragma once

#include <Poco/Net/HTTPRequestHandler.h>

#include "front/FrontContext.h"

namespace Orvane {
namespace Host {

class OwnerLogin : public Poco::Net::HTTPRequestHandler {
public:
    enum Action { LOGIN, LOGOUT };

    OwnerLogin(FrontContext& context, Action action);

    void handleRequest(Poco::Net::HTTPServerRequest& request,
                       Poco::Net::HTTPServerResponse& response) override;

private:
    FrontContext& m_context;
    Action m_action;
};

}  // namespace Host
}  // namespace Orvane
