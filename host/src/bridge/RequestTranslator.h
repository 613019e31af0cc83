// Turns an HTTP request below /app/<plugin>/ into the message the plug-in
// receives: operation, authentication levels (source web front, location 0,
// role from the request's identity), the client's address, the
// "HTTPRequest" fields, a fresh token and the raw body. Stateless,
// thread-safe.
#pragma once

#include <Poco/Net/HTTPServerRequest.h>
#include <boost/shared_ptr.hpp>

#include <string>

#include "auth/Authenticator.h"
#include "orvane/Message.h"

namespace Orvane {
namespace Host {

struct RequestParts {
    std::string plugin;     // the service the message goes to
    std::string operation;  // decoded path below /app/<plugin>/
    std::string rawPath;    // as the client sent it (made URL-safe)
    std::string query;      // raw query string
    std::string body;
    bool hasBody = false;
};

class RequestTranslator {
public:
    static boost::shared_ptr<Data::Message> build(const Poco::Net::HTTPServerRequest& request,
                                                  const RequestParts& parts,
                                                  const Identity& identity);
    static std::string newToken();
    static bool isWebDAVMethod(const std::string& method);
};

}  // namespace Host
}  // namespace Orvane
