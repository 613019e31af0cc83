#include "auth/SignInForm.h"

#include "front/HttpErrors.h"
#include "front/ShortLinkHandler.h"
#include "http/HeaderText.h"
#include "http/RequestBody.h"

namespace Orvane {
namespace Host {

using Poco::Net::HTTPResponse;

bool SignInForm::read(Poco::Net::HTTPServerRequest& request,
                      Poco::Net::HTTPServerResponse& response, Poco::Net::HTMLForm& form) {
    if (request.getMethod() != "POST") {
        response.set("Allow", "POST");
        HttpErrors::send(response, HTTPResponse::HTTP_METHOD_NOT_ALLOWED);
        return false;
    }
    std::string body;
    try {
        body = RequestBody::read(request, 64 * 1024);
    } catch (const BodyTooLarge&) {
        if (!RequestBody::discard(request, 16 * RequestBody::kMaxBytes)) {
            response.setKeepAlive(false);
        }
        HttpErrors::send(response, HTTPResponse::HTTP_REQUESTENTITYTOOLARGE);
        return false;
    }
    try {
        form.read(body);
    } catch (const Poco::Exception&) {
        HttpErrors::send(response, HTTPResponse::HTTP_BAD_REQUEST, "The form could not be read.");
        return false;
    }
    return true;
}

std::string SignInForm::cookie(const std::string& name, const std::string& value,
                               const std::string& sameSite, bool secure) {
    return name + "=" + value + "; Path=/; HttpOnly; SameSite=" + sameSite +
           (secure ? "; Secure" : "");
}

std::string SignInForm::expiredCookie(const std::string& name, const std::string& sameSite,
                                      bool secure) {
    return cookie(name, "", sameSite, secure) +
           "; Max-Age=0; Expires=Thu, 01 Jan 1970 00:00:00 GMT";
}

void SignInForm::redirect(Poco::Net::HTTPServerResponse& response, const Poco::Net::HTMLForm& form,
                          const std::string& fallback) {
    std::string next = form.get("next", "");
    if (!ShortLinkHandler::isLocalPath(next))
        next = fallback;
    response.setStatusAndReason(HTTPResponse::HTTP_SEE_OTHER);
    response.set("Location", next);
    response.set("Cache-Control", "no-store");
    response.setContentLength(0);
    response.send();
}

void SignInForm::refuse(Poco::Net::HTTPServerResponse& response, int status,
                        const std::string& message, const std::string& backTo) {
    const std::string body =
        "<!DOCTYPE html><html><head><meta charset=\"utf-8\"><title>Sign-in</title></head><body>"
        "<p>" +
        HeaderText::html(message) + "</p><p><a href=\"" + HeaderText::html(backTo) +
        "\">Back to the sign-in</a></p></body></html>\n";
    response.setStatusAndReason(static_cast<HTTPResponse::HTTPStatus>(status));
    response.setContentType("text/html; charset=utf-8");
    response.set("Cache-Control", "no-store");
    response.setContentLength(static_cast<std::streamsize>(body.size()));
    response.sendBuffer(body.data(), body.size());
}

}  // namespace Host
}  // namespace Orvane
