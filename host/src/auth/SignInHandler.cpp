#include "auth/SignInHandler.h"

#include <Poco/Net/HTTPServerRequest.h>
#include <Poco/Net/HTTPServerResponse.h>

#include "auth/SignInForm.h"

namespace Orvane {
namespace Host {

using Poco::Net::HTTPResponse;

SignInHandler::SignInHandler(FrontContext& context, const Kind& kind, Action action)
    : m_context(context), m_kind(kind), m_action(action) {}

void SignInHandler::handleRequest(Poco::Net::HTTPServerRequest& request,
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

void SignInHandler::login(Poco::Net::HTTPServerRequest& request,
                          Poco::Net::HTTPServerResponse& response,
                          const Poco::Net::HTMLForm& form) {
    const std::string address = request.clientAddress().host().toString();
    if (int left = m_context.signIns.blockedFor(address)) {
        response.set("Retry-After", std::to_string(left));
        SignInForm::refuse(response, HTTPResponse::HTTP_TOO_MANY_REQUESTS,
                           "Too many failed sign-ins. Try again in a few minutes.", m_kind.page);
        return;
    }
    std::string user;
    if (!m_kind.accepts(form, user)) {
        const std::string tried = *m_kind.nameField ? form.get(m_kind.nameField, "") : "";
        RefusedCredentials::record(m_context, m_kind.path, address, tried);
        SignInForm::refuse(response, HTTPResponse::HTTP_FORBIDDEN, m_kind.wrongCredentials,
                           m_kind.page);
        return;
    }
    m_context.signIns.forget(address);
    const std::string id = m_context.sessions.create(m_kind.session, user);
    response.add("Set-Cookie",
                 SignInForm::cookie(m_kind.cookie, id, m_kind.sameSite, request.secure()));
    SignInForm::redirect(response, form, m_kind.page);
}

void SignInHandler::logout(Poco::Net::HTTPServerRequest& request,
                           Poco::Net::HTTPServerResponse& response,
                           const Poco::Net::HTMLForm& form) {
    m_context.sessions.remove(Authenticator::cookie(request, m_kind.cookie));
    response.add("Set-Cookie",
                 SignInForm::expiredCookie(m_kind.cookie, m_kind.sameSite, request.secure()));
    SignInForm::redirect(response, form, m_kind.page);
}

}  // namespace Host
}  // namespace Orvane
