// Sends an answer whose body is held in memory, as the host's own pages,
// error pages and JSON answers are: status, type, cache policy, nosniff (the
// type is to be taken as given) and the length. Used on the request's own
// thread.
#pragma once

#include <Poco/Net/HTTPServerResponse.h>

#include <string>

namespace Orvane {
namespace Host {

class ResponseBody {
public:
    static void send(Poco::Net::HTTPServerResponse& response, int status,
                     const std::string& contentType, const std::string& cacheControl,
                     const std::string& body);
};

}  // namespace Host
}  // namespace Orvane
