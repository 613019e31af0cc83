#include "auth/GuestLogin.h"

#include <Poco/Logger.h>
#include <Poco/Net/HTTPServerRequest.h>
#include <Poco/Net/HTTPServerResponse.h>

#include "auth/SignInForm.h"
#include "orvane/GuestUserManager.h"

namespace Orvane {
namespace Host {

using Poco::Net::HTTPResponse;

namespace {
const char* kPage = "/ui/guest/";
const char* kSameSite = "Lax";
}  // namespace

GuestLogin::GuestLogin(FrontContext& context, Action action)
    : m_context(context), m_action(action) {}

void GuestLogin::handleRequest(Poco::Net::HTTPServerRequest& request,
                               Poco::Net::HTTPServerResponse& response) {
    Poco::Net::HTMLForm form;
    if (!SignInForm::read(request, response, form))
        return;
    if (m_action == LOGIN) {
        login(request, response, form);
    } else {
        logout(request, response, form);
    }
}

void GuestLogin::login(Poco::Net::HTTPServerRequest& request,
                       Poco::Net::HTTPServerResponse& response, const Poco::Net::HTMLForm& form) {
    const std::string address = request.clientAddress().host().toString();
    if (m_context.signIns.isLocked(address)) {
        response.set("Retry-After", "600");
        SignInForm::refuse(response, HTTPResponse::HTTP_TOO_MANY_REQUESTS,
                           "Too many failed sign-ins. Try again in a few minutes.", kPage);
        return;
    }
    const std::string name = form.get("name", "");
    const std::string password = form.get("password", "");
    if (name.empty() || API::GuestUserManager::getGuestUserID(name, password) == -1) {
        m_context.signIns.addFailure(address);
        Poco::Logger::get("HttpFront").notice("Failed guest sign-in from " + address);
        SignInForm::refuse(response, HTTPResponse::HTTP_FORBIDDEN, "Wrong name or password.",
                           kPage);
        return;
    }
    m_context.signIns.succeeded(address);
    const std::string id = m_context.sessions.create(SessionStore::GUEST, name);
    response.add("Set-Cookie", SignInForm::cookie(Authenticator::GUEST_COOKIE, id, kSameSite));
    SignInForm::redirect(response, form, kPage);
}

void GuestLogin::logout(Poco::Net::HTTPServerRequest& request,
                        Poco::Net::HTTPServerResponse& response, const Poco::Net::HTMLForm& form) {
    m_context.sessions.remove(Authenticator::cookie(request, Authenticator::GUEST_COOKIE));
    response.add("Set-Cookie", SignInForm::expiredCookie(Authenticator::GUEST_COOKIE, kSameSite));
    SignInForm::redirect(response, form, kPage);
}

}  // namespace Host
}  // namespace Orvane
