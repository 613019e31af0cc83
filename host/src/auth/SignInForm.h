// Shared pieces of the host's sign-in forms: reading the posted form,
// Set-Cookie texts (HttpOnly, Path=/, a SameSite policy, Secure under TLS),
// the redirect after a sign-in and its safe "next" target. Stateless,
// thread-safe.
#pragma once

#include <Poco/Net/HTMLForm.h>
#include <Poco/Net/HTTPServerRequest.h>
#include <Poco/Net/HTTPServerResponse.h>

#include <string>

namespace Orvane {
namespace Host {

class SignInForm {
public:
    // False (after answering 405 or 413) when the request is not a small POST.
    static bool read(Poco::Net::HTTPServerRequest& request, Poco::Net::HTTPServerResponse& response,
                     Poco::Net::HTMLForm& form);
    // `secure`: the request came over TLS (ours or the trusted proxy's), so
    // the cookie must never travel in clear.
    static std::string cookie(const std::string& name, const std::string& value,
                              const std::string& sameSite, bool secure);
    static std::string expiredCookie(const std::string& name, const std::string& sameSite,
                                     bool secure);
    // 303 to the form's "next" when it is a local path, else to `fallback`.
    static void redirect(Poco::Net::HTTPServerResponse& response, const Poco::Net::HTMLForm& form,
                         const std::string& fallback);
    static void refuse(Poco::Net::HTTPServerResponse& response, int status,
                       const std::string& message, const std::string& backTo);
};

}  // namespace Host
}  // namespace Orvane
