// The host's own short answers (400, 403, 404, 413, 429, 504, ...): a small
// HTML page, never a stack trace. Thread-safe.
#pragma once

#include <Poco/Net/HTTPServerRequest.h>
#include <Poco/Net/HTTPServerResponse.h>

#include <string>

namespace Orvane {
namespace Host {

class HttpErrors {
public:
    // Status line, a plain page naming the status and `detail` (escaped).
    static void send(Poco::Net::HTTPServerResponse& response, int status,
                     const std::string& detail = "");
    static std::string reason(int status);
    // False (after answering 405) when the request is neither GET nor HEAD.
    static bool readOnly(const Poco::Net::HTTPServerRequest& request,
                         Poco::Net::HTTPServerResponse& response);
};

}  // namespace Host
}  // namespace Orvane
