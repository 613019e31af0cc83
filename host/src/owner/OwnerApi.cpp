#include "owner/OwnerApi.h"

#include <Poco/Logger.h>
#include <Poco/Net/HTTPServerRequest.h>
#include <Poco/Net/HTTPServerResponse.h>
#include <Poco/String.h>

#include "auth/Authenticator.h"
#include "http/RequestBody.h"
#include "http/ResponseBody.h"
#include "orvane/AuthKey.h"
#include "owner/OwnerError.h"
#include "owner/OwnerFolders.h"
#include "owner/OwnerGuests.h"
#include "owner/OwnerJson.h"
#include "owner/OwnerMailSettings.h"

namespace Orvane {
namespace Host {

using Poco::Net::HTTPResponse;

namespace {
const std::size_t kMaxForm = 64 * 1024;
}  // namespace

OwnerApi::OwnerApi(FrontContext& context, const std::string& endpoint)
    : m_context(context), m_endpoint(endpoint) {}

void OwnerApi::handleRequest(Poco::Net::HTTPServerRequest& request,
                             Poco::Net::HTTPServerResponse& response) {
    int status = 200;
    std::string json;
    try {
        if (Authenticator::isCrossSite(request))
            throw OwnerError(403, "The owner console only answers its own pages.");
        if (m_context.authenticator.identify(request).role != Data::AuthKey::ROLE_OWNER) {
            throw OwnerError(401, "Sign in with the owner token.");
        }
        json = answer(request, response);
    } catch (const OwnerError& e) {
        status = e.status();
        json = OwnerJson().field("error", e.what()).str();
    } catch (const std::exception& e) {
        Poco::Logger::get("HttpFront").error("Owner endpoint " + m_endpoint + ": " + e.what());
        status = 500;
        json = OwnerJson().field("error", "The host failed on this request.").str();
    }
    if (!m_bodyRead && RequestBody::announcesBody(request))
        response.setKeepAlive(false);  // its body stays unread
    send(response, status, json);
}

const OwnerApi::Route& OwnerApi::route(const std::string& method,
                                       Poco::Net::HTTPServerResponse& response) const {
    typedef OwnerApi A;
    static const Route routes[] = {
        {"session", false, &A::session},
        {"folders", false, &A::folders},
        {"foldersize", false, &A::folderSize},
        {"guests", false, &A::guests},
        {"guests/add", true, &A::addGuest},
        {"guests/password", true, &A::guestPassword},
        {"guests/remove", true, &A::removeGuest},
        {"mail", false, &A::mail},
        {"mail", true, &A::saveMail},
    };
    const bool post = method == "POST";
    const bool get = method == "GET" || method == "HEAD";
    std::string allowed;
    for (const Route& candidate : routes) {
        if (m_endpoint != candidate.endpoint)
            continue;
        if ((candidate.post && post) || (!candidate.post && get))
            return candidate;
        allowed +=
            std::string(allowed.empty() ? "" : ", ") + (candidate.post ? "POST" : "GET, HEAD");
    }
    if (allowed.empty())
        throw OwnerError(404, "There is no owner endpoint " + m_endpoint + ".");
    response.set("Allow", allowed);
    throw OwnerError(405, "This endpoint takes " + allowed + ".");
}

std::string OwnerApi::answer(Poco::Net::HTTPServerRequest& request,
                             Poco::Net::HTTPServerResponse& response) {
    const Route& found = route(request.getMethod(), response);
    Poco::Net::HTMLForm form;
    if (found.post) {
        readForm(request, form);
    } else {
        form.load(request);  // a GET's query string; there is no body to read
    }
    return (this->*found.handler)(form);
}

void OwnerApi::readForm(Poco::Net::HTTPServerRequest& request, Poco::Net::HTMLForm& form) {
    std::string body;
    try {
        body = RequestBody::read(request, kMaxForm);
    } catch (const BodyTooLarge&) {
        // Read what is left, so that the client sees the answer instead of
        // a reset connection.
        m_bodyRead = RequestBody::discard(request, 16 * RequestBody::kMaxBytes);
        throw OwnerError(413, "The form is too large.");
    }
    m_bodyRead = true;
    try {
        form.read(body);
    } catch (const Poco::Exception&) {
        throw OwnerError(400, "The form could not be read.");
    }
}

void OwnerApi::send(Poco::Net::HTTPServerResponse& response, int status, const std::string& json) {
    ResponseBody::send(response, status, "application/json; charset=utf-8", "no-store", json);
}

std::string OwnerApi::session(const Poco::Net::HTMLForm&) {
    return OwnerJson().field("owner", true).str();
}

std::string OwnerApi::folders(const Poco::Net::HTMLForm& form) {
    return OwnerFolders::list(form.get("path", ""));
}

std::string OwnerApi::folderSize(const Poco::Net::HTMLForm& form) {
    return OwnerFolders::size(form.get("path", ""));
}

std::string OwnerApi::guests(const Poco::Net::HTMLForm&) {
    return OwnerGuests(m_context.sessions).list();
}

std::string OwnerApi::addGuest(const Poco::Net::HTMLForm& form) {
    return OwnerGuests(m_context.sessions).add(form);
}

std::string OwnerApi::guestPassword(const Poco::Net::HTMLForm& form) {
    return OwnerGuests(m_context.sessions).setPassword(form);
}

std::string OwnerApi::removeGuest(const Poco::Net::HTMLForm& form) {
    return OwnerGuests(m_context.sessions).remove(form);
}

std::string OwnerApi::mail(const Poco::Net::HTMLForm&) {
    return OwnerMailSettings::read();
}

std::string OwnerApi::saveMail(const Poco::Net::HTMLForm& form) {
    return OwnerMailSettings::save(form);
}

}  // namespace Host
}  // namespace Orvane
