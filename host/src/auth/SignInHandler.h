// The flow the host's sign-in forms share: POST .../login trades the form's
// credentials for a session cookie (HttpOnly, with the form's SameSite
// policy, Secure under TLS), POST .../logout ends the session and expires
// the cookie. Failed sign-ins are logged and counted by RefusedCredentials;
// a blocked address gets 429. GuestLogin and OwnerLogin name what differs in
// a Kind. One object per request.
#pragma once

#include <Poco/Net/HTMLForm.h>
#include <Poco/Net/HTTPRequestHandler.h>

#include <string>

#include "auth/RefusedCredentials.h"
#include "front/FrontContext.h"

namespace Orvane {
namespace Host {

class SignInHandler : public Poco::Net::HTTPRequestHandler {
public:
    enum Action { LOGIN, LOGOUT };

    // What tells one sign-in form from another.
    struct Kind {
        const char* cookie;
        const char* sameSite;
        // Where refusals lead back to, and the redirect without a "next".
        const char* page;
        RefusedCredentials::Path path;  // for the log and the counts
        const char* nameField;          // the form's field naming the user, or ""
        const char* wrongCredentials;
        SessionStore::Kind session;
        // The session's user when the form's credentials are right.
        bool (*accepts)(const Poco::Net::HTMLForm& form, std::string& user);
    };

    SignInHandler(FrontContext& context, const Kind& kind, Action action);

    void handleRequest(Poco::Net::HTTPServerRequest& request,
                       Poco::Net::HTTPServerResponse& response) override;

private:
    void login(Poco::Net::HTTPServerRequest& request, Poco::Net::HTTPServerResponse& response,
               const Poco::Net::HTMLForm& form);
    void logout(Poco::Net::HTTPServerRequest& request, Poco::Net::HTTPServerResponse& response,
                const Poco::Net::HTMLForm& form);

    FrontContext& m_context;
    const Kind m_kind;
    Action m_action;
};

}  // namespace Host
}  // namespace Orvane
