// The owner console's host endpoints below /ui/owner/api/: what the
// plug-in's operations do not cover. Every answer is JSON
// (application/json; charset=utf-8, Cache-Control: no-store); a failure is
// {"error":"sentence"} with its status.
//
//   GET  session             {"owner":true}: the caller is signed in
//   GET  folders?path=P      sub-folders of P (OwnerFolders::list)
//   GET  foldersize?path=P   bytes below P (OwnerFolders::size)
//   GET  guests              the host's guest users (OwnerGuests::list)
//   POST guests/add          name, password   (OwnerGuests::add)
//   POST guests/password     name, password   (OwnerGuests::setPassword)
//   POST guests/remove       name             (OwnerGuests::remove)
//   GET  mail                mail server settings (OwnerMailSettings::read)
//   POST mail                host, port, user, password, from, starttls
//
// POST bodies are application/x-www-form-urlencoded (at most 64 KiB).
// Who may call: the owner's token ("Authorization: Bearer") or the
// `orvane_owner` session cookie, else 401. A request a browser marks as
// coming from another site is refused with 403 before anything else: a
// "Sec-Fetch-Site" other than "same-origin" or "none", or an "Origin" that
// is not this host's own (a request without either header, such as curl's,
// is judged by its token alone). A state change needs POST (405 otherwise).
// One object per request.
#pragma once

#include <Poco/Net/HTMLForm.h>
#include <Poco/Net/HTTPRequestHandler.h>

#include <string>

#include "front/FrontContext.h"

namespace Orvane {
namespace Host {

class OwnerApi : public Poco::Net::HTTPRequestHandler {
public:
    // endpoint: the path below /ui/owner/api/, decoded.
    OwnerApi(FrontContext& context, const std::string& endpoint);

    void handleRequest(Poco::Net::HTTPServerRequest& request,
                       Poco::Net::HTTPServerResponse& response) override;

private:
    typedef std::string (OwnerApi::*Handler)(const Poco::Net::HTMLForm& form);
    struct Route {
        const char* endpoint;
        bool post;
        Handler handler;
    };

    // The answer of the endpoint; throws OwnerError.
    std::string answer(Poco::Net::HTTPServerRequest& request,
                       Poco::Net::HTTPServerResponse& response);
    const Route& route(const std::string& method, Poco::Net::HTTPServerResponse& response) const;
    void readForm(Poco::Net::HTTPServerRequest& request, Poco::Net::HTMLForm& form);
    static void send(Poco::Net::HTTPServerResponse& response, int status, const std::string& json);

    std::string session(const Poco::Net::HTMLForm& form);
    std::string folders(const Poco::Net::HTMLForm& form);
    std::string folderSize(const Poco::Net::HTMLForm& form);
    std::string guests(const Poco::Net::HTMLForm& form);
    std::string addGuest(const Poco::Net::HTMLForm& form);
    std::string guestPassword(const Poco::Net::HTMLForm& form);
    std::string removeGuest(const Poco::Net::HTMLForm& form);
    std::string mail(const Poco::Net::HTMLForm& form);
    std::string saveMail(const Poco::Net::HTMLForm& form);

    FrontContext& m_context;
    std::string m_endpoint;
    bool m_bodyRead = false;
};

}  // namespace Host
}  // namespace Orvane
