// POST /ui/guest/login (fields "name", "password", optional "next") and
// POST /ui/guest/logout. A good sign-in sets the session cookie
// `orvane_guest` (HttpOnly, SameSite=Lax); failures count per client
// address and a locked-out address gets 429. One object per request.
#pragma once

#include <Poco/Net/HTMLForm.h>
#include <Poco/Net/HTTPRequestHandler.h>

#include "front/FrontContext.h"

namespace Orvane {
namespace Host {

class GuestLogin : public Poco::Net::HTTPRequestHandler {
public:
    enum Action { LOGIN, LOGOUT };

    GuestLogin(FrontContext& context, Action action);

    void handleRequest(Poco::Net::HTTPServerRequest& request,
                       Poco::Net::HTTPServerResponse& response) override;

private:
    void login(Poco::Net::HTTPServerRequest& request, Poco::Net::HTTPServerResponse& response,
               const Poco::Net::HTMLForm& form);
    void logout(Poco::Net::HTTPServerRequest& request, Poco::Net::HTTPServerResponse& response,
                const Poco::Net::HTMLForm& form);

    FrontContext& m_context;
    Action m_action;
};

}  // namespace Host
}  // namespace Orvane
