#include "owner/OwnerLogin.h"

#include <Poco/Logger.h>
#include <Poco/Net/HTTPServerRequest.h>
#include <Poco/Net/HTTPServerResponse.h>

#include "auth/SignInForm.h"
#include "orvane/ProfileManager.h"

namespace Orvane {
namespace Host {

using Poco::Net::HTTPResponse;

namespace {
const char* kSameSite = "Strict";
}  // namespace

OwnerLogin::OwnerLogin(FrontContext& context, Action action)
    : m_context(context), m_action(action) {}

void OwnerLogin::handleRequest(Poco::Net::HTTPServerRequest& request,
                               Poco::Net::HTTPServerResponse& response) {
    Poco::Net::HTMLForm form;
    if (!SignInForm::read(request, response, form))
        return;
    if (m_action == LOGOUT) {
        m_context.sessions.remove(Authenticator::cookie(request, Authenticator::OWNER_COOKIE));
        response.add("Set-Cookie",
                     SignInForm::expiredCookie(Authenticator::OWNER_COOKIE, kSameSite));
        SignInForm::redirect(response, form, "/");
        return;
    }
    const std::string address = request.clientAddress().host().toString();
    if (m_context.signIns.isLocked(address)) {
        response.set("Retry-After", "600");
        SignInForm::refuse(response, HTTPResponse::HTTP_TOO_MANY_REQUESTS,
                           "Too many failed sign-ins. Try again in a few minutes.", "/");
        return;
    }
    if (!API::ProfileManager::checkOwnerToken(form.get("token", ""))) {
        m_context.signIns.addFailure(address);
        Poco::Logger::get("HttpFront").notice("Failed owner sign-in from " + address);
        SignInForm::refuse(response, HTTPResponse::HTTP_FORBIDDEN, "Wrong owner token.", "/");
        return;
    }
    m_context.signIns.succeeded(address);
    const std::string id = m_context.sessions.create(SessionStore::OWNER, "");
    response.add("Set-Cookie", SignInForm::cookie(Authenticator::OWNER_COOKIE, id, kSameSite));
    SignInForm::redirect(response, form, "/");
}

}  // namespace Host
}  // namespace Orvane
